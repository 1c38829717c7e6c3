#include "tests/controller/ControllerTestSupport.hpp"

namespace tavrik::test {
namespace {

using namespace std::chrono_literals;

// The test clock reads 2025-06-15 15:06:40 UTC.
class ControllerClockTest : public ControllerTest {
protected:
    void SetUp() override
    {
        clock.locale = "en_US";
        addDevice();
        loadFromDevice();
        ASSERT_TRUE(controller->hasLoadedData());
    }

    // A device reading `offset` away from 2025-06-15 15:06:40 in the clock's zone, for UTC.
    static DeviceClockSnapshot readingAt(std::chrono::seconds offset, std::int64_t valid = 1)
    {
        const std::int64_t total = 15 * 3600 + 6 * 60 + 40 + offset.count();
        const std::int64_t dayOffset = total >= 0 ? total / 86400 : (total - 86399) / 86400;
        const std::int64_t inDay = total - dayOffset * 86400;
        return DeviceClockSnapshot { valid, 2025, 6, 15 + dayOffset, inDay / 3600, inDay / 60 % 60, inDay % 60 };
    }

    std::vector<std::string> commands() const { return device->receivedCommands(); }
};

TEST_F(ControllerClockTest, TheNoticeComesWithAnInvalidClockOrADriftOf61SecondsOrMore)
{
    const struct {
        std::string what;
        DeviceClockSnapshot reading;
        std::chrono::milliseconds clockFraction;
        bool notice;
        std::optional<std::int64_t> drift;
    } cases[] = {
        { "30 s behind", readingAt(-30s), 0ms, false, std::nullopt },
        { "60 s ahead", readingAt(60s), 0ms, false, std::nullopt },
        { "60.1 s ahead", readingAt(61s), 900ms, false, std::nullopt },
        { "61 s ahead", readingAt(61s), 0ms, true, 61 },
        { "61.9 s behind", readingAt(-61s), 900ms, true, 61 },
        { "a day behind", readingAt(-86400s), 0ms, true, 86400 },
        { "invalid but exact", readingAt(0s, 0), 0ms, true, 0 },
        { "invalid and unreadable", DeviceClockSnapshot { 0, 10'000'000'000, 1, 1, 0, 0, 0 }, 0ms, true, std::nullopt },
        { "valid but unreadable", DeviceClockSnapshot { 1, 10'000'000'000, 1, 1, 0, 0, 0 }, 0ms, false, std::nullopt },
    };
    const auto start = clock.wallTime;
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.what);
        probe().resetLocalData(false);
        clock.wallTime = start + entry.clockFraction;
        probe().evaluateTimeSyncNeed(entry.reading);
        ASSERT_EQ(controller->timeSyncNotice().has_value(), entry.notice);
        EXPECT_EQ(probe().didOfferTimeSyncForCurrentLoad(), entry.notice);
        if (entry.notice) {
            EXPECT_EQ(controller->timeSyncNotice()->driftSeconds, entry.drift);
            EXPECT_EQ(controller->timeSyncNotice()->deviceClock, entry.reading);
        }
    }
}

TEST_F(ControllerClockTest, TheNoticeShowsBothTimes)
{
    clock.zone = "Europe/Amsterdam";
    probe().evaluateTimeSyncNeed(DeviceClockSnapshot { 1, 2025, 6, 1, 8, 5, 9 });
    ASSERT_TRUE(controller->timeSyncNotice().has_value());
    EXPECT_EQ(controller->timeSyncNotice()->deviceText, "2025-06-01 08:05:09");
    // Medium date and time of the user's locale, in the user's zone.
    const std::string local = controller->timeSyncNotice()->macText;
    EXPECT_TRUE(local.starts_with("Jun 15, 2025")) << local;
    EXPECT_NE(local.find("5:06:40"), std::string::npos) << local;
}

TEST_F(ControllerClockTest, SyncDataWithAWrongClockOffersOneNoticePerSessionStart)
{
    controller.reset();
    device->data.clock = DeviceClockSnapshot { 0, 2000, 1, 1, 0, 0, 0 };
    loadFromDevice();
    ASSERT_TRUE(controller->timeSyncNotice().has_value());
    EXPECT_EQ(controller->timeSyncNotice()->deviceText, "2000-01-01 00:00:00");
    EXPECT_TRUE(controller->timeSyncNotice()->driftSeconds.has_value());

    controller->dismissTimeSyncNotice();
    EXPECT_FALSE(controller->timeSyncNotice().has_value());
    probe().evaluateTimeSyncNeed(DeviceClockSnapshot { 0, 2000, 1, 1, 0, 0, 0 });
    EXPECT_FALSE(controller->timeSyncNotice().has_value());

    // A new load may offer it again.
    controller->beginSession(SyncMode::load);
    settle();
    EXPECT_TRUE(controller->timeSyncNotice().has_value());
}

TEST_F(ControllerClockTest, AcceptingWhileConnectedSendsTheTimeAtOnce)
{
    clock.zone = "Europe/Amsterdam";
    probe().evaluateTimeSyncNeed(readingAt(0s, 0));
    controller->acceptTimeSyncNotice();
    EXPECT_FALSE(controller->timeSyncNotice().has_value());
    settle();
    EXPECT_EQ(commands(), (std::vector<std::string> { "clock:set year=2025 month=6 day=15 hour=17 minute=6 second=40" }));
    EXPECT_TRUE(logContains("Sent clock update to Tavrik"));
    EXPECT_FALSE(probe().pendingClockCommand().has_value());
    EXPECT_TRUE(idleMinuteEndsLink());
}

TEST_F(ControllerClockTest, TheCommandCarriesTheLocalWallClockOfTheUsersZone)
{
    const struct {
        std::string zone;
        std::string command;
    } cases[] = {
        { "UTC", "set year=2025 month=6 day=15 hour=15 minute=6 second=40" },
        { "America/New_York", "set year=2025 month=6 day=15 hour=11 minute=6 second=40" },
        { "Pacific/Kiritimati", "set year=2025 month=6 day=16 hour=5 minute=6 second=40" },
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.zone);
        clock.zone = entry.zone;
        const std::size_t before = commands().size();
        probe().sendCurrentTimeToTavrik();
        settle();
        ASSERT_EQ(commands().size(), before + 1);
        EXPECT_EQ(commands().back(), "clock:" + entry.command);
    }
}

TEST_F(ControllerClockTest, AcceptingWhileDisconnectedReconnectsAndSendsTheTimeOfTheSend)
{
    probe().evaluateTimeSyncNeed(readingAt(0s, 0));
    probe().resetConnectionState();
    settle();
    controller->acceptTimeSyncNotice();
    EXPECT_TRUE(logContains("Reconnecting to update Tavrik time"));
    EXPECT_TRUE(central.isScanning());
    EXPECT_EQ(probe().pendingClockCommand(), "set year=2025 month=6 day=15 hour=15 minute=6 second=40");
    EXPECT_TRUE(commands().empty());

    // The connection takes its time; the device gets the time of the moment it is told.
    clock.advance(20s);
    settle();
    EXPECT_EQ(commands(), (std::vector<std::string> { "clock:set year=2025 month=6 day=15 hour=15 minute=7 second=0" }));
    EXPECT_FALSE(probe().pendingClockCommand().has_value());
    EXPECT_TRUE(idleMinuteEndsLink());
}

TEST_F(ControllerClockTest, ARefusedClockCommandStaysPendingForTheNextFlush)
{
    device->peripheral()->maximumWriteLength = 1;
    probe().evaluateTimeSyncNeed(readingAt(0s, 0));
    controller->acceptTimeSyncNotice();
    EXPECT_TRUE(logContains("Could not send clock update to Tavrik"));
    EXPECT_TRUE(probe().pendingClockCommand().has_value());
    // The waiting command holds the link.
    EXPECT_FALSE(idleMinuteEndsLink());

    device->peripheral()->maximumWriteLength = 185;
    clock.advance(5s);
    probe().startCommandConnection();
    settle();
    EXPECT_EQ(commands(), (std::vector<std::string> { "clock:set year=2025 month=6 day=15 hour=15 minute=6 second=45" }));
    EXPECT_FALSE(probe().pendingClockCommand().has_value());
}

TEST_F(ControllerClockTest, AcceptingWithoutANoticeDoesNothing)
{
    controller->acceptTimeSyncNotice();
    settle();
    EXPECT_TRUE(commands().empty());
    EXPECT_FALSE(probe().pendingClockCommand().has_value());
}

TEST_F(ControllerClockTest, DeviceClockMessagesAreOnlyLogged)
{
    const struct {
        std::string payload;
        std::optional<std::string> logged;
    } cases[] = {
        { R"({"type":"clock_state","valid":1,"year":2025,"month":6,"day":15,"hour":15,"minute":6,"second":40,"message":"NTP synced"})",
            "[clock] NTP synced" },
        { R"({"type":"clock_state","valid":1,"year":2025,"month":6,"day":15,"hour":15,"minute":6,"second":40,"message":""})",
            std::nullopt },
        { R"({"type":"clock_state","valid":1,"year":2025,"month":6,"day":15,"hour":15,"minute":6})",
            "[ble:data] invalid clock payload" },
        { R"({"type":"clock_state","valid":true,"year":2025,"month":6,"day":15,"hour":15,"minute":6,"second":1})",
            "[ble:data] invalid clock payload" },
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.payload);
        controller->clearLog();
        probe().handleDataEnvelope(1, Data(entry.payload.begin(), entry.payload.end()));
        EXPECT_EQ(logTexts(), entry.logged ? std::vector<std::string> { *entry.logged } : std::vector<std::string> {});
        EXPECT_FALSE(controller->timeSyncNotice().has_value());
    }
}

} // namespace
} // namespace tavrik::test

namespace tavrik::test {
namespace {

TEST_F(ControllerClockTest, ALocaleWithAnotherCalendarStillSpeaksGregorianToTheDevice)
{
    clock.locale = "th_TH@calendar=buddhist";
    probe().evaluateTimeSyncNeed(readingAt(std::chrono::seconds(0)));
    EXPECT_FALSE(controller->timeSyncNotice().has_value());
    probe().sendCurrentTimeToTavrik();
    settle();
    EXPECT_EQ(commands(), (std::vector<std::string> { "clock:set year=2025 month=6 day=15 hour=15 minute=6 second=40" }));
}

} // namespace
} // namespace tavrik::test
