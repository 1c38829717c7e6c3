#include "tests/controller/ControllerTestSupport.hpp"
#include "tests/support/ScheduleRecords.hpp"

#include "TavrikCore/Model/SyncImportError.hpp"
#include "TavrikCore/Support/Json.hpp"

#include <tuple>

namespace tavrik::test {
namespace {

using namespace std::chrono_literals;

// 2026-01-05 07:45 in Amsterdam.
ScheduledRoutine oneTimeScheduleInAmsterdam(std::uint32_t id, std::uint32_t routineId)
{
    ScheduledRoutine schedule = oneTimeSchedule(id, routineId);
    schedule.runAt = 29'459'925;
    return schedule;
}

class ControllerScheduleTest : public ControllerTest {
protected:
    void SetUp() override
    {
        // The wall clock reads 2025-06-15 17:06:40 in Amsterdam.
        clock.zone = "Europe/Amsterdam";
        clock.locale = "en_US";
        addDevice();
        device->data.routines = { { 9, "Morning", {}, {}, {} }, { 4, "Evening", {}, {}, {} } };
        device->data.schedules = { recurringSchedule(1, 9, 8, 0, 127), oneTimeScheduleInAmsterdam(2, 4) };
        loadFromDevice();
        ASSERT_TRUE(controller->hasLoadedData());
    }

    const ScheduledRoutine& schedule(std::uint32_t id) const
    {
        const auto& list = controller->schedules();
        const auto found
            = std::find_if(list.begin(), list.end(), [&](const ScheduledRoutine& item) { return item.id == id; });
        EXPECT_NE(found, list.end()) << "no schedule " << id;
        return *found;
    }

    std::vector<std::uint32_t> scheduleIds() const
    {
        std::vector<std::uint32_t> ids;
        for (const ScheduledRoutine& item : controller->schedules()) {
            ids.push_back(item.id);
        }
        return ids;
    }

    // Lets every debounced edit go out.
    std::vector<std::string> sentAfterDebounce()
    {
        scheduler.advance(200ms);
        settle();
        return device->receivedCommands();
    }

