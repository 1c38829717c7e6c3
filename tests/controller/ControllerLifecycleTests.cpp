#include "tests/controller/ControllerTestSupport.hpp"

#include <functional>

namespace tavrik::test {
namespace {

using namespace std::chrono_literals;

class ControllerLifecycleTest : public ControllerTest {
protected:
    void SetUp() override
    {
        addDevice();
        loadFromDevice();
        ASSERT_TRUE(controller->hasLoadedData());
        ASSERT_TRUE(controller->isConnected());
    }

    std::vector<std::string> commands() const { return device->receivedCommands(); }

    bool sent(const std::string& command) const
    {
        const auto all = commands();
        return std::find(all.begin(), all.end(), command) != all.end();
    }

    // The device stops offering the connection once it is told to go, as a real one does.
    void leaveRangeOn(const std::string& command)
    {
        device->answerCommand = [this, command](const std::string& channel, const std::string& text) {
            if (channel + ":" + text == command) {
                central.removePeripheral(device->peripheral());
            }
            return std::vector<Json> {};
        };
    }

    // Makes every send on the data channel fail: no frame fits a write.
    void refuseSends() { device->peripheral()->maximumWriteLength = 1; }
};

TEST_F(ControllerLifecycleTest, TheIdleMinuteShowsItsLastThirtySecondsAndThenDisconnects)
{
    leaveRangeOn("system:disconnect");
    std::vector<std::optional<int>> shown;
    for (int second = 1; second <= 59; ++second) {
        scheduler.advance(1s);
        shown.push_back(controller->idleDisconnectSecondsRemaining());
    }
    for (int second = 1; second <= 29; ++second) {
        EXPECT_EQ(shown[static_cast<std::size_t>(second - 1)], std::nullopt) << "after " << second << " s";
    }
    for (int second = 30; second <= 59; ++second) {
        EXPECT_EQ(shown[static_cast<std::size_t>(second - 1)], 60 - second) << "after " << second << " s";
    }
    EXPECT_FALSE(sent("system:disconnect"));

    scheduler.advance(1s);
    settle();
    EXPECT_TRUE(sent("system:disconnect"));
    EXPECT_TRUE(logContains("Disconnecting Bluetooth after one minute idle"));
    EXPECT_EQ(controller->idleDisconnectSecondsRemaining(), std::nullopt);
    EXPECT_TRUE(probe().isExpectingResetDisconnect());
    EXPECT_TRUE(controller->hasLoadedData());

    // After the grace the data is gone and a new load waits for the device.
    scheduler.advance(250ms);
    settle();
    EXPECT_FALSE(controller->hasLoadedData());
    EXPECT_TRUE(controller->tags().empty());
    EXPECT_EQ(probe().sessionMode(), SyncMode::load);
    EXPECT_EQ(controller->syncStage(), SyncStage::waitingForDevice());
    EXPECT_FALSE(controller->isConnected());
}

TEST_F(ControllerLifecycleTest, AnInteractionRestartsTheWholeMinute)
{
    scheduler.advance(45s);
    EXPECT_EQ(controller->idleDisconnectSecondsRemaining(), 15);
    controller->recordUserInteraction();
    EXPECT_EQ(controller->idleDisconnectSecondsRemaining(), std::nullopt);
    scheduler.advance(59s);
    EXPECT_FALSE(sent("system:disconnect"));
    EXPECT_EQ(controller->idleDisconnectSecondsRemaining(), 1);
    scheduler.advance(1s);
    settle();
    EXPECT_TRUE(sent("system:disconnect"));
}

TEST_F(ControllerLifecycleTest, BusyWorkHoldsTheIdleDisconnectOffForAnotherMinute)
{
    const std::vector<std::pair<std::string, std::function<void(TavrikBleCentral&)>>> busy {
        { "time-sync notice open",
            [](TavrikBleCentral& c) {
                ControllerProbe(c).evaluateTimeSyncNeed(DeviceClockSnapshot { 0, 2025, 1, 1, 0, 0, 0 });
            } },
        { "routine control running", [](TavrikBleCentral& c) { ControllerProbe(c).startRoutineControl("trigger id=1"); } },
        { "restore waiting for its user",
            [this](TavrikBleCentral& c) {
                device->answerSyncStart = false;
                c.startRestoreSession();
                settle();
                device->send({ { "type", "sync_waiting" }, { "mode", "restore" },
                    { "code", ControllerProbe(c).syncCode().value_or("") } });
            } },
    };
    for (const auto& [what, makeBusy] : busy) {
        SCOPED_TRACE(what);
        controller.reset();
        addDevice();
        device->answerRestore = false;
        loadFromDevice();
        makeBusy(*controller);
        settle();
        const std::size_t before = commands().size();
        // Nothing would end the link: the minute runs out without showing a countdown.
        std::vector<int> shown;
        for (int second = 0; second < 60; ++second) {
            scheduler.advance(1s);
            if (const auto remaining = controller->idleDisconnectSecondsRemaining()) {
                shown.push_back(*remaining);
            }
        }
        settle();
        EXPECT_EQ(shown, std::vector<int> {});
        EXPECT_FALSE(sent("system:disconnect"));
        EXPECT_EQ(commands().size(), before);
        EXPECT_TRUE(controller->isConnected());
    }
}

TEST_F(ControllerLifecycleTest, APendingClockCommandHoldsTheIdleDisconnectOff)
{
    refuseSends();
    probe().evaluateTimeSyncNeed(DeviceClockSnapshot { 0, 2025, 1, 1, 0, 0, 0 });
    controller->acceptTimeSyncNotice();
    ASSERT_TRUE(probe().pendingClockCommand().has_value());
    scheduler.advance(60s);
    settle();
    EXPECT_TRUE(controller->isConnected());
    EXPECT_FALSE(logContains("Disconnecting Bluetooth after one minute idle"));
}

TEST_F(ControllerLifecycleTest, NoCountdownRunsWithoutLoadedDataOrConnection)
{
    probe().resetLocalData(false);
    controller->recordUserInteraction();
    scheduler.advance(90s);
    EXPECT_EQ(controller->idleDisconnectSecondsRemaining(), std::nullopt);
    EXPECT_FALSE(logContains("Disconnecting Bluetooth after one minute idle"));
}

TEST_F(ControllerLifecycleTest, EjectTellsTheDeviceAndReturnsToALoadAfterTheGrace)
{
    leaveRangeOn("system:eject");
    ASSERT_TRUE(controller->canEjectTavrik());
    controller->ejectTavrik();
    settle();
    EXPECT_TRUE(sent("system:eject"));
    EXPECT_TRUE(logContains("Ejecting Tavrik Bluetooth session"));
    EXPECT_TRUE(probe().isExpectingResetDisconnect());
    scheduler.advance(249ms);
    EXPECT_TRUE(controller->hasLoadedData());
    scheduler.advance(1ms);
    settle();
    EXPECT_FALSE(controller->hasLoadedData());
    EXPECT_EQ(controller->syncStage(), SyncStage::waitingForDevice());
    EXPECT_EQ(controller->statusText(), "Scanning\u2026");
    EXPECT_TRUE(controller->canEjectTavrik()); // the new load session runs
}

TEST_F(ControllerLifecycleTest, ARefusedEjectSkipsTheGrace)
{
    refuseSends();
    central.removePeripheral(device->peripheral());
    controller->ejectTavrik();
    EXPECT_TRUE(controller->hasLoadedData());
    settle();
    EXPECT_FALSE(controller->hasLoadedData());
    EXPECT_EQ(controller->syncStage(), SyncStage::waitingForDevice());
}

TEST_F(ControllerLifecycleTest, EjectIsOfferedOnlyWhileThereIsSomethingToLetGoOf)
{
    EXPECT_TRUE(controller->canEjectTavrik());
    probe().resetLocalData(false);
    EXPECT_FALSE(controller->canEjectTavrik());
    controller->beginSession(SyncMode::load);
    EXPECT_TRUE(controller->canEjectTavrik());
}

TEST_F(ControllerLifecycleTest, TheFullResetDropsConnectionDataAndPendingWork)
{
    refuseSends();
    probe().evaluateTimeSyncNeed(DeviceClockSnapshot { 0, 2025, 1, 1, 0, 0, 0 });
    probe().startRoutineControl("trigger id=1");
    probe().resetLocalData(true);
    settle();
    EXPECT_FALSE(controller->isConnected());
    EXPECT_EQ(probe().targetPeripheral(), nullptr);
    EXPECT_FALSE(probe().dataCharacteristic().has_value());
    EXPECT_EQ(probe().sessionMode(), std::nullopt);
    EXPECT_EQ(controller->syncStage(), SyncStage::idle());
    EXPECT_EQ(controller->statusText(), "Bluetooth idle");
    EXPECT_FALSE(controller->hasLoadedData());
    EXPECT_TRUE(controller->tags().empty());
    EXPECT_TRUE(controller->routineSummaries().empty());
    EXPECT_FALSE(probe().baselineSnapshot().has_value());
    EXPECT_FALSE(controller->timeSyncNotice().has_value());
    EXPECT_FALSE(probe().pendingRoutineCommand().has_value());
    // Nothing is left to let go of, and nothing wants the link back.
    EXPECT_FALSE(controller->canEjectTavrik());
    EXPECT_FALSE(bluetoothReturningLooksForTheDevice());
    EXPECT_EQ(controller->deviceHardwareTarget(), FirmwareHardwareTarget::m5StickC);
    EXPECT_EQ(controller->deviceFirmwareVersion(), std::nullopt);
    EXPECT_EQ(probe().nextLocalScheduleId(), 1U);
    EXPECT_EQ(probe().nextLocalRoutineId(), 1U);
}

TEST_F(ControllerLifecycleTest, TheQuitTellsTheDeviceWaitsAndEndsWithoutStartingAnything)
{
    const int scansBefore = central.scanCount;
    bool done = false;
    controller->prepareForAppTermination([&] { done = true; });
    settle();
    EXPECT_TRUE(logContains("Preparing Tavrik Bluetooth session for app termination"));
    EXPECT_TRUE(sent("system:disconnect"));
    EXPECT_FALSE(done);
    scheduler.advance(299ms);
    EXPECT_FALSE(done);
    EXPECT_EQ(central.cancelCount, 0);
    scheduler.advance(1ms);
    EXPECT_TRUE(done);
    EXPECT_EQ(central.cancelCount, 1);
    EXPECT_FALSE(central.isScanning());

    // The disconnect the quit caused is reported later; it starts no load, scan or connection.
    scheduler.runUntilIdle(10min);
    EXPECT_FALSE(controller->isConnected());
    EXPECT_EQ(central.scanCount, scansBefore);
    EXPECT_EQ(probe().sessionMode(), std::nullopt);
    EXPECT_TRUE(controller->hasLoadedData());
    EXPECT_FALSE(logContains("Disconnecting Bluetooth after one minute idle"));
}

// Quit or eject right after typing: the edits still in their debounce go out, in the order they
// were made, before the device is told to go.
TEST_F(ControllerLifecycleTest, QuitAndEjectSendEveryWaitingEditFirstInOrder)
{
    const struct {
        const char* what;
        std::function<void()> leave;
        std::string systemCommand;
    } cases[] = {
        { "quit", [this] { controller->prepareForAppTermination({}); }, "system:disconnect" },
        { "eject", [this] { controller->ejectTavrik(); }, "system:eject" },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        controller.reset();
        SetUp();
        const std::size_t before = commands().size();
        controller->createTag("Desk", "04 AA");
        const std::uint32_t id = controller->tags().back().id;
        controller->updateTag(id, "Desk 2");
        controller->setMuteNonAlarmSounds(!controller->muteNonAlarmSounds());
        controller->updateTagUid(id, "04 BB"); // sends the held rename first
        const std::string mute
            = std::string("settings:update muteNonAlarmSounds=") + (controller->muteNonAlarmSounds() ? "1" : "0");
        test.leave();
        settle();
        const std::vector<std::string> all = commands();
        const std::vector<std::string> sentNow(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
        EXPECT_EQ(sentNow,
            (std::vector<std::string> { "tag:create id=" + std::to_string(id) + " uid=\"04 AA\" name=\"Desk\"",
                "tag:update id=" + std::to_string(id) + " name=\"Desk 2\"", mute,
                "tag:update id=" + std::to_string(id) + " uid=\"04 BB\"", test.systemCommand }));
        scheduler.advance(1s);
        EXPECT_EQ(commands().size(), all.size()) << "nothing is left to go after the system command";
    }
}

TEST_F(ControllerLifecycleTest, TheQuitFinishesWhenTheDeviceNeverAnswers)
{
    device->peripheral()->silent = true;
    bool done = false;
    controller->prepareForAppTermination([&] { done = true; });
    scheduler.advance(300ms);
    EXPECT_TRUE(done);
}

TEST_F(ControllerLifecycleTest, TheQuitWithNothingAttachedSendsNothingAndDoesNotWait)
{
    probe().resetLocalData(false);
    settle();
    const std::size_t before = device->receivedTexts().size();
    bool done = false;
    controller->prepareForAppTermination([&] { done = true; });
    settle();
    EXPECT_TRUE(done);
    EXPECT_EQ(device->receivedTexts().size(), before);
}

TEST_F(ControllerLifecycleTest, ASecondQuitRequestWaitsForTheSameEnd)
{
    int first = 0;
    int second = 0;
    controller->prepareForAppTermination([&] { ++first; });
    controller->prepareForAppTermination([&] { ++second; });
    scheduler.advance(300ms);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);
    EXPECT_EQ(commands(), (std::vector<std::string> { "system:disconnect" }));
}

TEST_F(ControllerLifecycleTest, AQuitDuringTheEjectGraceStartsNoNewLoad)
{
    controller->ejectTavrik();
    settle();
    bool done = false;
    controller->prepareForAppTermination([&] { done = true; });
    scheduler.runUntilIdle(10min);
    EXPECT_TRUE(done);
    EXPECT_EQ(probe().sessionMode(), std::nullopt);
    EXPECT_FALSE(controller->isConnected());
}

TEST_F(ControllerLifecycleTest, AQuitAnsweredAfterTheControllerIsGoneStillFinishes)
{
    bool done = false;
    controller->prepareForAppTermination([&] { done = true; });
    settle();
    controller.reset();
    scheduler.advance(300ms);
    EXPECT_TRUE(done);
}

TEST_F(ControllerLifecycleTest, ACommandConnectionDeliversWhatWaitsOnceTheDeviceIsReady)
{
    probe().resetLocalData(false);
    settle();
    probe().startRoutineControl("trigger id=4");
    // The command connection is something the eject control can let go of.
    EXPECT_TRUE(controller->canEjectTavrik());
    EXPECT_EQ(controller->statusText(), "Scanning\u2026");
    EXPECT_EQ(controller->syncStage(), SyncStage::connecting());
    EXPECT_EQ(probe().sessionMode(), std::nullopt);
    settle();
    EXPECT_EQ(commands(), (std::vector<std::string> { "routine:trigger id=4" }));
    EXPECT_FALSE(probe().pendingRoutineCommand().has_value());
}

} // namespace
} // namespace tavrik::test
