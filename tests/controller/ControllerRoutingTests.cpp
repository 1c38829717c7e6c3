#include "tests/controller/ControllerTestSupport.hpp"

namespace tavrik::test {
namespace {

class ControllerRoutingTest : public ControllerTest {
protected:
    void SetUp() override
    {
        addDevice();
        loadFromDevice();
        ASSERT_TRUE(controller->hasLoadedData());
    }

    void deliver(const Json& message)
    {
        device->send(message);
        settle();
    }
};

TEST_F(ControllerRoutingTest, EveryStateMessageReachesItsHandler)
{
    deliver({ { "type", "state" },
        { "schedules",
            Json::array({ { { "id", 7 }, { "routineId", 1 }, { "hour", 8 }, { "minute", 0 }, { "days", 127 } } }) } });
    ASSERT_EQ(controller->schedules().size(), 1u);
    EXPECT_EQ(controller->schedules()[0].id, 7u);

    deliver(
        { { "type", "tags_state" }, { "tags", Json::array({ { { "id", 2 }, { "uid", "0A" }, { "name", "Gym" } } }) } });
    ASSERT_EQ(controller->tags().size(), 1u);
    EXPECT_EQ(controller->tags()[0].name, "Gym");

    deliver({ { "type", "routines_state" }, { "routines", Json::array({ { { "id", 3 }, { "label", "Morning" } } }) } });
    ASSERT_EQ(controller->routineSummaries().size(), 1u);
    EXPECT_EQ(controller->routineSummaries()[0].label, "Morning");
}

TEST_F(ControllerRoutingTest, DeviceErrorGoesToTheLastCommandsChannel)
{
    // With no edit sent yet it is a tag answer.
    deliver({ { "type", "error" }, { "message", "first" } });
    EXPECT_EQ(controller->tagError(), "first");

    const std::vector<ChannelErrorCase> cases = channelErrorCases();
    for (const ChannelErrorCase& test : cases) {
        const std::string text = "refused " + std::string(rawValue(test.channel));
        probe().persist(test.channel, std::uint32_t { 1 }, { "delete id=1" }, false, std::nullopt);
        settle();
        deliver({ { "type", "error" }, { "message", text } });
        EXPECT_EQ(test.error(*controller), text);
    }

    probe().persist(AtomicCommandChannel::settings, std::string("device"), { "set mute=1" }, false, std::nullopt);
    settle();
    const auto tagError = controller->tagError();
    const auto routineError = controller->routineError();
    deliver({ { "type", "error" }, { "message", "no" } });
    EXPECT_TRUE(logContains("Settings update failed"));
    EXPECT_EQ(controller->tagError(), tagError);
    EXPECT_EQ(controller->routineError(), routineError);
}

TEST_F(ControllerRoutingTest, UnusablePayloadsAreLogged)
{
    device->sendPayload({ 0x7B, 0xFF, 0xFE, 0x7D });
    settle();
    EXPECT_TRUE(logContains("[ble:data] binary payload not supported"));

    const struct {
        std::string payload;
        std::string logPrefix;
    } cases[] = {
        { "not json", "[ble:data] invalid JSON: " },
        { R"({"kind":"state"})", "[ble:data] invalid JSON: " },
        { R"({"type":7})", "[ble:data] invalid JSON: " },
        { R"({"type":"Sync_Data"})", "[ble:data] unhandled payload type Sync_Data" },
        { R"({"type":"mystery","extra":1})", "[ble:data] unhandled payload type mystery" },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.payload);
        probe().handleDataEnvelope(1, dataFromString(test.payload));
        ASSERT_FALSE(controller->logItems().empty());
        EXPECT_EQ(controller->logItems().back().text.rfind(test.logPrefix, 0), 0u) << controller->logItems().back().text;
    }
}

TEST_F(ControllerRoutingTest, DeviceLogLinesAreShownOnceInARow)
{
    deliver({ { "type", "log_line" }, { "message", "button pressed" } });
    deliver({ { "type", "log_line" }, { "message", "button pressed" } });
    const auto texts = logTexts();
    const auto count = std::count(texts.begin(), texts.end(), std::string("button pressed"));
    // The transfer lines sit between the two, so the second one is not a repeat of the newest line.
    EXPECT_GE(count, 1);
    const std::size_t before = controller->logItems().size();
    probe().handleDataEnvelope(1, dataFromString(R"({"type":"log_line","message":"same"})"));
    probe().handleDataEnvelope(2, dataFromString(R"({"type":"log_line","message":"same"})"));
    probe().handleDataEnvelope(3, dataFromString(R"({"type":"log_line"})"));
    probe().handleDataEnvelope(4, dataFromString(R"({"type":"log_line","message":5})"));
    EXPECT_EQ(controller->logItems().size(), before + 1);
}

TEST_F(ControllerRoutingTest, SimulatorDisconnectOverBluetoothIsIgnored)
{
    deliver({ { "type", "simulator_disconnected" } });
    EXPECT_TRUE(controller->isConnected());
    EXPECT_FALSE(logContains("Tavrik disconnected; starting load session"));
}

TEST_F(ControllerRoutingTest, UnreadableSyncDataFailsTheStageButKeepsTheData)
{
    const auto tags = controller->tags();
    deliver({ { "type", "sync_data" }, { "dataVersion", 9 }, { "tags", "not a list" } });
    EXPECT_EQ(controller->syncStage(), SyncStage::failed("Connect data invalid"));
    EXPECT_EQ(controller->tags(), tags);
    const auto& texts = logTexts();
    EXPECT_TRUE(std::any_of(texts.begin(), texts.end(),
        [](const std::string& text) { return text.rfind("Sync data decode failed: ", 0) == 0; }));
}

TEST_F(ControllerRoutingTest, LegacyDeviceNamesTheDecodeFailure)
{
    controller.reset();
    addDevice(TavrikBleProtocolProfile::legacyUnencryptedV1).stopAfterReady = true;
    loadFromDevice();
    deliver({ { "type", "sync_data" }, { "dataVersion", 9 }, { "tags", "not a list" } });
    // The session and its time-out keep running, and the time-out keeps the more specific text.
    EXPECT_EQ(probe().sessionMode(), SyncMode::load);
    ASSERT_TRUE(controller->syncStage().isFailed());
    const std::string failure = controller->syncStage().failureMessage();
    EXPECT_EQ(failure.rfind("Legacy data could not be prepared: ", 0), 0u) << failure;
    scheduler.advance(TavrikBleCentral::loadTimeout);
    EXPECT_FALSE(probe().sessionMode());
    EXPECT_EQ(controller->syncStage(), SyncStage::failed(failure));
}

TEST_F(ControllerRoutingTest, UnversionedSyncDataReportsDataVersionZero)
{
    controller.reset();
    addDevice().syncDataJson = Json { { "type", "sync_data" }, { "schedules", Json::array() },
        { "tags", Json::array() }, { "routines", Json::array() } };
    loadFromDevice();
    EXPECT_TRUE(controller->hasLoadedData());
    EXPECT_EQ(controller->deviceSyncDataVersion(), 0);
    EXPECT_FALSE(controller->routineStartTagsSupported());
}

} // namespace
} // namespace tavrik::test
