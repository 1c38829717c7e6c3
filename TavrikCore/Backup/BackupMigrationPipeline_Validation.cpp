#include "TavrikCore/Backup/BackupMigrationPipeline.hpp"

#include "TavrikCore/Model/RoutineGroupMode.hpp"

#include <charconv>
#include <optional>
#include <unordered_map>
#include <unordered_set>

namespace tavrik {

namespace {

using IdSet = std::unordered_set<std::uint32_t>;

[[noreturn]] void refuse(const std::string& message)
{
    throw BackupMigrationError::invalid(message);
}

template <class Records>
bool hasValidUniqueIds(const Records& records, IdSet& ids)
{
    ids.reserve(records.size());
    for (const auto& record : records) {
        if (record.id == 0 || !ids.insert(record.id).second) {
            return false;
        }
    }
    return true;
}

// A step names its tag by the tag's id in plain decimal digits.
std::optional<std::uint32_t> tagReference(const std::string& text)
{
    std::uint32_t value = 0;
    const char* end = text.data() + text.size();
    if (text.empty() || text.front() < '0' || text.front() > '9') {
        return std::nullopt;
    }
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end) {
        return std::nullopt;
    }
    return value;
}

std::string routineText(std::uint32_t routineId)
{
    return "Routine " + std::to_string(routineId);
}

void validateRoutine(const RoutinePayload& routine, const IdSet& tagIds,
    std::unordered_map<std::uint32_t, std::uint32_t>& startTagHolders)
{
    IdSet groupIds;
    if (!hasValidUniqueIds(routine.groups, groupIds)) {
        refuse(routineText(routine.id) + " contains invalid or repeated group ids");
    }
    for (const RoutineGroupPayload& group : routine.groups) {
        if (!validTimeLimit(group.mode, group.timeLimitSeconds)) {
            refuse("Group " + std::to_string(group.id) + " has an invalid time limit for "
                + std::string(rawValue(group.mode)) + " mode");
        }
    }

    IdSet nodeIds = groupIds;
    nodeIds.reserve(groupIds.size() + routine.steps.size());
    for (std::size_t index = 0; index < routine.steps.size(); ++index) {
        const RoutineStepPayload& step = routine.steps[index];
        // Only a refusal names the step, so its text is not built for every step that passes.
        const auto stepText = [&] { return routineText(routine.id) + " step " + std::to_string(index + 1); };
        if (step.id == 0 || !nodeIds.insert(step.id).second) {
            refuse(routineText(routine.id) + " contains an invalid or repeated node id");
        }
        const std::optional<std::uint32_t> tagId = tagReference(step.tagId);
        if (!tagId || !tagIds.contains(*tagId)) {
            refuse(stepText() + " references a missing tag");
        }
        if (step.parentId != 0 && !groupIds.contains(step.parentId)) {
            refuse(stepText() + " references a missing group");
        }
    }

    IdSet startTagIds;
    for (const std::uint32_t tagId : routine.startTagIds) {
        if (tagId == 0 || !startTagIds.insert(tagId).second) {
            refuse(routineText(routine.id) + " contains invalid or repeated start tag ids");
        }
    }
    // Every start tag must exist before any is checked for another holder.
    for (const std::uint32_t tagId : routine.startTagIds) {
        if (!tagIds.contains(tagId)) {
            refuse(routineText(routine.id) + " references missing start tag id " + std::to_string(tagId));
        }
    }
    for (const std::uint32_t tagId : routine.startTagIds) {
        const auto [holder, inserted] = startTagHolders.emplace(tagId, routine.id);
        if (!inserted) {
            refuse("Start tag id " + std::to_string(tagId) + " is assigned to routines "
                + std::to_string(holder->second) + " and " + std::to_string(routine.id));
        }
    }
}

} // namespace

void BackupMigrationPipeline::validateCurrentEnvelope(const SyncDataEnvelope& envelope)
{
    if (envelope.type != "sync_data") {
        refuse("Backup is not Tavrik sync data");
    }
    if (envelope.dataVersion != rawValue(currentBackupSchemaVersion)) {
        refuse("Backup migration pipeline is not aligned with the current schema");
    }
    if (envelope.storeSnapshot) {
        envelope.storeSnapshot->validateForImport();
    }

    IdSet tagIds;
    if (!hasValidUniqueIds(envelope.tags, tagIds)) {
        refuse("Backup contains invalid or repeated tag ids");
    }
    IdSet routineIds;
    if (!hasValidUniqueIds(envelope.routines, routineIds)) {
        refuse("Backup contains invalid or repeated routine ids");
    }
    IdSet scheduleIds;
    if (!hasValidUniqueIds(envelope.schedules, scheduleIds)) {
        refuse("Backup contains invalid or repeated schedule ids");
    }
    for (const ScheduledRoutine& schedule : envelope.schedules) {
        if (!routineIds.contains(schedule.routineId)) {
            refuse("Schedule " + std::to_string(schedule.id) + " references missing routine id "
                + std::to_string(schedule.routineId));
        }
    }

    std::unordered_map<std::uint32_t, std::uint32_t> startTagHolders;
    for (const RoutinePayload& routine : envelope.routines) {
        validateRoutine(routine, tagIds, startTagHolders);
    }
}

} // namespace tavrik
