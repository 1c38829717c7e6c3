#include "tests/support/ScheduleRecords.hpp"

namespace tavrik::test {

ScheduledRoutine recurringSchedule(
    std::uint32_t id, std::uint32_t routineId, std::int64_t hour, std::int64_t minute, std::int64_t days, bool enabled)
{
    ScheduledRoutine schedule;
    schedule.id = id;
    schedule.routineId = routineId;
    schedule.hour = hour;
    schedule.minute = minute;
    schedule.days = days;
    schedule.enabled = enabled;
    schedule.type = "recurring";
    return schedule;
}

ScheduledRoutine oneTimeSchedule(std::uint32_t id, std::uint32_t routineId)
{
    ScheduledRoutine schedule = recurringSchedule(id, routineId, 7, 45, 0);
    schedule.type = "single";
    schedule.year = 2026;
    schedule.month = 1;
    schedule.day = 5;
    return schedule;
}

} // namespace tavrik::test
