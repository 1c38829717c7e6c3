#include "TavrikCore/Backup/BackupMigrationPipeline.hpp"
#include "TavrikCore/Link/BleDataFrame.hpp"
#include "tests/session/SessionTestSupport.hpp"

#include <fstream>
#include <regex>
#include <sstream>

namespace tavrik::test {
namespace {

using namespace std::chrono_literals;

using SessionConnectionTest = SessionTest;

// The device data as the session shows it: migrated, written with sorted keys.
Json installedForm(const Json& syncData)
{
    const auto result = BackupMigrationPipeline::migrate(dumpJson(syncData));
    return Json::parse(*strictSortedJsonText(toJson(result.envelope), false));
}

TEST_F(SessionConnectionTest, ConnectAcceptsWriteLengthsFrom12To517)
{
    const struct {
        Json length;
        bool accepted;
    } cases[] = {
        { 11, false },
        { 12, true },
        { 517, true },
        { 518, false },
        { -20, false },
        { "185", false },
        { 185.5, false },
        { nullptr, false },
        { 185.0, true },
    };
    for (const auto& [length, accepted] : cases) {
        const std::uint64_t before = generation();
        const SessionResponse response = dispatch("connect", { { "maximumWriteLength", length } });
        EXPECT_EQ(response.ok(), accepted) << length;
        if (accepted) {
            EXPECT_EQ(generation(), before + 1) << length;
            EXPECT_EQ(state().at("status"), "Connected securely");
            EXPECT_TRUE(state().at("connected").get<bool>());
        } else {
            EXPECT_EQ(response.error(), "Invalid maximum write length") << length;
            EXPECT_EQ(generation(), before) << length;
        }
    }
}

TEST_F(SessionConnectionTest, TheSimulatorLinkIsForSessionsThatAllowIt)
{
    makeSession(false);
    const SessionResponse refused = connectSimulator();
    EXPECT_EQ(refused.error(), "Simulator is debug-only");
    EXPECT_FALSE(refused.state().at("connected").get<bool>());

    makeSession(true);
    const SessionResponse simulated = connectSimulator();
    ASSERT_TRUE(simulated.ok());
    EXPECT_EQ(simulated.state().at("status"), "Simulator · Local");
    EXPECT_TRUE(simulated.state().at("simulator").get<bool>());

    connect();
    const SessionResponse unframed = callback("receiveMessage", jsonData({ { "type", "scan_pending" } }));
    EXPECT_EQ(unframed.error(), "Unframed data requires simulator transport");
    EXPECT_FALSE(unframed.state().at("scanActive").get<bool>());
}

TEST_F(SessionConnectionTest, LoadsOverThePhysicalLinkWithReliableDelivery)
{
    connect(185);
    const SessionResponse started = dispatch("load");
    ASSERT_TRUE(started.ok()) << started.error();
    EXPECT_EQ(started.state().at("status"), "Starting sync");
    pump(started);
    const std::optional<Json> start = device.lastReceived("sync_start");
    ASSERT_TRUE(start);
    EXPECT_EQ(start->at("mode"), "load");
    EXPECT_TRUE(std::regex_match(start->at("code").get<std::string>(), std::regex("[0-9]{4}"))) << *start;
    const Json& offer = start->at("delivery");
    EXPECT_EQ(offer.at("version"), 1);
    EXPECT_EQ(offer.at("window"), 4);
    const auto session = offer.at("session").get<std::uint32_t>();
    EXPECT_NE(session, 0U);

    deviceSends({ { "type", "sync_ready" }, { "code", start->at("code") } });
    EXPECT_EQ(state().at("status"), "Loading data");

    const Json data = sampleDeviceData();
    const std::vector<Data> frames = device.reliableFramesFor(data, session);
    ASSERT_GE(frames.size(), 5U);
    std::size_t lastMessageEffects = 0;
    for (const Data& frame : frames) {
        const SessionResponse response = callback("receiveFrame", frame);
        ASSERT_TRUE(response.ok()) << response.error();
        lastMessageEffects = response.effectsOfType("message").size();
        if (&frame != &frames.back()) {
            EXPECT_EQ(lastMessageEffects, 0U);
            EXPECT_FALSE(state().contains("device"));
        }
        pump(response);
    }
    EXPECT_EQ(lastMessageEffects, 1U);

    std::vector<Json> acknowledgements;
    for (const Json& message : device.receivedJson()) {
        if (message.at("type") == "ble_ack") {
            acknowledgements.push_back(message);
        }
    }
    ASSERT_FALSE(acknowledgements.empty());
    EXPECT_EQ(acknowledgements.back(),
        Json({ { "type", "ble_ack" }, { "session", session }, { "messageId", 40000 }, { "nextChunk", frames.size() } }));
    EXPECT_EQ(acknowledgements.front().at("nextChunk"), 4) << "acknowledged every fourth chunk";

    EXPECT_EQ(state().at("status"), "Connected");
    EXPECT_EQ(state().at("device"), installedForm(data));
    EXPECT_EQ(state().at("messages").back(), dumpJson(data));

    deviceSends({ { "type", "sync_done" }, { "code", start->at("code") } });
    EXPECT_EQ(state().at("status"), "Connected");
    EXPECT_TRUE(state().contains("device"));
}

TEST_F(SessionConnectionTest, InstallsDeviceDataOfAnOlderSchemaInTheCurrentForm)
{
    std::ifstream file(std::string(TAVRIK_TEST_FIXTURES) + "/backup/v8.json", std::ios::binary);
    std::ostringstream original;
    original << file.rdbuf();
    std::ifstream expectedFile(std::string(TAVRIK_TEST_FIXTURES) + "/backup/v8.expected.json", std::ios::binary);
    std::ostringstream expected;
    expected << expectedFile.rdbuf();

    loadOverPhysicalLink(Json::parse(original.str()));
    EXPECT_EQ(state().at("status"), "Connected");
    EXPECT_EQ(state().at("device"), Json::parse(nlohmann::json::parse(expected.str()).dump()));
    // What the device can do follows the schema it spoke, not the one its data was lifted to.
    EXPECT_EQ(state().at("capabilities"),
        Json::parse(R"({"groups":false,"killSwitch":true,"ota":true,"restore":false,"startTags":true,"wifi":false})"));
    EXPECT_FALSE(state().contains("sourceVersion")) << "only a backup has a source version";
}

TEST_F(SessionConnectionTest, ARunningSyncHoldsOffTheIdleDisconnectAndItsDataCountsAsActivity)
{
    connect();
    pump(dispatch("load"));
    for (int beat = 0; beat < 3; ++beat) {
        advance(25s);
        deviceSends({ { "type", "sync_waiting" } });
        const SessionResponse ticked = dispatch("tick");
        EXPECT_TRUE(ticked.effects().empty()) << beat;
        EXPECT_TRUE(ticked.state().at("connected").get<bool>()) << beat;
    }

    // 75 s after the last host action the data arrives; the idle countdown starts again from here.
    deviceSendsReliably(sampleDeviceData());
    ASSERT_EQ(state().at("status"), "Connected");
    advance(59'999ms);
    EXPECT_TRUE(dispatch("tick").state().at("connected").get<bool>());
    EXPECT_EQ(state().at("idleSeconds"), 1);
    advance(1ms);
    const SessionResponse idle = dispatch("tick");
    EXPECT_EQ(idle.effects(), Json::parse(R"([{"type":"disconnect"}])"));
    EXPECT_EQ(idle.state().at("status"), "Disconnected after 60 seconds idle");
}

TEST_F(SessionConnectionTest, LoadsOverTheSimulatorLinkWithUnframedMessages)
{
    connectSimulator();
    const SessionResponse started = dispatch("load");
    const std::vector<std::string> sent = started.applicationWrites();
    ASSERT_EQ(sent.size(), 1U);
    const Json start = Json::parse(sent[0]);
    EXPECT_EQ(start.at("type"), "sync_start");
    EXPECT_EQ(start.at("mode"), "load");
    EXPECT_FALSE(start.contains("delivery"));
    EXPECT_TRUE(started.writes().empty());

    const SessionResponse loaded = simulatorSends(sampleDeviceData());
    EXPECT_TRUE(loaded.effects().empty());
    EXPECT_EQ(loaded.state().at("status"), "Simulator · Local");
    EXPECT_EQ(loaded.state().at("device"), installedForm(sampleDeviceData()));
    EXPECT_TRUE(loaded.state().at("messages").empty());

    const SessionResponse done = simulatorSends({ { "type", "sync_done" }, { "code", start.at("code") } });
    EXPECT_TRUE(done.state().contains("device"));
}

TEST_F(SessionConnectionTest, CallbacksOfAnEarlierLinkAreRefusedAndChangeNothing)
{
    loadOverPhysicalLink(sampleDeviceData());
    const std::uint64_t old = generation();
    const Data frame = device.framesFor({ { "type", "tags_state" }, { "tags", Json::array() } }).at(0);

    connect();
    const Json before = state();
    const SessionResponse stale = dispatch("receiveFrame", { { "generation", old } }, frame);
    EXPECT_EQ(stale.error(), "Stale connection callback");
    EXPECT_TRUE(stale.effects().empty());
    EXPECT_EQ(stale.state(), before);

    connectSimulator();
    const std::uint64_t simulatorGeneration = generation();
    dispatch("disconnect");
    EXPECT_EQ(generation(), simulatorGeneration + 1);
    EXPECT_EQ(dispatch("receiveMessage", { { "generation", simulatorGeneration } }, jsonData(sampleDeviceData())).error(),
        "Stale connection callback");
    EXPECT_EQ(dispatch("receiveMessage", { { "generation", generation() } }, jsonData(sampleDeviceData())).error(),
        "Stale connection callback")
        << "no link at all";
}

TEST_F(SessionConnectionTest, DisconnectForgetsTheLinkButKeepsBackupMessagesAndLogs)
{
    loadOverPhysicalLink(sampleDeviceData());
    dispatch("migrateBackup", {}, jsonData(sampleDeviceData()));
    deviceSends({ { "type", "routine_event" }, { "event", "trigger" }, { "id", 1 } });
    deviceSends({ { "type", "scan_result" }, { "uid", "04 01" } });
    deviceSends({ { "type", "log_line" }, { "message", "kept" } });
    ASSERT_TRUE(state().contains("activeRoutine"));
    ASSERT_TRUE(state().contains("scanResult"));
    const Json before = state();

    const SessionResponse response = dispatch("disconnect");
    ASSERT_TRUE(response.ok());
    EXPECT_TRUE(response.effects().empty());
    const Json& after = response.state();
    EXPECT_EQ(after.at("generation"), before.at("generation").get<int>() + 1);
    EXPECT_EQ(after.at("status"), "Disconnected");
    EXPECT_FALSE(after.at("connected").get<bool>());
    for (const char* gone : { "device", "activeRoutine", "scanResult", "routineSchedulePreviews" }) {
        EXPECT_FALSE(after.contains(gone)) << gone;
    }
    EXPECT_EQ(after.at("capabilities"),
        Json::parse(R"({"groups":false,"killSwitch":false,"ota":false,"restore":false,)"
                    R"("startTags":false,"wifi":false})"));
    for (const char* kept : { "backup", "sourceVersion", "messages", "logs", "logDetails", "warnings" }) {
        EXPECT_EQ(after.at(kept), before.at(kept)) << kept;
    }

    // A new physical link starts with no messages.
    EXPECT_TRUE(connect().state().at("messages").empty());
}

TEST_F(SessionConnectionTest, TickEndsAStalledSyncAfterMoreThanThirtySeconds)
{
    connect();
    pump(dispatch("load"));
    advance(20s);
    // Any inbound chunk counts as progress.
    deviceSends({ { "type", "sync_waiting" } });
    advance(30s);
    const SessionResponse patient = dispatch("tick");
    EXPECT_TRUE(patient.effects().empty());
    EXPECT_EQ(patient.state().at("status"), "Starting sync");
    EXPECT_TRUE(patient.state().at("connected").get<bool>());

    advance(500ms);
    const SessionResponse timedOut = dispatch("tick");
    EXPECT_EQ(timedOut.effects(), Json::parse(R"([{"type":"disconnect"}])"));
    EXPECT_EQ(timedOut.state().at("status"), "Sync timed out. Enable connection mode on Tavrik and retry.");
    EXPECT_FALSE(timedOut.state().at("connected").get<bool>());
}

TEST_F(SessionConnectionTest, TickDisconnectsAfterSixtySecondsWithoutUserActivity)
{
    loadOverPhysicalLink(sampleDeviceData());
    dispatch("interact");
    advance(59'900ms);
    const SessionResponse early = dispatch("tick");
    EXPECT_TRUE(early.effects().empty());
    EXPECT_TRUE(early.state().at("connected").get<bool>());

    advance(100ms);
    const SessionResponse idle = dispatch("tick");
    EXPECT_EQ(idle.effects(), Json::parse(R"([{"type":"disconnect"}])"));
    EXPECT_EQ(idle.state().at("status"), "Disconnected after 60 seconds idle");
    EXPECT_FALSE(idle.state().at("connected").get<bool>());
    EXPECT_FALSE(idle.state().contains("device"));

    advance(120s);
    EXPECT_TRUE(dispatch("tick").effects().empty()) << "nothing to do without a link";
}

TEST_F(SessionConnectionTest, TickAsksTheHostToDropALinkWhoseScanStalled)
{
    loadOverSimulator(sampleDeviceData());
    simulatorSends({ { "type", "scan_pending" } });
    advance(65s);
    EXPECT_TRUE(dispatch("tick").effects().empty());
    advance(1ms);
    const SessionResponse timedOut = dispatch("tick");
    EXPECT_EQ(timedOut.effects(), Json::parse(R"([{"type":"disconnect"}])"));
    EXPECT_EQ(timedOut.state().at("status"), "Device operation timed out. Retry after reconnecting.");
    EXPECT_FALSE(timedOut.state().at("scanActive").get<bool>());
    EXPECT_TRUE(timedOut.state().at("connected").get<bool>()) << "the host disconnects";
}

TEST_F(SessionConnectionTest, TheSimulatorMayEndTheLinkItself)
{
    loadOverSimulator(sampleDeviceData());
    const SessionResponse ended = simulatorSends({ { "type", "simulator_disconnected" } });
    EXPECT_EQ(ended.effects(), Json::parse(R"([{"type":"disconnect"}])"));
    EXPECT_EQ(ended.state().at("status"), "Disconnected");
    EXPECT_FALSE(ended.state().at("simulator").get<bool>());
}

} // namespace
} // namespace tavrik::test
