#include "TavrikCore/Link/BleDataFrame.hpp"
#include "tests/session/SessionTestSupport.hpp"

namespace tavrik::test {
namespace {

using namespace std::chrono_literals;

using SessionStateTest = SessionTest;

TEST_F(SessionStateTest, IdleSecondsAppearForTheLastFifteenSecondsOnly)
{
    connect();
    const struct {
        std::chrono::milliseconds since;
        std::optional<int> shown;
    } cases[] = {
        { 44s, std::nullopt },
        { 44'999ms, std::nullopt },
        { 45s, 15 },
        { 59'999ms, 1 },
        { 60s, 0 },
        { 90s, 0 },
    };
    for (const auto& [since, shown] : cases) {
        dispatch("interact");
        advance(since);
        const Json current = dispatch("state").state();
        if (shown) {
            EXPECT_EQ(current.value("idleSeconds", -1), *shown) << since.count();
        } else {
            EXPECT_FALSE(current.contains("idleSeconds")) << since.count();
        }
    }
}

TEST_F(SessionStateTest, IdleSecondsAreHiddenWhileTheSessionWaitsForTheDevice)
{
    connectSimulator();
    dispatch("load");
    advance(50s);
    EXPECT_FALSE(dispatch("state").state().contains("idleSeconds"));

    loadOverSimulator(sampleDeviceData());
    simulatorSends({ { "type", "scan_pending" } });
    advance(50s);
    const Json scanning = dispatch("state").state();
    EXPECT_TRUE(scanning.at("scanActive").get<bool>());
    EXPECT_FALSE(scanning.contains("idleSeconds"));
    simulatorSends({ { "type", "scan_timeout" } });
    EXPECT_EQ(dispatch("state").state().at("idleSeconds"), 10);
}

TEST_F(SessionStateTest, KeepsOnlyTheNewestMessagesLogsAndTransferRecords)
{
    connect();
    for (int index = 1; index <= 33; ++index) {
        deviceSends({ { "type", "log_line" }, { "message", "line " + std::to_string(index) } });
    }
    const Json& framed = state();
    ASSERT_EQ(framed.at("messages").size(), 32U);
    EXPECT_EQ(framed.at("messages").front(), R"({"type":"log_line","message":"line 2"})");
    EXPECT_EQ(framed.at("logs").size(), 33U);
    EXPECT_EQ(framed.at("logs").back(), "[2025-06-15T15:06:40Z] line 33");

    for (int index = 34; index <= 101; ++index) {
        deviceSends({ { "type", "log_line" }, { "message", "line " + std::to_string(index) } });
    }
    const Json& details = state().at("logDetails");
    ASSERT_EQ(details.size(), 100U);
    // The first record (message 1) went; the 101st message is the newest.
    EXPECT_EQ(details.front().at("messageId"), 2);
    EXPECT_EQ(details.back(), Json::parse(R"({"bytes":40,"chunks":1,"direction":"inbound","messageId":101})"));

    connectSimulator();
    for (int index = 1; index <= 501; ++index) {
        simulatorSends({ { "type", "log_line" }, { "message", "sim " + std::to_string(index) } });
    }
    const Json& logs = state().at("logs");
    ASSERT_EQ(logs.size(), 500U);
    EXPECT_EQ(logs.front(), "[2025-06-15T15:06:40Z] sim 2");
    EXPECT_EQ(state().at("messages").back(), R"({"type":"log_line","message":"line 101"})")
        << "simulator messages are not recorded, and only connect forgets the framed ones";

    const Json cleared = dispatch("clearLogs").state();
    EXPECT_TRUE(cleared.at("logs").empty());
    EXPECT_TRUE(cleared.at("logDetails").empty());
}

TEST_F(SessionStateTest, WholeMessagesComeBackAsMessageEffectsWithInvalidUtf8Replaced)
{
    connect();
    Data bad = textData(R"({"type":"log_line","message":"caf)");
    bad.push_back(0xC3);
    bad.push_back('"');
    bad.push_back('}');
    const Data frame = makeFrame(0, 9, 0, 1, bad);
    const SessionResponse response = callback("receiveFrame", frame);

    const std::vector<Json> messages = response.effectsOfType("message");
    ASSERT_EQ(messages.size(), 1U);
    EXPECT_EQ(messages[0].at("messageId"), 9);
    EXPECT_EQ(base64Payload(messages[0]), bad);
    EXPECT_EQ(response.state().at("messages").back(), "{\"type\":\"log_line\",\"message\":\"caf\xEF\xBF\xBD\"}");
}

TEST_F(SessionStateTest, FramesLeaveOneWritePerResponseAndWaitForWriteComplete)
{
    connect(20);
    const SessionResponse started = dispatch("load");
    ASSERT_TRUE(started.ok()) << started.error();
    ASSERT_EQ(started.effects().size(), 1U);
    EXPECT_EQ(started.effects()[0].at("type"), "write");
    EXPECT_EQ(started.effects()[0].at("withResponse"), true);
    EXPECT_EQ(base64Payload(started.effects()[0]).size(), 20U);

    const std::vector<SessionResponse> rest = pump(started);
    ASSERT_GT(rest.size(), 5U);
    for (std::size_t index = 0; index + 1 < rest.size(); ++index) {
        EXPECT_EQ(rest[index].writes().size(), 1U) << index;
    }
    EXPECT_TRUE(rest.back().effects().empty());
    const std::optional<Json> start = device.lastReceived("sync_start");
    ASSERT_TRUE(start);
    EXPECT_EQ(start->at("mode"), "load");
    EXPECT_EQ(rest.back().state().at("status"), "Starting sync");
}

TEST_F(SessionStateTest, CapabilitiesFollowTheLinkAndTheDataVersion)
{
    loadOverPhysicalLink(sampleDeviceData());
    EXPECT_EQ(state().at("capabilities"),
        Json::parse(R"({"groups":true,"killSwitch":true,"ota":true,"restore":true,"startTags":true,"wifi":true})"));

    Json older = sampleDeviceData();
    older["dataVersion"] = 8;
    older["routines"].erase(1);
    older["routines"][0].erase("groups");
    older.erase("wifi");
    older["settings"].erase("killSwitchUid");
    loadOverPhysicalLink(older);
    ASSERT_TRUE(state().contains("device")) << state().at("logs");
    EXPECT_EQ(state().at("capabilities"),
        Json::parse(R"({"groups":false,"killSwitch":false,"ota":true,"restore":false,"startTags":true,"wifi":false})"));

    loadOverSimulator(sampleDeviceData());
    EXPECT_EQ(state().at("capabilities"),
        Json::parse(R"({"groups":true,"killSwitch":true,"ota":false,"restore":false,"startTags":true,"wifi":false})"));
}

TEST_F(SessionStateTest, SchedulePreviewsReadDatesInTheSessionZoneOrTheSystemsWhenTheNameIsUnknown)
{
    clock.zone = "Asia/Tokyo";
    makeSession(true);
    Json data = sampleDeviceData();
    // A one-time schedule known only by its minute count: 2025-06-15 23:30 UTC, already the 16th in Tokyo.
    data["schedules"].push_back(Json { { "id", 4 }, { "routineId", 2 }, { "hour", 8 }, { "minute", 30 },
        { "days", 128 }, { "enabled", 1 }, { "runAt", 29167170 } });
    loadOverSimulator(data);

    const struct {
        const char* zone;
        const char* preview;
    } cases[] = {
        { nullptr, "08:30 Jun 16, 2025" },
        { "UTC", "08:30 Jun 15, 2025" },
        { "Mars/Olympus_Mons", "08:30 Jun 16, 2025" },
        { "America/New_York", "08:30 Jun 15, 2025" },
    };
    for (const auto& [zone, preview] : cases) {
        const Json arguments = zone ? Json { { "timeZone", zone } } : Json::object();
        EXPECT_EQ(dispatch("state", arguments).state().at("routineSchedulePreviews").at("2"), preview)
            << (zone ? zone : "system zone");
    }
    EXPECT_EQ(state().at("routineSchedulePreviews").at("1"), "07:30 Weekdays");
}

} // namespace
} // namespace tavrik::test
