#include "TavrikCore/Model/RoutineTagReferences.hpp"

#include "TavrikCore/Model/SyncImportError.hpp"
#include "TavrikCore/Model/TagReference.hpp"
#include "TavrikCore/Support/Text.hpp"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace tavrik {

namespace {

std::string routineText(std::uint32_t routineId)
{
    return "Routine " + std::to_string(routineId);
}

// The rules a routine keeps on its own: its steps name saved tags, its start tags are listed once.
void checkStepsAndRepeats(
    std::uint32_t routineId, const RoutineDetailModel& routine, const std::unordered_set<std::uint32_t>& tagIds)
{
    std::size_t number = 0;
    for (const RoutineStepModel& step : routine.steps) {
        ++number;
        const std::optional<std::uint32_t> tagId = tagIdFromReference(text::trimmed(step.tagId));
        if (!tagId || *tagId == 0) {
            throw SyncImportError(
                routineText(routineId) + " step " + std::to_string(number) + " must reference a numeric tag id");
        }
        if (!tagIds.contains(*tagId)) {
            throw SyncImportError(routineText(routineId) + " step " + std::to_string(number)
                + " references missing tag id " + std::to_string(*tagId));
        }
    }
    std::unordered_set<std::uint32_t> listed;
    for (const std::uint32_t tagId : routine.startTagIds) {
        if (tagId == 0 || !listed.insert(tagId).second) {
            throw SyncImportError(routineText(routineId) + " contains repeated or invalid start tags");
        }
    }
}

[[noreturn]] void throwSharedStartTag(std::uint32_t tagId, std::uint32_t owner, std::uint32_t routineId)
{
    throw SyncImportError("Start tag id " + std::to_string(tagId) + " is assigned to routines " + std::to_string(owner)
        + " and " + std::to_string(routineId));
}

std::unordered_set<std::uint32_t> idsOf(const std::vector<TagInfo>& tags)
{
    std::unordered_set<std::uint32_t> tagIds;
    for (const TagInfo& tag : tags) {
        tagIds.insert(tag.id);
    }
    return tagIds;
}

bool lists(const std::vector<std::uint32_t>& ids, std::uint32_t id)
{
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

} // namespace

void checkRoutineTagReferences(
    const std::vector<TagInfo>& tags, const std::map<std::uint32_t, RoutineDetailModel>& routines)
{
    const std::unordered_set<std::uint32_t> tagIds = idsOf(tags);
    std::unordered_map<std::uint32_t, std::uint32_t> startTagOwners;
    for (const auto& [routineId, routine] : routines) {
        checkStepsAndRepeats(routineId, routine, tagIds);
        for (const std::uint32_t tagId : routine.startTagIds) {
            if (!tagIds.contains(tagId)) {
                throw SyncImportError(
                    routineText(routineId) + " references missing start tag id " + std::to_string(tagId));
            }
            const auto [owner, added] = startTagOwners.try_emplace(tagId, routineId);
            if (!added && owner->second != routineId) {
                throwSharedStartTag(tagId, owner->second, routineId);
            }
        }
    }
}

void checkRoutineTagReferencesWithOneReplaced(const std::vector<TagInfo>& tags,
    const std::map<std::uint32_t, RoutineDetailModel>& routines, const RoutineDetailModel& replacement)
{
    const std::unordered_set<std::uint32_t> tagIds = idsOf(tags);
    const std::uint32_t replacedId = replacement.id;
    // The routines before it pass, so the first fault is its own or a start tag it shares.
    checkStepsAndRepeats(replacedId, replacement, tagIds);
    for (const std::uint32_t tagId : replacement.startTagIds) {
        if (!tagIds.contains(tagId)) {
            throw SyncImportError(routineText(replacedId) + " references missing start tag id " + std::to_string(tagId));
        }
        for (auto other = routines.begin(); other != routines.end() && other->first < replacedId; ++other) {
            if (lists(other->second.startTagIds, tagId)) {
                throwSharedStartTag(tagId, other->first, replacedId);
            }
        }
    }
    // A later routine is found holding one of its start tags when that routine's turn comes.
    if (replacement.startTagIds.empty()) {
        return;
    }
    for (auto other = routines.upper_bound(replacedId); other != routines.end(); ++other) {
        for (const std::uint32_t tagId : other->second.startTagIds) {
            if (lists(replacement.startTagIds, tagId)) {
                throwSharedStartTag(tagId, replacedId, other->first);
            }
        }
    }
}

} // namespace tavrik
