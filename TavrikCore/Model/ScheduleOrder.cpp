#include "TavrikCore/Model/ScheduleOrder.hpp"

#include <algorithm>
#include <utility>

namespace tavrik {

void sortIntoScheduleOrder(std::vector<ScheduledRoutine>& schedules, const Clock& clock)
{
    // The one-time moment needs calendar work, so it is read once per schedule.
    std::vector<std::pair<Moment, ScheduledRoutine*>> keyed;
    keyed.reserve(schedules.size());
    for (ScheduledRoutine& schedule : schedules) {
        keyed.emplace_back(schedule.isOneTime() ? schedule.oneTimeDate(clock) : Moment {}, &schedule);
    }
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto& lhs, const auto& rhs) {
        const ScheduledRoutine& a = *lhs.second;
        const ScheduledRoutine& b = *rhs.second;
        if (a.isOneTime() != b.isOneTime()) {
            return a.isOneTime();
        }
        if (a.isOneTime()) {
            return lhs.first < rhs.first;
        }
        return a.hour != b.hour ? a.hour < b.hour : a.minute < b.minute;
    });
    std::vector<ScheduledRoutine> sorted;
    sorted.reserve(schedules.size());
    for (const auto& entry : keyed) {
        sorted.push_back(std::move(*entry.second));
    }
    schedules = std::move(sorted);
}

} // namespace tavrik
