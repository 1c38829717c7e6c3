#include "TavrikCore/Model/ScheduleModels.hpp"
#include "TavrikCore/Model/SyncSignature.hpp"

#include "tests/support/ManualClock.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <limits>

namespace tavrik {
namespace {

using namespace std::chrono_literals;

class ScheduleModelsTest : public ::testing::Test {
protected:
    ScheduleModelsTest()
    {
        // 2025-06-15 15:06:40 UTC, 17:06:40 in Amsterdam.
        clock.wallTime = std::chrono::system_clock::time_point(1'750'000'000s);
        clock.zone = "Europe/Amsterdam";
        clock.locale = "en_US";
    }

    static ScheduledRoutine schedule(
        std::int64_t hour, std::int64_t minute, std::int64_t days, bool enabled = true, std::uint32_t routineId = 1)
    {
        ScheduledRoutine result;
        result.routineId = routineId;
        result.hour = hour;
        result.minute = minute;
        result.days = days;
        result.enabled = enabled;
        return result;
    }

    static Moment utc(std::int64_t secondsSince1970) { return Moment(std::chrono::seconds(secondsSince1970)); }

    test::ManualClock clock;
};

TEST_F(ScheduleModelsTest, ReadsDefaultsForDaysAndEnabled)
{
    const ScheduledRoutine read = scheduledRoutineFromJson(parseJson(R"({"id":4,"routineId":7,"hour":8,"minute":5})"));
    EXPECT_EQ(read.days, 0);
    EXPECT_TRUE(read.enabled);
    EXPECT_EQ(read.label, std::nullopt);
    EXPECT_EQ(read.type, std::nullopt);
    EXPECT_EQ(read.daysDescription(clock), "Every day");
    EXPECT_EQ(read.daySet(), (std::set<int> { 0, 1, 2, 3, 4, 5, 6 }));
    EXPECT_EQ(read.timeText(), "08:05");
    EXPECT_EQ(read.routineName(), "Routine 7");
    EXPECT_EQ(dumpJson(toJson(read)), R"({"id":4,"routineId":7,"hour":8,"minute":5,"days":0,"enabled":1})");
}

TEST_F(ScheduleModelsTest, EnabledTravelsAsNumber)
{
    const std::pair<const char*, bool> cases[]
        = { { "0", false }, { "1", true }, { "5", true }, { "-1", true }, { "null", true } };
    for (const auto& [text, expected] : cases) {
        const ScheduledRoutine read = scheduledRoutineFromJson(
            parseJson(std::string(R"({"id":1,"routineId":2,"hour":3,"minute":4,"enabled":)") + text + "}"));
        EXPECT_EQ(read.enabled, expected) << text;
        EXPECT_EQ(toJson(read)["enabled"], expected ? 1 : 0) << text;
    }
}

TEST_F(ScheduleModelsTest, RefusesMissingOrMistypedFields)
{
    const char* cases[] = {
        R"({"routineId":2,"hour":3,"minute":4})",
        R"({"id":1,"hour":3,"minute":4})",
        R"({"id":1,"routineId":2,"minute":4})",
        R"({"id":1,"routineId":2,"hour":3})",
        R"({"id":-1,"routineId":2,"hour":3,"minute":4})",
        R"({"id":1,"routineId":2,"hour":3,"minute":4,"enabled":true})",
        R"({"id":1,"routineId":2,"hour":3,"minute":4,"days":"62"})",
        R"({"id":1,"routineId":2,"hour":3,"minute":4,"label":5})",
        R"({"id":1,"routineId":2,"hour":3,"minute":4,"lastRun":-5})",
        R"({"id":1,"routineId":2,"hour":3,"minute":4,"runAt":4294967296})",
        R"({"id":1,"routineId":2,"hour":3,"minute":4,"year":"2025"})",
        R"({"id":1,"routineId":2,"hour":"3","minute":4})",
    };
    for (const char* text : cases) {
        EXPECT_THROW(scheduledRoutineFromJson(parseJson(text)), JsonDecodeError) << text;
    }
}

TEST_F(ScheduleModelsTest, WritesEveryPresentFieldInOrder)
{
    const char* text = R"({"id":1,"routineId":2,"hour":23,"minute":59,"days":128,"enabled":0,"label":"Run","lastRun":10,)"
                       R"("type":"single","runAt":29165670,"year":2025,"month":6,"day":15})";
    const ScheduledRoutine read = scheduledRoutineFromJson(parseJson(text));
    EXPECT_EQ(dumpJson(toJson(read)), text);
    // Reading ignores key order and unknown keys.
    EXPECT_EQ(
        scheduledRoutineFromJson(parseJson(R"({"minute":59,"hour":23,"routineId":2,"id":1,"extra":[1],"enabled":1})")),
        (ScheduledRoutine { 1, 2, 23, 59, 0, true }));
}

TEST_F(ScheduleModelsTest, DaysDescriptionOfRecurringMasks)
{
    const std::pair<std::int64_t, const char*> cases[] = {
        { 0, "Every day" },
        { 127, "Every day" },
        { 62, "Weekdays" },
        { 65, "Weekend" },
        { 42, "Mon, Wed, Fri" },
        { 1, "Sun" },
        { 64, "Sat" },
        { 129, "Sun" },
        { 255, "Sun, Mon, Tue, Wed, Thu, Fri, Sat" },
        { 256, "(none)" },
        { 190, "Mon, Tue, Wed, Thu, Fri" },
    };
    for (const auto& [days, expected] : cases) {
        EXPECT_EQ(schedule(8, 0, days).daysDescription(clock), expected) << days;
    }
    EXPECT_EQ(schedule(8, 0, 129).daySet(), std::set<int> { 0 });
    EXPECT_TRUE(schedule(8, 0, 256).daySet().empty());
    EXPECT_EQ(schedule(8, 0, 42).daySet(), (std::set<int> { 1, 3, 5 }));
}

TEST_F(ScheduleModelsTest, OneTimeMarksAndUnknownTypes)
{
    ScheduledRoutine byMask = schedule(8, 0, 128);
    EXPECT_TRUE(byMask.isOneTime());
    EXPECT_TRUE(byMask.daySet().empty());

    ScheduledRoutine byType = schedule(8, 0, 62);
    byType.type = "single";
    EXPECT_TRUE(byType.isOneTime());
    EXPECT_TRUE(byType.daySet().empty());
    EXPECT_EQ(byType.daysDescription(clock), "Jun 15, 2025");

    ScheduledRoutine other = schedule(8, 0, 62);
    other.type = "weekly";
    EXPECT_FALSE(other.isOneTime());
    EXPECT_EQ(other.daySet(), (std::set<int> { 1, 2, 3, 4, 5 }));
    EXPECT_EQ(other.daysDescription(clock), "Weekdays");
    EXPECT_EQ(scheduledRoutineFromJson(toJson(other)).type, "weekly");
    EXPECT_EQ(scheduleKindFromRawValue("weekly"), std::nullopt);

    ScheduledRoutine recurring = schedule(8, 0, 128);
    recurring.type = "recurring";
    EXPECT_TRUE(recurring.isOneTime());
}

TEST_F(ScheduleModelsTest, OneTimeDateUsesCalendarDateInUserZone)
{
    ScheduledRoutine once = schedule(8, 30, 128);
    once.year = 2025;
    once.month = 3;
    once.day = 9;
    once.runAt = 29165670;
    // 08:30 in Amsterdam in winter is 07:30 UTC.
    EXPECT_EQ(once.oneTimeDate(clock), utc(1741505400));
    EXPECT_EQ(once.daysDescription(clock), "Mar 9, 2025");

    // New York switched to summer time earlier that morning: 08:30 is 12:30 UTC.
    clock.zone = "America/New_York";
    EXPECT_EQ(once.oneTimeDate(clock), utc(1741505400 + 5 * 3600));

    clock.locale = "de_DE";
    EXPECT_EQ(once.daysDescription(clock), "09.03.2025");
}

TEST_F(ScheduleModelsTest, OneTimeDateFallsBackToRunAtThenLastRunThenNow)
{
    const Moment now = currentMoment(clock);
    struct Case {
        const char* name;
        std::optional<std::int64_t> year, month, day;
        std::optional<std::uint32_t> runAt, lastRun;
        Moment expected;
    };
    const Case cases[] = {
        { "date incomplete", 2025, std::nullopt, 9, 29165670, 10, utc(29165670LL * 60) },
        { "year beyond calendar", std::numeric_limits<std::int64_t>::max(), 1, 1, 29165670, std::nullopt,
            utc(29165670LL * 60) },
        { "runAt zero means now", std::nullopt, std::nullopt, std::nullopt, 0, 29165670, now },
        { "lastRun", std::nullopt, std::nullopt, std::nullopt, std::nullopt, 29165670, utc(29165670LL * 60) },
        { "lastRun zero", std::nullopt, std::nullopt, std::nullopt, std::nullopt, 0, now },
        { "nothing", std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, now },
        { "far future", std::nullopt, std::nullopt, std::nullopt, 4294967295u, std::nullopt,
            Moment(std::chrono::minutes(4294967295LL)) },
    };
    for (const Case& c : cases) {
        ScheduledRoutine once = schedule(8, 30, 128);
        once.year = c.year;
        once.month = c.month;
        once.day = c.day;
        once.runAt = c.runAt;
        once.lastRun = c.lastRun;
        EXPECT_EQ(once.oneTimeDate(clock), c.expected) << c.name;
    }
}

TEST_F(ScheduleModelsTest, OneTimeTextIsTheDateInUserZone)
{
    ScheduledRoutine once = schedule(0, 30, 128);
    // 2025-06-14 22:30 UTC is already June 15 in Amsterdam.
    once.runAt = 29165670;
    EXPECT_EQ(once.daysDescription(clock), "Jun 15, 2025");
    clock.zone = "UTC";
    EXPECT_EQ(once.daysDescription(clock), "Jun 14, 2025");

    once.runAt = 0;
    EXPECT_EQ(once.daysDescription(clock), "Jun 15, 2025");

    // Minutes near the top of the 32-bit range lie in the year 10136.
    once.runAt = 4294967295u;
    EXPECT_NE(once.daysDescription(clock).find("10136"), std::string::npos) << once.daysDescription(clock);
}

TEST_F(ScheduleModelsTest, NamesAndTimeTexts)
{
    ScheduledRoutine named = schedule(23, 7, 0, true, 7);
    EXPECT_EQ(named.routineName(), "Routine 7");
    named.label = "";
    EXPECT_EQ(named.routineName(), "");
    named.label = "Morning";
    EXPECT_EQ(named.routineName(), "Morning");
    EXPECT_EQ(named.timeText(), "23:07");
    EXPECT_EQ(schedule(0, 0, 0).timeText(), "00:00");
    EXPECT_EQ(schedule(123, 5, 0).timeText(), "123:05");
}

TEST_F(ScheduleModelsTest, EmptyPlaceholder)
{
    EXPECT_TRUE(ScheduledRoutine {}.isEmptyPlaceholder());

    const std::pair<const char*, std::function<void(ScheduledRoutine&)>> cases[] = {
        { "label", [](ScheduledRoutine& s) { s.label = "x"; } },
        { "lastRun 0", [](ScheduledRoutine& s) { s.lastRun = 0u; } },
        { "date",
            [](ScheduledRoutine& s) {
                s.year = 2025;
                s.month = 1;
                s.day = 2;
            } },
    };
    for (const auto& [name, change] : cases) {
        ScheduledRoutine value;
        change(value);
        EXPECT_TRUE(value.isEmptyPlaceholder()) << name;
    }

    const std::pair<const char*, std::function<void(ScheduledRoutine&)>> notEmpty[] = {
        { "id", [](ScheduledRoutine& s) { s.id = 1; } },
        { "routineId", [](ScheduledRoutine& s) { s.routineId = 1; } },
        { "hour", [](ScheduledRoutine& s) { s.hour = 1; } },
        { "minute", [](ScheduledRoutine& s) { s.minute = 1; } },
        { "days", [](ScheduledRoutine& s) { s.days = 1; } },
        { "enabled", [](ScheduledRoutine& s) { s.enabled = true; } },
        { "lastRun", [](ScheduledRoutine& s) { s.lastRun = 1u; } },
        { "type", [](ScheduledRoutine& s) { s.type = ""; } },
        { "runAt 0", [](ScheduledRoutine& s) { s.runAt = 0u; } },
    };
    for (const auto& [name, change] : notEmpty) {
        ScheduledRoutine value;
        change(value);
        EXPECT_FALSE(value.isEmptyPlaceholder()) << name;
    }
}

TEST_F(ScheduleModelsTest, SignatureAndEqualityCoverEveryField)
{
    ScheduledRoutine base = schedule(8, 0, 62);
    base.id = 3;
    const std::pair<const char*, std::function<void(ScheduledRoutine&)>> changes[] = {
        { "id", [](ScheduledRoutine& s) { s.id = 4; } },
        { "routineId", [](ScheduledRoutine& s) { s.routineId = 2; } },
        { "hour", [](ScheduledRoutine& s) { s.hour = 9; } },
        { "minute", [](ScheduledRoutine& s) { s.minute = 1; } },
        { "days", [](ScheduledRoutine& s) { s.days = 63; } },
        { "enabled", [](ScheduledRoutine& s) { s.enabled = false; } },
        { "label", [](ScheduledRoutine& s) { s.label = ""; } },
        { "lastRun", [](ScheduledRoutine& s) { s.lastRun = 0u; } },
        { "type", [](ScheduledRoutine& s) { s.type = "recurring"; } },
        { "runAt", [](ScheduledRoutine& s) { s.runAt = 0u; } },
        { "year", [](ScheduledRoutine& s) { s.year = 0; } },
        { "month", [](ScheduledRoutine& s) { s.month = 0; } },
        { "day", [](ScheduledRoutine& s) { s.day = 0; } },
        { "lastRun to runAt", [](ScheduledRoutine& s) { s.runAt = 5u; } },
    };
    for (const auto& [name, change] : changes) {
        ScheduledRoutine changed = base;
        change(changed);
        EXPECT_NE(changed, base) << name;
        EXPECT_NE(changed.syncSignature(), base.syncSignature()) << name;
    }
    ScheduledRoutine withLastRun = base;
    withLastRun.lastRun = 5u;
    ScheduledRoutine withRunAt = base;
    withRunAt.runAt = 5u;
    EXPECT_NE(withLastRun.syncSignature(), withRunAt.syncSignature());
    EXPECT_EQ(ScheduledRoutine(base).syncSignature(), base.syncSignature());
    EXPECT_EQ(scheduledRoutineFromJson(toJson(base)).syncSignature(), base.syncSignature());
}

static_assert(SyncedValue<ScheduledRoutine>);

TEST_F(ScheduleModelsTest, ScheduleKindValues)
{
    EXPECT_EQ(allScheduleKinds[0], ScheduleKind::recurring);
    EXPECT_EQ(allScheduleKinds[1], ScheduleKind::single);
    EXPECT_EQ(rawValue(ScheduleKind::recurring), "recurring");
    EXPECT_EQ(rawValue(ScheduleKind::single), "single");
    EXPECT_EQ(label(ScheduleKind::recurring), "Repeats");
    EXPECT_EQ(label(ScheduleKind::single), "Once");
    EXPECT_EQ(emptyStateLabel(ScheduleKind::recurring), "recurring");
    EXPECT_EQ(emptyStateLabel(ScheduleKind::single), "single");
    EXPECT_EQ(scheduleKindFromRawValue("single"), ScheduleKind::single);
    EXPECT_EQ(scheduleKindFromRawValue("recurring"), ScheduleKind::recurring);
    for (const char* text : { "Single", "single ", "", "once" }) {
        EXPECT_EQ(scheduleKindFromRawValue(text), std::nullopt) << text;
    }
}

TEST_F(ScheduleModelsTest, EnvelopeAndDefinitions)
{
    const ScheduleEnvelope error = scheduleEnvelopeFromJson(parseJson(R"({"type":"error","message":"Bad hour"})"));
    EXPECT_EQ(error.message, "Bad hour");
    EXPECT_EQ(error.routines, std::nullopt);
    EXPECT_EQ(error.schedules, std::nullopt);
    EXPECT_EQ(dumpJson(toJson(error)), R"({"type":"error","message":"Bad hour"})");

    const ScheduleEnvelope state = scheduleEnvelopeFromJson(parseJson(
        R"({"type":"state","routines":[{"id":7,"label":"Morning"}],"schedules":[{"id":1,"routineId":7,"hour":6,"minute":0}]})"));
    ASSERT_TRUE(state.routines && state.schedules);
    EXPECT_EQ(*state.routines, (std::vector<ScheduleDefinition> { { 7, "Morning" } }));
    EXPECT_EQ(state.schedules->at(0).hour, 6);
    EXPECT_EQ(dumpJson(toJson(state)),
        R"({"type":"state","routines":[{"id":7,"label":"Morning"}],"schedules":[{"id":1,"routineId":7,"hour":6,"minute":0,"days":0,"enabled":1}]})");

    const char* refused[] = {
        R"({"schedules":[]})",
        R"({"type":"state","routines":[{"id":7}]})",
        R"({"type":"state","routines":[{"label":"Morning"}]})",
        R"({"type":"state","schedules":[{"id":1,"routineId":7,"hour":6,"minute":0},{"id":2,"routineId":7,"hour":6}]})",
    };
    for (const char* text : refused) {
        EXPECT_THROW(scheduleEnvelopeFromJson(parseJson(text)), JsonDecodeError) << text;
    }
}

TEST_F(ScheduleModelsTest, PreviewOfOneRoutine)
{
    ScheduledRoutine once = schedule(7, 15, 128, true);
    once.runAt = 29165670;
    const std::vector<ScheduledRoutine> schedules {
        schedule(8, 0, 62, true, 1),
        schedule(9, 0, 65, false, 1),
        schedule(6, 0, 0, true, 2),
        schedule(20, 30, 42, true, 1),
        once,
        schedule(21, 0, 1, true, 1),
        schedule(22, 0, 2, true, 1),
        schedule(5, 0, 127, false, 3),
    };
    EXPECT_EQ(RoutineSchedulePreview::text(1, schedules, clock), "08:00 Weekdays, 20:30 Mon, Wed, Fri +3");
    EXPECT_EQ(RoutineSchedulePreview::text(2, schedules, clock), "06:00 Every day");
    EXPECT_EQ(RoutineSchedulePreview::text(3, schedules, clock), "Schedules off");
    EXPECT_EQ(RoutineSchedulePreview::text(4, schedules, clock), std::nullopt);

    const std::vector<ScheduledRoutine> three { schedule(8, 0, 62), once, schedule(9, 5, 0) };
    EXPECT_EQ(RoutineSchedulePreview::text(1, three, clock), "08:00 Weekdays, 07:15 Jun 15, 2025 +1");
    EXPECT_EQ(RoutineSchedulePreview::text(1, {}, clock), std::nullopt);
}

} // namespace
} // namespace tavrik
