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
    probe().startRoutineControl("trigger id=3");
    settle();
    EXPECT_EQ(commands(), (std::vector<std::string> { "routine:trigger id=3" }));
    EXPECT_FALSE(probe().pendingRoutineCommand().has_value());
    EXPECT_EQ(controller->routineError(), std::nullopt);
    // Open until the device answers or the next reset: the idle minute leaves the link up.
    EXPECT_FALSE(idleMinuteEndsLink());
}

TEST_F(ControllerRoutineControlTest, WhileASessionRunsTheTriggerIsRefused)
{
    controller->beginSession(SyncMode::load);
    probe().startRoutineControl("trigger id=3");
    EXPECT_EQ(controller->routineError(), "Finish the current Bluetooth task first");
    EXPECT_FALSE(probe().pendingRoutineCommand().has_value());
    settle();
    EXPECT_TRUE(commands().empty());
}

TEST_F(ControllerRoutineControlTest, WhileDisconnectedTheTriggerWaitsForACommandConnection)
{
    probe().resetConnectionState();
    settle();
    probe().startRoutineControl("trigger id=1");
    probe().startRoutineControl("trigger id=2"); // replaces the one not yet sent
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
    probe().startRoutineControl("trigger id=3");
    EXPECT_EQ(controller->routineError(), "Failed to send routine command");
    EXPECT_FALSE(probe().pendingRoutineCommand().has_value());
    // Nothing holds the link any more: once writes go through, the idle minute ends it.
    device->peripheral()->maximumWriteLength = 185;
    EXPECT_TRUE(idleMinuteEndsLink());
    EXPECT_EQ(commands(), (std::vector<std::string> { "system:disconnect" }));
}

TEST_F(ControllerRoutineControlTest, ADeviceErrorAnsweringTheStartEndsItWhateverEditWentLast)
{
    using namespace std::chrono_literals;
    struct Case {
        std::string name;
        // An edit handed to the link before the start, or right after it.
        std::optional<AtomicCommandChannel> before;
        std::optional<AtomicCommandChannel> after;
    };
    const std::vector<Case> cases {
        { "no edit yet", std::nullopt, std::nullopt },
        { "a tag edit before", AtomicCommandChannel::tag, std::nullopt },
        { "a schedule edit before", AtomicCommandChannel::schedule, std::nullopt },
        { "a settings edit before", AtomicCommandChannel::settings, std::nullopt },
        { "a tag edit after", std::nullopt, AtomicCommandChannel::tag },
    };
    const auto edit = [this](AtomicCommandChannel channel) {
        probe().persist(channel, std::uint32_t { 1 }, { "update id=1 name=\"Hall\"" }, false, std::nullopt);
    };
    device->answerCommand = [](const std::string& channel, const std::string& command) {
        return channel == "routine" && command.starts_with("trigger")
            ? std::vector<Json> { { { "type", "error" }, { "message", "Routine has no steps" } } }
            : std::vector<Json> {};
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        loadFromDevice();
        ASSERT_TRUE(controller->hasLoadedData());
        if (test.before) {
            edit(*test.before);
            settle();
        }
        controller->triggerRoutine(3);
        if (test.after) {
            edit(*test.after);
        }
        settle();

        // The refusal is the routine's, and the command connection ends with it.
        EXPECT_EQ(controller->routineError(), "Routine has no steps");
        EXPECT_EQ(controller->tagError(), std::nullopt);
        EXPECT_EQ(controller->scheduleError(), std::nullopt);
        EXPECT_EQ(controller->settingsError(), std::nullopt);
        EXPECT_TRUE(idleMinuteEndsLink());
        // The device is loaded again after the disconnect.
        scheduler.advance(1s);
        ASSERT_TRUE(controller->hasLoadedData());
    }
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
