#include "TavrikCore/Routine/RoutineTagReferences.hpp"

#include "TavrikCore/Model/SyncImportError.hpp"
#include "TavrikCore/Support/Text.hpp"

#include <limits>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace tavrik {

std::optional<std::uint32_t> routineTagIdReference(std::string_view text)
{
    const std::string trimmed = text::trimmed(text, text::TrimSet::whitespacesAndNewlines);
    std::string_view digits = trimmed;
    if (!digits.empty() && digits.front() == '+') {
        digits.remove_prefix(1);
    }
    if (digits.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char character : digits) {
        if (character < '0' || character > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint64_t>(character - '0');
        if (value > std::numeric_limits<std::uint32_t>::max()) {
            return std::nullopt;
        }
    }
    return static_cast<std::uint32_t>(value);
}

void validateRoutineTagReferences(const std::map<std::uint32_t, RoutineDetailModel>& stored,
    const std::vector<RoutineDetailModel>& details, const std::vector<TagInfo>& tags)
{
    std::unordered_set<std::uint32_t> tagIds;
    tagIds.reserve(tags.size());
    for (const TagInfo& tag : tags) {
        tagIds.insert(tag.id);
    }

    std::map<std::uint32_t, const RoutineDetailModel*> routines;
    for (const auto& [id, detail] : stored) {
        routines[id] = &detail;
    }
    for (const RoutineDetailModel& detail : details) {
        routines[detail.id] = &detail;
    }

    std::unordered_map<std::uint32_t, std::uint32_t> startTagOwners;
    for (const auto& [routineId, detail] : routines) {
        const std::string routineText = "Routine " + std::to_string(routineId);
        for (std::size_t index = 0; index < detail->steps.size(); ++index) {
            const std::string stepText = routineText + " step " + std::to_string(index + 1);
            const std::optional<std::uint32_t> tagId = routineTagIdReference(detail->steps[index].tagId);
            if (!tagId || *tagId == 0) {
                throw SyncImportError(stepText + " must reference a numeric tag id");
            }
            if (!tagIds.contains(*tagId)) {
                throw SyncImportError(stepText + " references missing tag id " + std::to_string(*tagId));
            }
        }

        std::unordered_set<std::uint32_t> startTags;
        for (const std::uint32_t tagId : detail->startTagIds) {
            if (tagId == 0 || !startTags.insert(tagId).second) {
                throw SyncImportError(routineText + " contains repeated or invalid start tags");
            }
        }
        for (const std::uint32_t tagId : detail->startTagIds) {
            if (!tagIds.contains(tagId)) {
                throw SyncImportError(routineText + " references missing start tag id " + std::to_string(tagId));
            }
            const auto [owner, inserted] = startTagOwners.emplace(tagId, routineId);
            if (!inserted && owner->second != routineId) {
                throw SyncImportError("Start tag id " + std::to_string(tagId) + " is assigned to routines "
                    + std::to_string(owner->second) + " and " + std::to_string(routineId));
            }
        }
    }
}

} // namespace tavrik