    void receiveSchedulePayload(const Json& message) { probe().handleSchedulePayload(dumpJsonData(message)); }
};

TEST_F(ControllerScheduleTest, RecurringHourAndMinuteAreClampedAndSentAsTheirOwnAttribute)
{
    struct Case {
        bool hour;
        std::int64_t value;
        std::int64_t stored;
        std::string command;
    };
    const Case cases[] = {
        { true, 25, 23, "schedule:update id=1 hour=23" },
        { true, -4, 0, "schedule:update id=1 hour=0" },
        { true, 6, 6, "schedule:update id=1 hour=6" },
        { false, 75, 59, "schedule:update id=1 minute=59" },
        { false, -1, 0, "schedule:update id=1 minute=0" },
        { false, 30, 30, "schedule:update id=1 minute=30" },
    };
    for (const Case& item : cases) {
        const std::size_t before = device->receivedCommands().size();
        if (item.hour) {
            controller->setScheduleHour(1, item.value);
        } else {
            controller->setScheduleMinute(1, item.value);
        }
        EXPECT_EQ(item.hour ? schedule(1).hour : schedule(1).minute, item.stored);
        EXPECT_EQ(probe().baselineSnapshot()->schedules, controller->schedules());
        const std::vector<std::string> sent = sentAfterDebounce();
        ASSERT_EQ(sent.size(), before + 1) << item.command;
        EXPECT_EQ(sent.back(), item.command);
    }
}

TEST_F(ControllerScheduleTest, EditsThatChangeNothingOrNameNoScheduleSendNothing)
{
    const std::vector<ScheduledRoutine> loaded = controller->schedules();
    int changes = 0;
    QObject::connect(controller.get(), &TavrikBleCentral::schedulesChanged, [&] { ++changes; });

    controller->setScheduleHour(1, 8);
    controller->setScheduleMinute(1, -10); // clamps to the 0 it already has
    controller->setScheduleDays(1, { 0, 1, 2, 3, 4, 5, 6 });
    controller->setScheduleEnabled(1, true);
    controller->setScheduleKind(1, ScheduleKind::recurring);
    controller->setScheduleKind(2, ScheduleKind::single);
    controller->setScheduleMinute(2, 45);
    controller->setScheduleHour(2, 7);
    controller->setScheduleHour(77, 5);
    controller->setScheduleEnabled(77, false);
    controller->setScheduleStartsAt(77, currentMoment(clock));

    EXPECT_TRUE(sentAfterDebounce().empty());
    EXPECT_EQ(controller->schedules(), loaded);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(controller->scheduleError(), std::nullopt);
}

TEST_F(ControllerScheduleTest, OneTimeHourAndMinuteMoveTheMomentWithinItsDay)
{
    controller->setScheduleMinute(2, 30);
    EXPECT_EQ(sentAfterDebounce(), (std::vector<std::string> { "schedule:update id=2 startsAt=2026-01-05T07:30" }));
    EXPECT_EQ(schedule(2).minute, 30);
    EXPECT_EQ(schedule(2).runAt, 29'459'925u - 15u);

    // An hour past the day's end is clamped, not carried into the next day.
    controller->setScheduleHour(2, 25);
    EXPECT_EQ(sentAfterDebounce().back(), "schedule:update id=2 startsAt=2026-01-05T23:30");
    const ScheduledRoutine& moved = schedule(2);
    EXPECT_EQ((std::tuple(moved.year, moved.month, moved.day, moved.hour, moved.minute)),
        (std::tuple(std::optional<std::int64_t>(2026), std::optional<std::int64_t>(1), std::optional<std::int64_t>(5),
            std::int64_t { 23 }, std::int64_t { 30 })));
    EXPECT_EQ(moved.runAt, 29'459'925u - 15u + 16u * 60u);
    EXPECT_EQ(moved.type, "single");
    EXPECT_EQ(moved.days, 0);
}

TEST_F(ControllerScheduleTest, StartsAtIsTheWallClockTimeOfTheInjectedZone)
{
    // 2025-06-15 15:06:40 UTC.
    const Moment moment { std::chrono::seconds(1'750'000'000) };
    struct Case {
        std::string zone;
        std::string command;
        std::int64_t hour;
        std::int64_t day;
    };
    const Case cases[] = {
        { "Europe/Amsterdam", "schedule:update id=1 startsAt=2025-06-15T17:06", 17, 15 },
        { "UTC", "schedule:update id=1 startsAt=2025-06-15T15:06", 15, 15 },
        { "Pacific/Kiritimati", "schedule:update id=1 startsAt=2025-06-16T05:06", 5, 16 },
    };
    for (const Case& item : cases) {
        clock.zone = item.zone;
        controller->setScheduleStartsAt(1, moment);
        EXPECT_EQ(sentAfterDebounce().back(), item.command);
        const ScheduledRoutine& edited = schedule(1);
        EXPECT_EQ(edited.hour, item.hour);
        EXPECT_EQ(edited.day, item.day);
        EXPECT_EQ(edited.type, "single");
        EXPECT_EQ(edited.days, 0);
        // The same instant, counted from 1970 in whole minutes, whatever the zone.
        EXPECT_EQ(edited.runAt, 1'750'000'000u / 60u);
        EXPECT_TRUE(edited.isOneTime());
    }
}

TEST_F(ControllerScheduleTest, AMomentBeyondTheDevicesMinuteCountIsRefused)
{
    clock.zone = "UTC";
    const std::vector<ScheduledRoutine> loaded = controller->schedules();

    const Moment tooLate { std::chrono::minutes(std::int64_t { 4'294'967'296 }) };
    controller->setScheduleStartsAt(1, tooLate);
    EXPECT_EQ(controller->schedules(), loaded);
    EXPECT_EQ(controller->scheduleError(), "Choose a valid date for this one-time schedule");
    EXPECT_TRUE(sentAfterDebounce().empty());

    const Moment last { std::chrono::minutes(std::int64_t { 4'294'967'295 }) };
    controller->setScheduleStartsAt(1, last);
    EXPECT_EQ(schedule(1).runAt, 4'294'967'295u);
    EXPECT_EQ(sentAfterDebounce().size(), 1u);
}

TEST_F(ControllerScheduleTest, KindSwitchesFillOrClearTheOneTimeFields)
{
    // Recurring on weekdays at 06:15, switched to one-time: today's date at its time.
    receiveSchedulePayload({ { "type", "state" },
        { "schedules",
            Json::array({ toJson(recurringSchedule(1, 9, 8, 0, 127)), toJson(oneTimeScheduleInAmsterdam(2, 4)),
                toJson(recurringSchedule(3, 9, 6, 15, 62)) }) } });
    controller->setScheduleKind(3, ScheduleKind::single);
    const ScheduledRoutine& single = schedule(3);
    EXPECT_EQ(single.type, "single");
    EXPECT_EQ(single.days, 0);
    EXPECT_EQ((std::tuple(single.year, single.month, single.day)),
        (std::tuple(std::optional<std::int64_t>(2025), std::optional<std::int64_t>(6), std::optional<std::int64_t>(15))));
    // 2025-06-15 06:15 in Amsterdam is 04:15 UTC.
    EXPECT_EQ(single.runAt, (1'749'960'900u) / 60u);
    EXPECT_EQ(sentAfterDebounce().back(), "schedule:update id=3 type=single");

    // One-time with days 0, switched back: every day.
    controller->setScheduleKind(2, ScheduleKind::recurring);
    const ScheduledRoutine& recurring = schedule(2);
    EXPECT_EQ(recurring.type, "recurring");
    EXPECT_EQ(recurring.days, 127);
    EXPECT_EQ(recurring.runAt, std::nullopt);
    EXPECT_EQ(recurring.year, std::nullopt);
    EXPECT_FALSE(recurring.isOneTime());
    EXPECT_EQ(sentAfterDebounce().back(), "schedule:update id=2 type=recurring");
}

TEST_F(ControllerScheduleTest, AScheduleMarkedOneTimeByItsDaysBecomesRecurringForReal)
{
    ScheduledRoutine marked = recurringSchedule(5, 9, 6, 0, 128);
    marked.type.reset();
    marked.runAt = 29'459'925;
    receiveSchedulePayload({ { "type", "state" }, { "schedules", Json::array({ toJson(marked) }) } });
    ASSERT_TRUE(schedule(5).isOneTime());

    controller->setScheduleKind(5, ScheduleKind::recurring);
    EXPECT_FALSE(schedule(5).isOneTime());
    EXPECT_EQ(schedule(5).days, 127);
    EXPECT_EQ(sentAfterDebounce().back(), "schedule:update id=5 type=recurring");
}

TEST_F(ControllerScheduleTest, WeekdaysAndEnabledAreSentAsTheirAttributes)
{
    controller->setScheduleDays(2, { 1, 2, 3, 4, 5 });
    const ScheduledRoutine& weekdays = schedule(2);
    EXPECT_EQ(weekdays.days, 62);
    EXPECT_EQ(weekdays.type, "recurring");
    EXPECT_EQ((std::tuple(weekdays.runAt, weekdays.year, weekdays.month, weekdays.day)),
        (std::tuple(std::optional<std::uint32_t>(), std::optional<std::int64_t>(), std::optional<std::int64_t>(),
            std::optional<std::int64_t>())));

    controller->setScheduleEnabled(1, false);
    EXPECT_FALSE(schedule(1).enabled);
    EXPECT_EQ(sentAfterDebounce(),
        (std::vector<std::string> { "schedule:update id=2 days=62", "schedule:update id=1 enabled=0" }));
}

TEST_F(ControllerScheduleTest, EditsDebouncePerScheduleAndAttribute)
{
    controller->setScheduleHour(1, 9);
    scheduler.advance(100ms);
    controller->setScheduleHour(1, 10);
    scheduler.advance(100ms);
    settle();
    EXPECT_TRUE(device->receivedCommands().empty());

    // Another attribute of the same schedule sends the pending hour at once.
    controller->setScheduleMinute(1, 5);
    settle();
    EXPECT_EQ(device->receivedCommands(), (std::vector<std::string> { "schedule:update id=1 hour=10" }));
    EXPECT_EQ(sentAfterDebounce(),
        (std::vector<std::string> { "schedule:update id=1 hour=10", "schedule:update id=1 minute=5" }));
}

TEST_F(ControllerScheduleTest, CreateAndDeleteAreSentAtOnce)
{
    EXPECT_EQ(controller->createSchedule(9), 3u);
    EXPECT_EQ(controller->createSchedule(77), 4u);
    EXPECT_EQ(schedule(3).label, "Morning");
    EXPECT_EQ(schedule(4).label, std::nullopt);
    EXPECT_EQ((std::tuple(schedule(3).hour, schedule(3).minute, schedule(3).days, schedule(3).enabled, schedule(3).type)),
        (std::tuple(std::int64_t { 8 }, std::int64_t { 0 }, std::int64_t { 127 }, true,
            std::optional<std::string>("recurring"))));
    EXPECT_EQ(probe().baselineSnapshot()->schedules, controller->schedules());

    controller->deleteSchedule(1);
    // An id the list does not hold is still deleted on the device.
    controller->deleteSchedule(99);
    settle();
    EXPECT_EQ(device->receivedCommands(),
        (std::vector<std::string> { "schedule:create routineId=9 type=recurring hour=8 minute=0 days=127 enabled=1",
            "schedule:create routineId=77 type=recurring hour=8 minute=0 days=127 enabled=1", "schedule:delete id=1",
            "schedule:delete id=99" }));
    EXPECT_EQ(scheduleIds(), (std::vector<std::uint32_t> { 2, 3, 4 }));
}

TEST_F(ControllerScheduleTest, IdsAfterAnEmptyLoadCountFromOne)
{
    controller.reset();
    device->data.schedules.clear();
    loadFromDevice();
    EXPECT_EQ(controller->createSchedule(9), 1u);
    EXPECT_EQ(controller->createSchedule(9), 2u);
    EXPECT_EQ(controller->createSchedule(4), 3u);
}

TEST_F(ControllerScheduleTest, StoredSchedulesKeepScheduleOrder)
{
    ScheduledRoutine later = oneTimeScheduleInAmsterdam(6, 4);
    later.day = 20;
    receiveSchedulePayload({ { "type", "state" },
        { "schedules",
            Json::array({ toJson(recurringSchedule(1, 9, 8, 5, 127)), toJson(later),
                toJson(recurringSchedule(3, 9, 7, 30, 127)), toJson(oneTimeScheduleInAmsterdam(2, 4)) }) } });
    EXPECT_EQ(scheduleIds(), (std::vector<std::uint32_t> { 2, 6, 3, 1 }));

    // An edit re-sorts: 09:00 moves behind 08:05.
    controller->setScheduleHour(3, 9);
    EXPECT_EQ(scheduleIds(), (std::vector<std::uint32_t> { 2, 6, 1, 3 }));
    // A new 08:00 schedule lands between the one-time ones and 08:05.
    const std::uint32_t created = controller->createSchedule(9);
    EXPECT_EQ(scheduleIds(), (std::vector<std::uint32_t> { 2, 6, created, 1, 3 }));
}

TEST_F(ControllerScheduleTest, LoadedSchedulesArriveInScheduleOrder)
{
    controller.reset();
    makeController();
    device->data.schedules
        = { recurringSchedule(3, 9, 21, 0, 127), recurringSchedule(1, 9, 8, 0, 127), oneTimeScheduleInAmsterdam(2, 4) };
    std::vector<std::vector<std::uint32_t>> published;
    QObject::connect(controller.get(), &TavrikBleCentral::schedulesChanged, [&] { published.push_back(scheduleIds()); });
    loadFromDevice();
    EXPECT_EQ(scheduleIds(), (std::vector<std::uint32_t> { 2, 1, 3 }));
    ASSERT_FALSE(published.empty());
    for (const auto& ids : published) {
        EXPECT_EQ(ids, (std::vector<std::uint32_t> { 2, 1, 3 })) << "no observer sees the device's own order";
    }
}

TEST_F(ControllerScheduleTest, StateMessagesReplaceOnlyTheListsTheyCarry)
{
    controller->setScheduleHour(1, 9);
    // The edit goes out and its answer is past waiting for: nothing of the window's own waits.
    scheduler.advance(TavrikBleCentral::loadTimeout);
    receiveSchedulePayload({ { "type", "error" }, { "message", "No such routine" } });
    EXPECT_EQ(controller->scheduleError(), "No such routine");

    const std::vector<ScheduleDefinition> routinesBefore = controller->routines();
    receiveSchedulePayload(
        { { "type", "state" }, { "schedules", Json::array({ toJson(oneTimeScheduleInAmsterdam(2, 4)) }) } });
    EXPECT_EQ(scheduleIds(), (std::vector<std::uint32_t> { 2 }));
    EXPECT_EQ(controller->routines(), routinesBefore);
    EXPECT_EQ(controller->scheduleError(), std::nullopt);
    EXPECT_EQ(probe().baselineSnapshot()->schedules, controller->schedules());

    receiveSchedulePayload({ { "type", "state" },
        { "routines",
            Json::array({ { { "id", 1 }, { "label", "banana" } }, { { "id", 2 }, { "label", "Apple" } },
                { { "id", 3 }, { "label", "cherry" } } }) } });
    EXPECT_EQ(
        controller->routines(), (std::vector<ScheduleDefinition> { { 2, "Apple" }, { 1, "banana" }, { 3, "cherry" } }));
    EXPECT_EQ(scheduleIds(), (std::vector<std::uint32_t> { 2 }));
}

TEST_F(ControllerScheduleTest, RefusedAndUnknownMessagesLeaveTheListsAlone)
{
    const std::vector<ScheduledRoutine> loaded = controller->schedules();
    struct Case {
        Data payload;
        std::optional<std::string> error;
    };
    const Case cases[] = {
        { dumpJsonData({ { "type", "state" }, { "schedules", Json::array({ { { "id", -1 } } }) } }),
            "Invalid schedule payload" },
        { Data { '{', 'x' }, "Invalid schedule payload" },
        { dumpJsonData({ { "type", "error" } }), "Schedule error" },
        { dumpJsonData({ { "type", "error" }, { "message", "Schedule limit reached" } }), "Schedule limit reached" },
    };
    for (const Case& item : cases) {
        probe().handleSchedulePayload(item.payload);
        EXPECT_EQ(controller->scheduleError(), item.error);
        EXPECT_EQ(controller->schedules(), loaded);
    }
    receiveSchedulePayload({ { "type", "schedule_moved" } });
    EXPECT_TRUE(logContains("[ble:data] unhandled schedule payload schedule_moved"));
    EXPECT_EQ(controller->schedules(), loaded);
}

TEST_F(ControllerScheduleTest, ADeviceErrorAfterAScheduleCommandReachesTheScheduleHandler)
{
    device->answerCommand = [](const std::string& channel, const std::string&) {
        return channel == "schedule" ? std::vector<Json> { { { "type", "error" }, { "message", "Schedule full" } } }
                                     : std::vector<Json> {};
    };
    const std::vector<ScheduledRoutine> stored = controller->schedules();
    controller->createSchedule(9);
    settle();
    EXPECT_EQ(controller->scheduleError(), "Schedule full");
    // The refused schedule does not stay: the device's list is loaded again, the error with it.
    EXPECT_EQ(controller->schedules(), stored);
}

TEST_F(ControllerScheduleTest, SchedulesForABackupCarryTheirRoutinesNames)
{
    ScheduledRoutine stale = recurringSchedule(1, 9, 8, 0, 127);
    stale.label = "Old name";
    receiveSchedulePayload(
        { { "type", "state" }, { "schedules", Json::array({ toJson(stale), toJson(ScheduledRoutine {}) }) } });
    const std::vector<ScheduledRoutine> resolved = probe().schedulesResolvedForPersistence();
    ASSERT_EQ(resolved.size(), 1u) << "the blank placeholder is dropped";
    EXPECT_EQ(resolved[0].label, "Morning");

    struct Case {
        ScheduledRoutine schedule;
        std::string message;
    };
    ScheduledRoutine missingRoutine = recurringSchedule(4, 12, 8, 0, 127);
    missingRoutine.label = "  Morning ";
    ScheduledRoutine noRoutine = recurringSchedule(5, 0, 8, 0, 127);
    ScheduledRoutine noId = recurringSchedule(0, 9, 8, 0, 127);
    noId.label = "Morning";
    const Case cases[] = {
        { missingRoutine, "Schedule 4 label=Morning does not reference a routine in this export" },
        { noRoutine, "Schedule 5 does not reference a routine in this export" },
        { noId, "Schedule 0 label=Morning does not have a valid schedule id" },
    };
    for (const Case& item : cases) {
        receiveSchedulePayload({ { "type", "state" }, { "schedules", Json::array({ toJson(item.schedule) }) } });
        try {
            probe().schedulesResolvedForPersistence();
            ADD_FAILURE() << "accepted: " << item.message;
        } catch (const SyncImportError& error) {
            EXPECT_EQ(error.message(), item.message);
        }
    }
}

} // namespace
} // namespace tavrik::test
