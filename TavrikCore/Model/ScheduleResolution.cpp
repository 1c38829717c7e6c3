#include "TavrikCore/Model/ScheduleResolution.hpp"

#include "TavrikCore/Model/SyncImportError.hpp"
#include "TavrikCore/Support/Text.hpp"

#include <string>
#include <unordered_map>

namespace tavrik {

namespace {

bool isBlank(const ScheduledRoutine& schedule)
{
    return schedule.id == 0 && schedule.routineId == 0 && schedule.hour == 0 && schedule.minute == 0
        && schedule.days == 0 && !schedule.enabled && !schedule.type && schedule.lastRun.value_or(0) == 0
        && !schedule.runAt;
}

} // namespace

std::vector<ScheduledRoutine> schedulesResolvedForBackup(
    const std::vector<ScheduledRoutine>& schedules, const std::vector<RoutineSummary>& routines)
{
    std::unordered_map<std::uint32_t, std::string> labels;
    for (const RoutineSummary& routine : routines) {
        labels.insert_or_assign(routine.id, routine.label);
    }
    std::vector<ScheduledRoutine> resolved;
    resolved.reserve(schedules.size());
    for (const ScheduledRoutine& schedule : schedules) {
        if (isBlank(schedule)) {
            continue;
        }
        std::string labelPart;
        if (schedule.label) {
            if (const std::string label = text::trimmed(*schedule.label); !label.empty()) {
                labelPart = " label=" + label;
            }
        }
        const std::string scheduleText = "Schedule " + std::to_string(schedule.id) + labelPart;
        const auto label = labels.find(schedule.routineId);
        if (schedule.routineId == 0 || label == labels.end()) {
            throw SyncImportError(scheduleText + " does not reference a routine in this export");
        }
        if (schedule.id == 0) {
            throw SyncImportError(scheduleText + " does not have a valid schedule id");
        }
        ScheduledRoutine kept = schedule;
        kept.label = label->second;
        resolved.push_back(std::move(kept));
    }
    return resolved;
}

} // namespace tavrik
