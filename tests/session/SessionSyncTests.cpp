#include "tests/session/SessionTestSupport.hpp"
#include "tests/support/ManyMembers.hpp"

#include <fstream>
#include <sstream>

namespace tavrik::test {
namespace {

using namespace std::chrono_literals;

Data fixture(const std::string& name)
{
    std::ifstream file(std::string(TAVRIK_TEST_FIXTURES) + "/backup/" + name, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return textData(text.str());
}

// A JSON document read back in sorted key order, as the session writes records.
Json sortedForm(const Data& document)
{
    return Json::parse(nlohmann::json::parse(document.begin(), document.end()).dump());
}

using SessionSyncTest = SessionTest;

TEST_F(SessionSyncTest, MigratesABackupIntoTheStateAndKeepsItAcrossLinks)
{
    const SessionResponse migrated = dispatch("migrateBackup", {}, fixture("v2-keyed.json"));
    ASSERT_TRUE(migrated.ok()) << migrated.error();
    EXPECT_EQ(migrated.state().at("sourceVersion"), 2);
    EXPECT_FALSE(migrated.state().at("warnings").empty());
    EXPECT_EQ(migrated.state().at("backup"), sortedForm(fixture("v2-keyed.expected.json")));

    const Json before = dispatch("state").state();
    for (const char* refused : { "v1.json", "v10.json", "v9-undecodable.json" }) {
        const SessionResponse response = dispatch("migrateBackup", {}, fixture(refused));
        EXPECT_FALSE(response.ok()) << refused;
        EXPECT_FALSE(response.error().empty()) << refused;
        for (const char* key : { "backup", "sourceVersion", "warnings" }) {
            EXPECT_EQ(response.state().at(key), before.at(key)) << refused << " " << key;
        }
    }
    EXPECT_EQ(dispatch("migrateBackup", {}, fixture("v10.json")).error(),
        "Tavrik backup schema v10 requires a newer Tavrik Link");

    connectSimulator();
    dispatch("disconnect");
    EXPECT_EQ(state().at("backup"), before.at("backup"));
}

// Sync data naming hardware this application does not know is refused before anything is taken in:
// neither the device data nor a backup of it.
TEST_F(SessionSyncTest, RefusesDataOfAnUnknownHardwareTarget)
{
    Json data = sampleDeviceData();
    data["hardwareTarget"] = "m5stick-c2";
    const std::string message = "Connected Tavrik reports unsupported hardware target 'm5stick-c2'.";

    connect();
    pump(dispatch("load"));
    deviceSendsReliably(data);
    EXPECT_EQ(state().at("status"), message);
    EXPECT_FALSE(state().contains("device"));
    EXPECT_EQ(state().at("capabilities").at("groups"), false);
    EXPECT_EQ(state().at("logs").back(), "[2025-06-15T15:06:40Z] " + message);

    const SessionResponse backup = dispatch("migrateBackup", {}, jsonData(data));
    EXPECT_EQ(backup.error(), message);
    EXPECT_FALSE(backup.state().contains("backup"));
    EXPECT_FALSE(backup.state().contains("sourceVersion"));

    data.erase("hardwareTarget");
    deviceSendsReliably(data);
    EXPECT_TRUE(state().contains("device")) << "a device that names no target is loaded";
}

TEST_F(SessionSyncTest, FollowsTheDevicesSyncControlReplies)
{
    struct Case {
        const char* label;
        Json reply;
        std::string status;
        bool loadStillRuns;
        bool logged;
    };
    const auto runCase = [&](const Case& testCase) {
        SCOPED_TRACE(testCase.label);
        connectSimulator();
        const Json start = Json::parse(dispatch("load").applicationWrites().at(0));
        Json reply = testCase.reply;
        if (reply.contains("code") && reply["code"] == "CURRENT") {
            reply["code"] = start.at("code");
        }
        const SessionResponse response = simulatorSends(reply);
        EXPECT_EQ(response.state().at("status"), testCase.status);
        EXPECT_EQ(response.state().at("connected"), true);
        // Only a running sync hides the idle countdown.
        advance(50s);
        EXPECT_EQ(!dispatch("state").state().contains("idleSeconds"), testCase.loadStillRuns);
        const Json& logs = state().at("logs");
        EXPECT_EQ(!logs.empty() && logs.back().get<std::string>().ends_with("Z] " + testCase.status), testCase.logged);
        dispatch("clearLogs");
    };
    const Case cases[] = {
        { "waiting", { { "type", "sync_waiting" } }, "Starting sync", true, false },
        { "ready", { { "type", "sync_ready" } }, "Loading data", true, false },
        { "error of another session", { { "type", "sync_error" }, { "code", "9999" }, { "message", "Old" } },
            "Starting sync", true, false },
        { "error", { { "type", "sync_error" }, { "code", "CURRENT" }, { "message", "Busy" } }, "Busy", false, true },
        { "error without text", { { "type", "sync_error" } }, "Connect error", false, true },
        { "timeout", { { "type", "sync_error" }, { "reason", "timeout" } }, "Sync timed out. Reload to try again.",
            false, false },
        { "device error", { { "type", "error" }, { "message", "Storage full" } }, "Storage full", false, true },
        { "device error without text", { { "type", "error" } }, "Tavrik reported an error", false, true },
        { "unknown reply", { { "type", "sync_waiting" }, { "mode", 5 } }, "Starting sync", true, false },
    };
    for (const Case& testCase : cases) {
        runCase(testCase);
    }
}

TEST_F(SessionSyncTest, ALoadThatEndsWithoutDataDisconnects)
{
    connectSimulator();
    const Json start = Json::parse(dispatch("load").applicationWrites().at(0));
    const SessionResponse done = simulatorSends({ { "type", "sync_done" }, { "code", start.at("code") } });
    EXPECT_EQ(done.effects(), Json::parse(R"([{"type":"disconnect"}])"));
    EXPECT_EQ(done.state().at("status"), "Tavrik finished sync without a complete snapshot. Reconnect and retry.");
    EXPECT_FALSE(done.state().at("connected").get<bool>());
}

// A device sending sync data with a crowd of unknown keys in one object is loaded like one without
// them, in far less time than the test's time-out.
TEST_F(SessionSyncTest, SyncDataWithManyKeysInOneObjectLoadsAsWithoutThem)
{
    loadOverSimulator(sampleDeviceData());
    const Json expected = state().at("device");
    for (const char* objectStart : { "{", "{\"muteNonAlarmSounds\"" }) {
        SCOPED_TRACE(objectStart);
        makeSession(true);
        connectSimulator();
        const Json start = parseJson(dispatch("load").applicationWrites().at(0));
        const std::string crowded = withMembers(dumpJson(sampleDeviceData()), objectStart, manyMembers(200'000));
        ASSERT_FALSE(crowded.empty());
        const SessionResponse loaded = callback("receiveMessage", textData(crowded));
        EXPECT_EQ(loaded.state().at("status"), "Simulator \u00b7 Local");
        simulatorSends({ { "type", "sync_done" }, { "code", start.at("code") } });
        EXPECT_EQ(state().at("device"), expected);
    }
}

TEST_F(SessionSyncTest, RestoresABackupAndLoadsAgain)
{
    dispatch("migrateBackup", {}, fixture("v8.json"));
    loadOverPhysicalLink(sampleDeviceData());
    device.forgetReceived();

    const SessionResponse restoring = dispatch("restore");
    ASSERT_TRUE(restoring.ok()) << restoring.error();
    EXPECT_EQ(restoring.state().at("status"), "Starting restore");
    pump(restoring);
    EXPECT_EQ(device.lastReceived("sync_start"), Json::parse(R"({"type":"sync_start","mode":"restore","code":""})"));

    deviceSends({ { "type", "sync_ready" }, { "code", "" } });
    EXPECT_EQ(state().at("status"), "Restoring backup");
    const std::optional<Json> written = device.lastReceived("sync_restore");
    ASSERT_TRUE(written);
    const Json backup = state().at("backup");
    EXPECT_EQ(written->at("dataVersion"), 9);
    EXPECT_EQ(written->at("code"), "");
    for (const char* key : { "settings", "schedules", "tags", "routines" }) {
        EXPECT_EQ(sortedForm(jsonData(written->at(key))), backup.at(key)) << key;
    }

    // A disconnect now would interrupt the restore; the device finishes instead and a load follows.
    device.forgetReceived();
    deviceSends({ { "type", "sync_done" }, { "code", "" } });
    EXPECT_EQ(state().at("status"), "Starting sync");
    const std::optional<Json> reload = device.lastReceived("sync_start");
    ASSERT_TRUE(reload);
    EXPECT_EQ(reload->at("mode"), "load");
    EXPECT_TRUE(reload->contains("delivery"));
}

TEST_F(SessionSyncTest, ARestoredBackupWithoutSettingsCarriesTheDefaultSettings)
{
    Json plain = sampleDeviceData();
    plain.erase("settings");
    ASSERT_TRUE(dispatch("migrateBackup", {}, jsonData(plain)).ok());
    loadOverPhysicalLink(sampleDeviceData());
    pump(dispatch("restore"));
    deviceSends({ { "type", "sync_ready" }, { "code", "" } });

    const std::optional<Json> written = device.lastReceived("sync_restore");
    ASSERT_TRUE(written);
    EXPECT_EQ(written->at("settings"), Json::parse(R"({"muteNonAlarmSounds":0})"));
    EXPECT_EQ(written->at("tags").size(), 2U);
}

TEST_F(SessionSyncTest, RestoreNeedsABackupAndAPhysicalDeviceOfTheCurrentSchema)
{
    const std::string refusal = "Restore requires a backup and compatible physical Tavrik";
    EXPECT_EQ(dispatch("restore").error(), "Connect and finish loading Tavrik first");

    loadOverPhysicalLink(sampleDeviceData());
    EXPECT_EQ(dispatch("restore").error(), refusal) << "no backup";

    dispatch("migrateBackup", {}, fixture("v9.json"));
    loadOverSimulator(sampleDeviceData());
    EXPECT_EQ(dispatch("restore").error(), refusal) << "simulator";

    Json older = sampleDeviceData();
    older["dataVersion"] = 8;
    older["routines"].erase(1);
    older["routines"][0].erase("groups");
    loadOverPhysicalLink(older);
    ASSERT_TRUE(state().contains("device"));
    EXPECT_EQ(dispatch("restore").error(), refusal) << "schema 8";
}

// Starting a restore is progress: however long the device has been quiet, the restore gets its own
// thirty seconds before the next tick ends it.
TEST_F(SessionSyncTest, ARestoreBegunLateGetsItsOwnThirtySeconds)
{
    for (const std::chrono::milliseconds quiet : { 30'000ms, 30'001ms, 59'000ms }) {
        SCOPED_TRACE(quiet.count());
        makeSession(true);
        dispatch("migrateBackup", {}, fixture("v9.json"));
        loadOverPhysicalLink(sampleDeviceData());
        advance(quiet);
        pump(dispatch("restore"));

        const SessionResponse next = dispatch("tick");
        EXPECT_TRUE(next.effects().empty());
        EXPECT_EQ(next.state().at("status"), "Starting restore");

        advance(30s);
        EXPECT_TRUE(dispatch("tick").state().at("connected").get<bool>());
        advance(1ms);
        const SessionResponse timedOut = dispatch("tick");
        EXPECT_EQ(timedOut.effects(), Json::parse(R"([{"type":"disconnect"}])"));
        EXPECT_EQ(timedOut.state().at("status"), "Sync timed out. Enable connection mode on Tavrik and retry.");
    }
}

TEST_F(SessionSyncTest, ADisconnectDuringARestoreLeavesANotice)
{
    dispatch("migrateBackup", {}, fixture("v9.json"));
    loadOverPhysicalLink(sampleDeviceData());
    pump(dispatch("restore"));
    const SessionResponse dropped = dispatch("disconnect");
    EXPECT_EQ(
        dropped.state().at("disconnectNotice"), "Tavrik disconnected while restoring the backup. Reconnect and retry.");
    EXPECT_EQ(dropped.state().at("status"), "Disconnected");
    EXPECT_FALSE(connect().state().contains("disconnectNotice"));
}

TEST_F(SessionSyncTest, DeviceMessagesUpdateTheLoadedData)
{
    loadOverSimulator(sampleDeviceData());

    simulatorSends({ { "type", "tags_state" }, { "tags", Json::parse(R"([{"id":7,"uid":"04 07","name":"Door"}])") } });
    EXPECT_EQ(state().at("device").at("tags"), Json::parse(R"([{"id":7,"name":"Door","uid":"04 07"}])"));
    simulatorSends({ { "type", "tags_state" } });
    EXPECT_EQ(state().at("device").at("tags").size(), 1U) << "a message without a list keeps it";

    simulatorSends({ { "type", "state" },
        { "schedules", Json::parse(R"([{"id":9,"routineId":2,"hour":6,"minute":5,"days":65,"enabled":1}])") } });
    EXPECT_EQ(state().at("device").at("schedules").at(0).at("id"), 9);
    EXPECT_EQ(state().at("routineSchedulePreviews"), Json::parse(R"({"2":"06:05 Weekend"})"));
    simulatorSends({ { "type", "state" },
        { "schedules", Json::parse(R"([{"id":1,"routineId":2,"hour":6,"minute":5,"days":65,"enabled":1},
            {"id":2,"routineId":1,"hour":7,"minute":0,"days":62,"enabled":0},
            {"id":3,"routineId":99,"hour":7,"minute":0,"days":62,"enabled":1},
            {"id":4,"routineId":2,"hour":8,"minute":0,"days":62,"enabled":1},
            {"id":5,"routineId":2,"hour":9,"minute":0,"days":1,"enabled":1}])") } });
    EXPECT_EQ(state().at("routineSchedulePreviews"),
        Json::parse(R"({"1":"Schedules off","2":"06:05 Weekend, 08:00 Weekdays +1"})"));
    simulatorSends({ { "type", "state" },
        { "schedules", Json::parse(R"([{"id":9,"routineId":2,"hour":6,"minute":5,"days":65,"enabled":1}])") } });

    // A routine sent again moves to the end of the list.
    simulatorSends(Json::parse(R"({"type":"routine_detail","id":1,"label":"Early","steps":[
        {"id":1,"position":0,"parentId":0,"tagId":"7","seconds":90,"instruction":"Go","unstoppable":0}]})"));
    const Json& routines = state().at("device").at("routines");
    ASSERT_EQ(routines.size(), 2U);
    EXPECT_EQ(routines[0].at("label"), "Evening");
    EXPECT_EQ(routines[1].at("label"), "Early");
    EXPECT_EQ(routines[1].at("groups"), Json::array());
    simulatorSends({ { "type", "routine_detail" }, { "id", 1 } });
    EXPECT_EQ(state().at("device").at("routines").size(), 2U) << "a detail without a label is ignored";

    simulatorSends({ { "type", "routine_event" }, { "event", "trigger" }, { "id", 2 }, { "step", 1 } });
    EXPECT_EQ(state().at("activeRoutine"), Json::parse(R"({"id":2,"label":"Evening","step":1,"stepCount":1})"));
    simulatorSends({ { "type", "routine_event" }, { "event", "resume" }, { "id", 42 } });
    EXPECT_EQ(state().at("activeRoutine"), Json::parse(R"({"id":42,"step":0})"));
    simulatorSends({ { "type", "routine_event" }, { "event", "escape_required" } });
    EXPECT_EQ(state().at("status"), "Strict escape armed on Tavrik. Hold the A button to begin.");
    simulatorSends({ { "type", "routine_event" }, { "event", "complete" } });
    EXPECT_FALSE(state().contains("activeRoutine"));

    simulatorSends(Json::parse(R"({"type":"routines_state","routines":[{"id":2,"label":"Evening"}],
        "active":{"id":2,"step":0}})"));
    EXPECT_EQ(state().at("device").at("routines").size(), 1U);
    EXPECT_EQ(state().at("device").at("routines")[0].at("id"), 2);
    EXPECT_EQ(state().at("activeRoutine"), Json::parse(R"({"id":2,"step":0})"));

    simulatorSends(Json::parse(R"({"type":"clock_state","valid":1,"year":2025,"month":6,"day":15,
        "hour":15,"minute":7,"second":0,"message":"Clock set"})"));
    EXPECT_EQ(state().at("device").at("clock").at("minute"), 7);
    EXPECT_EQ(state().at("status"), "Clock set");
    EXPECT_EQ(state().at("logs").back(), "[2025-06-15T15:06:40Z] Clock set");
}

TEST_F(SessionSyncTest, TagScanMessagesDriveTheScanState)
{
    loadOverSimulator(sampleDeviceData());
    EXPECT_TRUE(simulatorSends({ { "type", "scan_pending" } }).state().at("scanActive").get<bool>());
    EXPECT_EQ(state().at("status"), "Scan a tag on Tavrik");

    const Json result = { { "type", "scan_result" }, { "uid", "04 99" }, { "name", "Door" } };
    const SessionResponse scanned = simulatorSends(result);
    EXPECT_FALSE(scanned.state().at("scanActive").get<bool>());
    EXPECT_EQ(scanned.state().at("status"), "Tag scanned");
    EXPECT_EQ(scanned.state().at("scanResult"), Json::parse(R"({"name":"Door","type":"scan_result","uid":"04 99"})"));
    EXPECT_TRUE(scanned.effects().empty()) << "an ordinary scan sends nothing";

    simulatorSends({ { "type", "scan_pending" } });
    EXPECT_EQ(simulatorSends({ { "type", "scan_timeout" } }).state().at("status"), "Tag scan timed out");
    EXPECT_FALSE(state().at("scanActive").get<bool>());
}

TEST_F(SessionSyncTest, AScanForTheKillSwitchEnrolsTheScannedTag)
{
    loadOverPhysicalLink(sampleDeviceData());
    pump(dispatch("scanTag", { { "killSwitch", true } }));
    ASSERT_TRUE(state().at("scanPurposeKillSwitch").get<bool>());
    device.forgetReceived();

    deviceSends({ { "type", "scan_result" }, { "uid", "04 99" } });
    EXPECT_EQ(device.receivedTexts(), std::vector<std::string> { R"(settings:update killSwitchUid="04 99")" });
    EXPECT_FALSE(state().at("scanPurposeKillSwitch").get<bool>());
    EXPECT_EQ(state().at("device").at("settings"), Json::parse(R"({"killSwitchUid":"04 99","muteNonAlarmSounds":0})"));

    // The enrolment is over: the next result is only shown.
    device.forgetReceived();
    deviceSends({ { "type", "scan_result" }, { "uid", "04 55" } });
    EXPECT_TRUE(device.receivedTexts().empty());
    EXPECT_EQ(state().at("scanResult").at("uid"), "04 55");
}

TEST_F(SessionSyncTest, UnreadableDeviceMessagesBecomeTheStatusAndNeverFailTheAction)
{
    loadOverSimulator(sampleDeviceData());
    const Json loaded = state().at("device");

    const SessionResponse garbage = callback("receiveMessage", textData("{\"type\":"));
    EXPECT_TRUE(garbage.ok());
    EXPECT_EQ(garbage.state().at("status"), "The data is not valid JSON");
    EXPECT_EQ(garbage.state().at("logs").back(), "[2025-06-15T15:06:40Z] The data is not valid JSON");

    const std::size_t logged = state().at("logs").size();
    for (const Json& ignored : { Json::parse("[1,2]"), Json::parse(R"({"kind":"x"})"), Json::parse(R"({"type":3})") }) {
        const SessionResponse response = simulatorSends(ignored);
        EXPECT_TRUE(response.ok());
        EXPECT_EQ(response.state().at("logs").size(), logged) << ignored;
    }

    const SessionResponse badTags = simulatorSends({ { "type", "tags_state" }, { "tags", "none" } });
    EXPECT_TRUE(badTags.ok());
    EXPECT_EQ(badTags.state().at("status"), "Expected an array for \"tags\"");
    EXPECT_EQ(badTags.state().at("device"), loaded);

    simulatorSends({ { "type", "log_line" }, { "message", "battery 80%" } });
    EXPECT_EQ(state().at("logs").back(), "[2025-06-15T15:06:40Z] battery 80%");
    simulatorSends({ { "type", "anything_new" }, { "message", "hello" } });
    EXPECT_EQ(state().at("logs").back(), "[2025-06-15T15:06:40Z] hello");

    Json broken = sampleDeviceData();
    broken["routines"][0]["steps"][0]["seconds"] = "sixty";
    simulatorSends(broken);
    EXPECT_EQ(state().at("device"), loaded) << "data that does not migrate is not installed";
    EXPECT_NE(state().at("status"), "Simulator · Local");
}

} // namespace
} // namespace tavrik::test
