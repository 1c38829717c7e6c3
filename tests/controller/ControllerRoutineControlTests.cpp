#include "tests/controller/ControllerTestSupport.hpp"

namespace tavrik::test {
namespace {

using namespace std::chrono_literals;

class ControllerRoutineControlTest : public ControllerTest {
protected:
    void SetUp() override
    {
        addDevice();
        loadFromDevice();
        ASSERT_TRUE(controller->hasLoadedData());
    }

    std::vector<std::string> commands() const { return device->receivedCommands(); }
};

TEST_F(ControllerRoutineControlTest, AConnectedDeviceGetsTheTriggerAtOnce)
{
    controller->startRoutineControl("trigger id=3");
    settle();
    EXPECT_EQ(commands(), (std::vector<std::string> { "routine:trigger id=3" }));
    EXPECT_FALSE(probe().pendingRoutineCommand().has_value());
    EXPECT_EQ(controller->routineError(), std::nullopt);
    // Open until the device answers or the next reset.
    EXPECT_TRUE(probe().routineControlSessionActive());
}

TEST_F(ControllerRoutineControlTest, WhileASessionRunsTheTriggerIsRefused)
{
    controller->beginSession(SyncMode::load);
    controller->startRoutineControl("trigger id=3");
    EXPECT_EQ(controller->routineError(), "Finish the current Bluetooth task first");
    EXPECT_FALSE(probe().pendingRoutineCommand().has_value());
    settle();
    EXPECT_TRUE(commands().empty());
}

TEST_F(ControllerRoutineControlTest, WhileDisconnectedTheTriggerWaitsForACommandConnection)
{
    probe().resetConnectionState();
    settle();
    controller->startRoutineControl("trigger id=1");
    controller->startRoutineControl("trigger id=2"); // replaces the one not yet sent
    EXPECT_EQ(probe().pendingRoutineCommand(), "trigger id=2");
    EXPECT_EQ(controller->syncStage(), SyncStage::connecting());
    EXPECT_EQ(probe().sessionMode(), std::nullopt);
    settle();
    EXPECT_EQ(commands(), (std::vector<std::string> { "routine:trigger id=2" }));
    EXPECT_FALSE(probe().pendingRoutineCommand().has_value());
}

TEST_F(ControllerRoutineControlTest, ARefusedTriggerEndsTheCommandConnection)
{
    device->peripheral()->maximumWriteLength = 1;
    controller->startRoutineControl("trigger id=3");
    EXPECT_EQ(controller->routineError(), "Failed to send routine command");
    EXPECT_FALSE(probe().routineControlSessionActive());
    EXPECT_FALSE(probe().pendingRoutineCommand().has_value());
}

TEST_F(ControllerRoutineControlTest, TagCommandsSetTheScanStateByWhatTheyAsk)
{
    const struct {
        std::string command;
        bool refuse;
        TagScanState state;
    } cases[] = {
        { "scan", false, TagScanState::requesting() },
        { "scan purpose=kill_switch", false, TagScanState::requesting() },
        { "cancel", false, TagScanState::idle() },
        { "scan", true, TagScanState::failed("Failed to send tag command") },
        { "cancel", true, TagScanState::failed("Failed to send tag command") },
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.command + (entry.refuse ? " (refused)" : ""));
        controller->beginSession(SyncMode::load);
        settle();
        ASSERT_EQ(controller->tagScanState(), TagScanState::idle());
        device->peripheral()->maximumWriteLength = entry.refuse ? 1 : 185;
        const std::size_t before = commands().size();
        EXPECT_EQ(controller->sendTagCommand(entry.command), !entry.refuse);
        settle();
        EXPECT_EQ(controller->tagScanState(), entry.state);
        EXPECT_EQ(commands().size(), before + (entry.refuse ? 0 : 1));
        if (!entry.refuse) {
            EXPECT_EQ(commands().back(), "tag:" + entry.command);
        }
    }
}

} // namespace
} // namespace tavrik::test
