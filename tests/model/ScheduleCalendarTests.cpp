#include "TavrikCore/Model/ScheduleCalendar.hpp"

#include "tests/support/ManualClock.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace tavrik {
namespace {

using namespace std::chrono_literals;

class ScheduleCalendarTest : public ::testing::Test {
protected:
    ScheduleCalendarTest()
    {
        clock.zone = "Europe/Amsterdam";
        clock.locale = "en_US";
    }

    static Moment utc(std::int64_t secondsSince1970) { return Moment(std::chrono::seconds(secondsSince1970)); }

    static ScheduledRoutine recurring(std::uint32_t id, std::int64_t hour, std::int64_t minute)
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

    static ScheduledRoutine oneTime(std::uint32_t id, std::int64_t year, std::int64_t month, std::int64_t day,
        std::int64_t hour, std::int64_t minute)
    {
        ScheduledRoutine schedule = recurring(id, hour, minute);
        schedule.type = "single";
        schedule.days = 0;
        schedule.year = year;
        schedule.month = month;
        schedule.day = day;
        return schedule;
    }

    test::ManualClock clock;
};

TEST_F(ScheduleCalendarTest, DaysMaskSetsOneBitPerWeekday)
{
    struct Case {
        std::set<int> days;
        std::int64_t mask;
    };
    const Case cases[] = {
        { {}, 0 },
        { { 1, 2, 3, 4, 5 }, 62 },
        { { 0, 6 }, 65 },
        { { 0, 1, 2, 3, 4, 5, 6 }, 127 },
        { { -1, 3, 64 }, 8 },
        { { 63 }, std::numeric_limits<std::int64_t>::min() },
    };
    for (const Case& item : cases) {
        EXPECT_EQ(daysMask(item.days), item.mask);
    }
}

TEST_F(ScheduleCalendarTest, WallClockTextFollowsTheClocksZone)
{
    // 2025-06-15 15:06:40 UTC.
    const Moment moment = utc(1'750'000'000);
    struct Case {
        std::string zone;
        std::string startsAt;
        ScheduleDateParts parts;
    };
    const Case cases[] = {
        { "UTC", "2025-06-15T15:06", { 2025, 6, 15, 15, 6 } },
        { "Europe/Amsterdam", "2025-06-15T17:06", { 2025, 6, 15, 17, 6 } },
        { "America/Los_Angeles", "2025-06-15T08:06", { 2025, 6, 15, 8, 6 } },
        { "Pacific/Kiritimati", "2025-06-16T05:06", { 2025, 6, 16, 5, 6 } },
    };
    for (const Case& item : cases) {
        clock.zone = item.zone;
        EXPECT_EQ(startsAtArgument(moment, clock), item.startsAt) << item.zone;
        EXPECT_EQ(scheduleDateParts(moment, clock), item.parts) << item.zone;
    }
}

TEST_F(ScheduleCalendarTest, RunAtCountsWholeMinutesOfTheDayAtTheGivenTime)
{
    // Any moment of 2025-06-15 in Amsterdam; 08:30 there is 06:30 UTC.
    EXPECT_EQ(scheduleRunAtMinute(utc(1'750'000'000), 8, 30, clock), 29'166'150);

    // Before 1970 counts as 0, never as a negative or wrapped number.
    clock.zone = "UTC";
    EXPECT_EQ(scheduleRunAtMinute(utc(-86'400), 23, 59, clock), 0);

    // Past 32 bits the count is given as it is, for the caller to refuse.
    const Moment farAhead = Moment(std::chrono::minutes(std::int64_t { 4'294'967'296 }));
    EXPECT_EQ(scheduleRunAtMinute(
                  farAhead, scheduleDateParts(farAhead, clock).hour, scheduleDateParts(farAhead, clock).minute, clock),
        4'294'967'296);

    // A time the calendar cannot form gives nothing.
    EXPECT_EQ(scheduleRunAtMinute(utc(0), std::numeric_limits<std::int64_t>::max(), 0, clock), std::nullopt);
}

TEST_F(ScheduleCalendarTest, ScheduleDateKeepsTheOneTimeDayAcrossAClockChange)
{
    // 2025-03-30 is the spring-forward day in Amsterdam: 09:00 is UTC+2 there.
    const ScheduledRoutine schedule = oneTime(1, 2025, 3, 30, 9, 0);
    EXPECT_EQ(scheduleDate(schedule, 22, 15, clock), utc(1'743'365'700));
    EXPECT_EQ(scheduleDate(schedule, 9, 0, clock), utc(1'743'318'000));
}

TEST_F(ScheduleCalendarTest, ScheduleOrderPutsOneTimeFirstByDateThenRecurringByTime)
{
    std::vector<ScheduledRoutine> schedules {
        recurring(1, 8, 5),
        oneTime(2, 2026, 2, 1, 6, 0),
        recurring(3, 7, 30),
        oneTime(4, 2026, 1, 5, 23, 0),
        recurring(5, 8, 5),
        recurring(6, 7, 45),
    };
    // A one-time schedule marked only by its days.
    ScheduledRoutine marked = recurring(7, 0, 0);
    marked.days = 128;
    marked.runAt = 1; // 1970-01-01 00:01 UTC
    schedules.push_back(marked);

    sortIntoScheduleOrder(schedules, clock);
    std::vector<std::uint32_t> ids;
    for (const ScheduledRoutine& schedule : schedules) {
        ids.push_back(schedule.id);
    }
    // Equal times (1 and 5) keep their order.
    EXPECT_EQ(ids, (std::vector<std::uint32_t> { 7, 4, 2, 3, 6, 1, 5 }));
}

TEST_F(ScheduleCalendarTest, LabelOrderIgnoresCaseAndKeepsEqualLabelsInOrder)
{
    std::vector<ScheduleDefinition> routines {
        { 1, "banana" },
        { 2, "Apple" },
        { 3, "cherry" },
        { 4, "apple" },
        { 5, "\u00c9clair" },
        { 6, "Zebra" },
    };
    sortIntoLabelOrder(routines, clock);
    std::vector<std::uint32_t> ids;
    for (const ScheduleDefinition& routine : routines) {
        ids.push_back(routine.id);
    }
    // An accented capital sorts with its base letter, not after Z.
    EXPECT_EQ(ids, (std::vector<std::uint32_t> { 2, 4, 1, 3, 5, 6 }));
}

} // namespace
} // namespace tavrik
