#include "TavrikCore/Model/RoutineTagReferences.hpp"

#include "TavrikCore/Model/SyncImportError.hpp"
#include "TavrikCore/Model/TagReference.hpp"
#include "TavrikCore/Support/Text.hpp"

#include <string>
#include <unordered_map>
#include <unordered_set>

namespace tavrik {

void checkRoutineTagReferences(
    const std::vector<TagInfo>& tags, const std::map<std::uint32_t, RoutineDetailModel>& routines)
{
    std::unordered_set<std::uint32_t> tagIds;
    for (const TagInfo& tag : tags) {
        tagIds.insert(tag.id);
    }
    std::unordered_map<std::uint32_t, std::uint32_t> startTagOwners;
    for (const auto& [routineId, routine] : routines) {
        const std::string routineText = "Routine " + std::to_string(routineId);
        std::size_t number = 0;
        for (const RoutineStepModel& step : routine.steps) {
            ++number;
            const std::optional<std::uint32_t> tagId = tagIdFromReference(text::trimmed(step.tagId));
            if (!tagId || *tagId == 0) {
                throw SyncImportError(
                    routineText + " step " + std::to_string(number) + " must reference a numeric tag id");
            }
            if (!tagIds.contains(*tagId)) {
                throw SyncImportError(routineText + " step " + std::to_string(number) + " references missing tag id "
                    + std::to_string(*tagId));
            }
        }
        std::unordered_set<std::uint32_t> listed;
        for (const std::uint32_t tagId : routine.startTagIds) {
            if (tagId == 0 || !listed.insert(tagId).second) {
                throw SyncImportError(routineText + " contains repeated or invalid start tags");
            }
        }
        for (const std::uint32_t tagId : routine.startTagIds) {
            if (!tagIds.contains(tagId)) {
                throw SyncImportError(routineText + " references missing start tag id " + std::to_string(tagId));
            }
            const auto [owner, added] = startTagOwners.try_emplace(tagId, routineId);
            if (!added && owner->second != routineId) {
                throw SyncImportError("Start tag id " + std::to_string(tagId) + " is assigned to routines "
                    + std::to_string(owner->second) + " and " + std::to_string(routineId));
            }
        }
    }
}

} // namespace tavrik
