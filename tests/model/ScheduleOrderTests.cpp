#include "TavrikCore/Model/ScheduleCalendar.hpp"
#include "tests/support/ManualClock.hpp"

#include <gtest/gtest.h>

namespace tavrik::test {
namespace {

ScheduledRoutine recurring(std::uint32_t id, std::int64_t hour, std::int64_t minute)
{
    ScheduledRoutine schedule;
    schedule.id = id;
    schedule.routineId = 1;
    schedule.hour = hour;
    schedule.minute = minute;
    schedule.days = 127;
    schedule.enabled = true;
    return schedule;
}

ScheduledRoutine once(std::uint32_t id, std::int64_t year, std::int64_t month, std::int64_t day, std::int64_t hour)
{
    ScheduledRoutine schedule = recurring(id, hour, 0);
    schedule.type = "single";
    schedule.days = 128;
    schedule.year = year;
    schedule.month = month;
    schedule.day = day;
    return schedule;
}

std::vector<std::uint32_t> ids(const std::vector<ScheduledRoutine>& schedules)
{
    std::vector<std::uint32_t> result;
    for (const ScheduledRoutine& schedule : schedules) {
        result.push_back(schedule.id);
    }
    return result;
}

TEST(ScheduleOrder, OneTimeFirstByMomentThenRecurringByTime)
{
    ManualClock clock;
    std::vector<ScheduledRoutine> schedules { recurring(1, 9, 30), once(2, 2027, 1, 2, 8), recurring(3, 7, 45),
        recurring(4, 9, 5), once(5, 2026, 12, 31, 23), recurring(6, 7, 45), once(7, 2027, 1, 2, 8) };
    // A schedule that is one-time only by its day mask counts as one-time.
    ScheduledRoutine masked = once(8, 2026, 12, 31, 22);
    masked.type.reset();
    schedules.push_back(masked);
    sortIntoScheduleOrder(schedules, clock);
    EXPECT_EQ(ids(schedules), (std::vector<std::uint32_t> { 8, 5, 2, 7, 3, 6, 4, 1 }));
}

} // namespace
} // namespace tavrik::test
