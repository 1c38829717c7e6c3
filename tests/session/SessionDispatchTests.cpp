#include "TavrikCore/Session/NativeSessionRegistry.hpp"
#include "tests/session/SessionTestSupport.hpp"

#include <algorithm>
#include <limits>
#include <thread>

namespace tavrik::test {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view sessionClosed = R"({"version":1,"ok":false,"error":"Session is closed"})";

Data stateAction()
{
    return textData(R"({"version":1,"action":"state"})");
}

// {"version":1,"action":"state"} padded with blanks to exactly `length` bytes.
Data stateActionOfLength(std::size_t length)
{
    std::string action = R"({"version":1,"action":"state")";
    action.append(length - action.size() - 1, ' ');
    action.push_back('}');
    return textData(action);
}

TEST(NativeSessionRegistryTest, HandsOutRisingHandlesThatAreNeverReused)
{
    NativeSessionRegistry registry;
    EXPECT_EQ(registry.create(false), 1);
    EXPECT_EQ(registry.create(true), 2);
    registry.destroy(1);
    registry.destroy(1);
    registry.destroy(99);
    EXPECT_EQ(registry.create(false), 3);
    EXPECT_EQ(registry.sessionCount(), 2U);

    EXPECT_EQ(stringFromData(registry.dispatch(0, stateAction(), {})), sessionClosed);
    EXPECT_EQ(stringFromData(registry.dispatch(1, stateAction(), {})), sessionClosed);
    const std::string live = stringFromData(registry.dispatch(2, stateAction(), {}));
    EXPECT_EQ(live.rfind(R"({"effects":[],"ok":true,"state":{)", 0), 0U) << live;
}

TEST(NativeSessionRegistryTest, GivesZeroOnceTheLargestHandleIsTaken)
{
    constexpr std::int64_t largest = std::numeric_limits<std::int64_t>::max();
    NativeSessionRegistry registry(
        [](bool allowSimulator) { return std::make_unique<CompanionSession>(allowSimulator); }, largest - 1);
    EXPECT_EQ(registry.create(false), largest);
    EXPECT_EQ(registry.create(false), 0);
    EXPECT_EQ(registry.create(false), 0);
    EXPECT_EQ(registry.sessionCount(), 1U);
    EXPECT_EQ(stringFromData(registry.dispatch(0, stateAction(), {})), sessionClosed);
}

TEST(NativeSessionRegistryTest, ServesCallsFromManyThreads)
{
    NativeSessionRegistry registry;
    constexpr int threadCount = 4;
    constexpr int actionsPerSession = 40;
    std::vector<std::int64_t> handles(threadCount);
    std::vector<std::string> lastResponses(threadCount);
    std::vector<std::thread> threads;
    for (int index = 0; index < threadCount; ++index) {
        threads.emplace_back([&, index] {
            const std::int64_t handle = registry.create(false);
            const Data interact = textData(R"({"version":1,"action":"interact"})");
            for (int count = 0; count < actionsPerSession; ++count) {
                lastResponses[static_cast<std::size_t>(index)] = stringFromData(registry.dispatch(handle, interact, {}));
            }
            handles[static_cast<std::size_t>(index)] = handle;
            registry.destroy(handle);
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::sort(handles.begin(), handles.end());
    EXPECT_EQ(handles, (std::vector<std::int64_t> { 1, 2, 3, 4 }));
    for (const std::string& response : lastResponses) {
        EXPECT_NE(response.find(R"("revision":40,)"), std::string::npos) << response;
    }
    EXPECT_EQ(registry.sessionCount(), 0U);
}

using SessionDispatchTest = SessionTest;

TEST_F(SessionDispatchTest, AFreshSessionReportsItsWholeStateInSortedCompactJson)
{
    const SessionResponse response = dispatch("state");
    EXPECT_EQ(response.text,
        R"({"effects":[],"ok":true,"state":{)"
        R"("capabilities":{"groups":false,"killSwitch":false,"ota":false,"restore":false,"startTags":false,"wifi":false},)"
        R"("connected":false,)"
        R"("firmware":{"active":false,"bytesTransferred":0,"message":"Checking for firmware updates.","phase":"idle","progress":0.0,"totalBytes":0},)"
        R"("generation":0,"logDetails":[],"logs":[],"messages":[],"revision":1,"scanActive":false,)"
        R"("scanPurposeKillSwitch":false,"simulator":false,"status":"Disconnected","warnings":[],"wifiBusy":false},)"
        R"("version":1})");
}

TEST_F(SessionDispatchTest, RevisionCountsOnlySuccessfulActions)
{
    EXPECT_EQ(dispatch("state").state().at("revision"), 1);
    EXPECT_EQ(dispatch("interact").state().at("revision"), 2);
    const SessionResponse failed = dispatch("load");
    EXPECT_EQ(failed.error(), "Connect to Tavrik first");
    EXPECT_EQ(failed.state().at("revision"), 2);
    EXPECT_EQ(failed.text.rfind(R"({"effects":[],"error":"Connect to Tavrik first","ok":false,"state":{)", 0), 0U)
        << failed.text;
    EXPECT_EQ(dispatch("clearLogs").state().at("revision"), 3);
}

// Whether every object in the value lists its keys in ascending order.
bool keysSortedThroughout(const Json& value)
{
    if (value.is_object()) {
        std::string previous;
        bool first = true;
        for (const auto& [key, member] : value.items()) {
            if ((!first && key <= previous) || !keysSortedThroughout(member)) {
                return false;
            }
            previous = key;
            first = false;
        }
    } else if (value.is_array()) {
        return std::all_of(value.begin(), value.end(), keysSortedThroughout);
    }
    return true;
}

TEST_F(SessionDispatchTest, EveryResponseIsOneCompactObjectWithSortedKeysAtEveryLevel)
{
    dispatch("migrateBackup", {}, jsonData(sampleDeviceData()));
    connect();
    std::vector<SessionResponse> responses { dispatch("load") };
    for (SessionResponse& response : pump(responses.back())) {
        responses.push_back(std::move(response));
    }
    for (const Json& message :
        { sampleDeviceData(), Json { { "type", "routine_event" }, { "event", "trigger" }, { "id", 2 } },
            Json { { "type", "scan_result" }, { "uid", "04 01" }, { "extra", { { "z", 1 }, { "a", 2 } } } } }) {
        for (SessionResponse& response : deviceSends(message)) {
            responses.push_back(std::move(response));
        }
    }
    responses.push_back(dispatch("frobnicate"));

    const Json& rich = responses.back().state();
    for (const char* key :
        { "backup", "device", "activeRoutine", "scanResult", "routineSchedulePreviews", "sourceVersion" }) {
        EXPECT_TRUE(rich.contains(key)) << key;
    }
    for (const SessionResponse& response : responses) {
        EXPECT_TRUE(keysSortedThroughout(response.document)) << response.text;
        // Json keeps the order it read, so writing it again compactly gives the same bytes.
        EXPECT_EQ(response.text, response.document.dump());
    }
}

TEST_F(SessionDispatchTest, AFailedActionStillReportsTheEffectsItProducedBeforeFailing)
{
    Json data = sampleDeviceData();
    data["settings"].erase("killSwitchUid");
    loadOverPhysicalLink(data);
    const std::uint64_t revision = state().at("revision").get<std::uint64_t>();

    const SessionResponse response = dispatch("settings", { { "mute", true }, { "killSwitchUid", "04 99" } });
    EXPECT_EQ(response.error(), "Kill switch is unavailable on this firmware");
    EXPECT_EQ(response.state().at("revision"), revision);
    ASSERT_EQ(response.writes().size(), 1U) << "the mute command went out first";
    pump(response);
    EXPECT_EQ(device.receivedTexts().back(), "settings:update muteNonAlarmSounds=1");
}

TEST_F(SessionDispatchTest, EnforcesTheSizeLimitsInclusively)
{
    const std::string limit = "Native request exceeds its size limit";
    EXPECT_TRUE(dispatchRaw(stateActionOfLength(65536)).ok());
    EXPECT_EQ(dispatchRaw(stateActionOfLength(65537)).error(), limit);
    EXPECT_TRUE(dispatchRaw(stateAction(), Data(16777216, 'x')).ok());
    EXPECT_EQ(dispatchRaw(stateAction(), Data(16777217, 'x')).error(), limit);
}

TEST_F(SessionDispatchTest, RefusesMalformedEnvelopes)
{
    const struct {
        std::string_view action;
        std::string_view error;
    } cases[] = {
        { R"({"version":2,"action":"state"})", "Invalid action envelope" },
        { R"({"action":"state"})", "Invalid action envelope" },
        { R"({"version":true,"action":"state"})", "Invalid action envelope" },
        { R"({"version":"1","action":"state"})", "Invalid action envelope" },
        { R"({"version":1,"action":5})", "Invalid action envelope" },
        { R"({"version":1})", "Invalid action envelope" },
        { R"([{"version":1,"action":"state"}])", "Invalid action envelope" },
        { "state", "The data is not valid JSON" },
        { "", "The data is not valid JSON" },
    };
    for (const auto& [action, error] : cases) {
        const SessionResponse response = dispatchRaw(textData(action));
        EXPECT_FALSE(response.ok()) << action;
        EXPECT_EQ(response.error(), error) << action;
        EXPECT_EQ(response.state().at("revision"), 0) << action;
    }
    EXPECT_TRUE(dispatchRaw(textData(R"({"version":1.0,"action":"state"})")).ok());
}

TEST_F(SessionDispatchTest, AnUnknownActionFailsYetCountsAsUserActivity)
{
    connect();
    advance(50s);
    EXPECT_EQ(dispatch("state").state().at("idleSeconds"), 10);
    const SessionResponse unknown = dispatch("frobnicate");
    EXPECT_EQ(unknown.error(), "Unknown action: frobnicate");
    EXPECT_FALSE(unknown.state().contains("idleSeconds"));
}

TEST_F(SessionDispatchTest, LinkCallbacksMustCarryTheCurrentGeneration)
{
    for (const std::string_view action : { "receiveFrame", "receiveMessage", "writeComplete" }) {
        EXPECT_EQ(dispatch(action, { { "generation", 0 } }).error(), "Stale connection callback") << action;
    }

    connect();
    ASSERT_EQ(generation(), 1U);
    for (const Json& stale : { Json(0), Json(2), Json(-1), Json("1"), Json(nullptr), Json(1.5) }) {
        const SessionResponse response = dispatch("writeComplete", { { "generation", stale } });
        EXPECT_EQ(response.error(), "Stale connection callback") << stale;
        EXPECT_TRUE(response.effects().empty());
    }
    EXPECT_EQ(dispatch("writeComplete").error(), "Stale connection callback");
    EXPECT_TRUE(dispatch("writeComplete", { { "generation", 1 } }).ok());
    EXPECT_TRUE(dispatch("writeComplete", { { "generation", 1.0 } }).ok());
}

TEST_F(SessionDispatchTest, OnlyHostActivityRestartsTheIdleCountdown)
{
    connect();
    advance(46s);
    for (const std::string_view action : { "state", "tick" }) {
        EXPECT_EQ(dispatch(action).state().at("idleSeconds"), 14) << action;
    }
    EXPECT_EQ(callback("writeComplete").state().at("idleSeconds"), 14);
    EXPECT_EQ(callback("receiveFrame", Data { 1, 2, 3 }).state().at("idleSeconds"), 14);
    EXPECT_FALSE(dispatch("interact").state().contains("idleSeconds"));

    advance(46s);
    const SessionResponse refused = dispatch("connect", { { "maximumWriteLength", 5 } });
    EXPECT_FALSE(refused.ok());
    EXPECT_FALSE(refused.state().contains("idleSeconds"));
}

TEST_F(SessionDispatchTest, AnyActionMayChangeTheSessionTimeZone)
{
    Json data = sampleDeviceData();
    // A one-time schedule known only by its minute count: 2025-06-15 23:30 UTC, the 16th in Tokyo.
    data["schedules"] = Json::array({ Json { { "id", 4 }, { "routineId", 2 }, { "hour", 8 }, { "minute", 30 },
        { "days", 128 }, { "enabled", 1 }, { "runAt", 29167170 } } });
    loadOverSimulator(data);
    EXPECT_EQ(state().at("routineSchedulePreviews").at("2"), "08:30 Jun 15, 2025");
    EXPECT_FALSE(state().at("routineSchedulePreviews").contains("1"));

    const SessionResponse moved = dispatch("state", { { "timeZone", "Asia/Tokyo" } });
    EXPECT_EQ(moved.state().at("routineSchedulePreviews").at("2"), "08:30 Jun 16, 2025");
    EXPECT_EQ(dispatch("state").state().at("routineSchedulePreviews").at("2"), "08:30 Jun 16, 2025");
}

} // namespace
} // namespace tavrik::test
