#include "tests/controller/ControllerTestSupport.hpp"

namespace tavrik::test {
namespace {

using namespace std::chrono_literals;

class ControllerCommandTest : public ControllerTest {
protected:
    void SetUp() override
    {
        addDevice();
        loadFromDevice();
        ASSERT_TRUE(controller->hasLoadedData());
    }

    void persistTag(std::uint32_t id, const std::string& command, bool debounce, std::optional<std::string> attribute)
    {
        probe().persist(AtomicCommandChannel::tag, id, { command }, debounce, std::move(attribute));
    }

    std::vector<std::string> commands() const { return device->receivedCommands(); }
};

TEST_F(ControllerCommandTest, SameAttributeEditsWithinTheDebounceSendOnlyTheLast)
{
    persistTag(5, "update id=5 name=\"A\"", true, "name");
    scheduler.advance(100ms);
    persistTag(5, "update id=5 name=\"AB\"", true, "name");
    scheduler.advance(100ms);
    persistTag(5, "update id=5 name=\"ABC\"", true, "name");
    scheduler.advance(199ms);
    EXPECT_TRUE(commands().empty());
    scheduler.advance(1ms);
    settle();
    EXPECT_EQ(commands(), (std::vector<std::string> { "tag:update id=5 name=\"ABC\"" }));
    EXPECT_EQ(controller->syncStage(), SyncStage::completed());
    // No edit is left waiting: nothing more goes out later.
    scheduler.advance(1s);
    settle();
    EXPECT_EQ(commands().size(), 1U);
}

TEST_F(ControllerCommandTest, AnotherAttributeFlushesThePendingEdit)
{
    persistTag(5, "update id=5 name=\"A\"", true, "name");
    scheduler.advance(50ms);
    persistTag(5, "update id=5 uid=\"01\"", true, "uid");
    settle();
    EXPECT_EQ(commands(), (std::vector<std::string> { "tag:update id=5 name=\"A\"" }));
    scheduler.advance(200ms);
    settle();
    EXPECT_EQ(commands(), (std::vector<std::string> { "tag:update id=5 name=\"A\"", "tag:update id=5 uid=\"01\"" }));
}

TEST_F(ControllerCommandTest, WholeItemEditSupersedesThePendingOne)
{
    persistTag(5, "update id=5 name=\"A\"", true, "name");
    persistTag(5, "delete id=5", false, std::nullopt);
    settle();
    scheduler.advance(1s);
    EXPECT_EQ(commands(), (std::vector<std::string> { "tag:delete id=5" }));
}

TEST_F(ControllerCommandTest, GroupEditsNeedDataVersionNine)
{
    controller.reset();
    device->data.dataVersion = 8;
    loadFromDevice();
    ASSERT_EQ(controller->deviceSyncDataVersion(), 8);
    probe().persist(AtomicCommandChannel::groups, std::string("1:2"), { "delete id=2" }, false, std::nullopt);
    settle();
    EXPECT_EQ(controller->routineError(), "Update Tavrik firmware before editing groups.");
    EXPECT_TRUE(commands().empty());
    // Counted as handled: the data is taken as saved.
    EXPECT_EQ(controller->syncStage(), SyncStage::completed());
    // Dropped, not left waiting: the next edit goes out alone.
    probe().persist(AtomicCommandChannel::tag, std::uint32_t { 3 }, { "delete id=3" }, false, std::nullopt);
    settle();
    EXPECT_EQ(commands(), (std::vector<std::string> { "tag:delete id=3" }));
}

TEST_F(ControllerCommandTest, RefusedSendIsQueuedWithItsChannelsMessage)
{
    const std::vector<ChannelErrorCase> cases = channelErrorCases();
    device->peripheral()->maximumWriteLength = 4;
    for (const ChannelErrorCase& test : cases) {
        SCOPED_TRACE(std::string(rawValue(test.channel)));
        probe().persist(test.channel, std::uint32_t { 9 }, { "delete id=9" }, false, std::nullopt);
        EXPECT_EQ(test.error(*controller), std::string(saveFailureMessage(test.channel)));
    }
    const std::size_t lines = controller->logItems().size();
    probe().persist(AtomicCommandChannel::settings, std::string("device"), { "set mute=1" }, false, std::nullopt);
    EXPECT_EQ(controller->logItems().size(), lines + 1);
    EXPECT_EQ(controller->logItems().back().text, "Failed to save settings change");
    settle();
    EXPECT_TRUE(commands().empty());
    EXPECT_NE(controller->syncStage(), SyncStage::completed());

    // The next flush delivers them in order.
    device->peripheral()->maximumWriteLength = 185;
    probe().sendAtomicCommandsIfNeeded();
    settle();
    EXPECT_EQ(commands(),
        (std::vector<std::string> { "schedule:delete id=9", "tag:delete id=9", "routine:delete id=9",
            "steps:delete id=9", "groups:delete id=9", "settings:set mute=1" }));
    EXPECT_EQ(controller->syncStage(), SyncStage::completed());
    // Delivered once: a later flush has nothing left to send.
    probe().sendAtomicCommandsIfNeeded();
    settle();
    EXPECT_EQ(commands().size(), cases.size() + 1);
}

class ControllerCommandConnectionTest : public ControllerTest { };

TEST_F(ControllerCommandConnectionTest, EditsWhileDisconnectedOpenACommandConnection)
{
    addDevice();
    makeController();
    probe().persist(AtomicCommandChannel::tag, std::uint32_t { 1 }, { "delete id=1" }, false, std::nullopt);
    EXPECT_EQ(controller->statusText(), "Scanning\u2026");
    EXPECT_TRUE(central.isScanning());
    EXPECT_EQ(controller->syncStage(), SyncStage::connecting());
    probe().persist(AtomicCommandChannel::tag, std::uint32_t { 2 }, { "delete id=2" }, false, std::nullopt);
    EXPECT_TRUE(device->receivedCommands().empty()) << "both wait for the connection";
    settle();
    EXPECT_FALSE(device->lastSyncStart());
    EXPECT_EQ(device->receivedCommands(), (std::vector<std::string> { "tag:delete id=1", "tag:delete id=2" }));
    // The command connection's work is done; the link stays up.
    EXPECT_EQ(controller->syncStage(), SyncStage::completed());
    EXPECT_TRUE(controller->isConnected());
}

TEST_F(ControllerCommandConnectionTest, FailedCommandConnectionDropsTheQueuedEdits)
{
    addDevice();
    makeController();
    central.failNextConnect(BleError { "Timed out", 6 });
    probe().persist(AtomicCommandChannel::tag, std::uint32_t { 1 }, { "delete id=1" }, false, std::nullopt);
    settle();
    EXPECT_EQ(controller->routineError(), "Connect failed");
    // Nothing wants the link any more.
    EXPECT_FALSE(bluetoothReturningLooksForTheDevice());
    // The dropped edit never reaches the device: the next command connection carries only its own.
    probe().persist(AtomicCommandChannel::tag, std::uint32_t { 2 }, { "delete id=2" }, false, std::nullopt);
    settle();
    EXPECT_EQ(device->receivedCommands(), (std::vector<std::string> { "tag:delete id=2" }));
}

TEST_F(ControllerCommandConnectionTest, UnexpectedDisconnectOfACommandConnectionStartsALoad)
{
    addDevice().silent = true;
    makeController();
    probe().persist(AtomicCommandChannel::tag, std::uint32_t { 1 }, { "delete id=1" }, false, std::nullopt);
    settle();
    device->silent = false;
    central.dropLink(device->peripheral(), BleError { "gone", 7 });
    settle();
    EXPECT_TRUE(logContains("Tavrik disconnected; starting load session"));
    EXPECT_TRUE(controller->hasLoadedData());
}

} // namespace
} // namespace tavrik::test
