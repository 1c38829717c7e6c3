#include "tests/controller/ControllerTestSupport.hpp"

namespace tavrik::test {
namespace {

using namespace std::chrono_literals;

// No edit is stranded and none holds the link: whatever waits for a session or behind a refused send
// reaches the device in order, or is reported, and the idle minute still ends the connection.
class ControllerEditDeliveryTest : public ControllerTest {
protected:
    void SetUp() override
    {
        addDevice().data.wifi = WifiCapabilityPayload { 1, 8, {} };
        // The device applies the mute setting, so a later load shows what it holds.
        device->answerCommand = [this](const std::string& channel, const std::string& command) {
            if (channel == "settings" && command.starts_with("update muteNonAlarmSounds=")) {
                device->data.settings = SyncSettingsPayload(command.back() == '1', std::nullopt);
            }
            return std::vector<Json> {};
        };
        loadFromDevice();
        ASSERT_TRUE(controller->hasLoadedData());
    }

    std::vector<std::string> commands() const { return device->receivedCommands(); }

    bool sent(const std::string& command) const
    {
        const auto all = commands();
        return std::find(all.begin(), all.end(), command) != all.end();
    }

    // The device goes to sleep: the link drops and a new load waits for it.
    void deviceSleeps()
    {
        central.removePeripheral(device->peripheral());
        central.dropLink(device->peripheral(), std::nullopt);
        settle();
        ASSERT_EQ(probe().sessionMode(), SyncMode::load);
        ASSERT_FALSE(controller->isConnected());
    }

    void deviceWakes()
    {
        central.addPeripheral(device->peripheral());
        settle();
    }

    std::size_t received(std::string_view type) const
    {
        const auto all = device->receivedJson();
        return static_cast<std::size_t>(std::count_if(
            all.begin(), all.end(), [&](const Json& message) { return message.value("type", "") == type; }));
    }

    void refuseSends(bool refuse) { device->peripheral()->maximumWriteLength = refuse ? 4 : 185; }
};

TEST_F(ControllerEditDeliveryTest, AnEditMadeWhileALoadLooksForTheDeviceReachesItAndTheLinkIsStillReleased)
{
    deviceSleeps();
    controller->setMuteNonAlarmSounds(true);
    scheduler.advance(200ms);
    EXPECT_FALSE(sent("settings:update muteNonAlarmSounds=1")) << "it waits for the device";

    deviceWakes();
    EXPECT_TRUE(controller->hasLoadedData());
    const auto all = commands();
    EXPECT_EQ(std::count(all.begin(), all.end(), "settings:update muteNonAlarmSounds=1"), 1);
    // Sent before the load's data, so what is shown is what the device holds.
    EXPECT_TRUE(controller->muteNonAlarmSounds());
    EXPECT_TRUE(idleMinuteEndsLink());
}

TEST_F(ControllerEditDeliveryTest, AWifiRequestMadeWhileALoadLooksForTheDeviceIsSentOnceItIsConnected)
{
    central.removePeripheral(device->peripheral());
    controller->beginSession(SyncMode::load); // the window's load action while the device sleeps
    settle();
    controller->scanWifiNetworks();
    settle();
    EXPECT_EQ(received("wifi_scan"), 0U);

    deviceWakes();
    EXPECT_TRUE(controller->hasLoadedData());
    EXPECT_EQ(received("wifi_scan"), 1U);
    EXPECT_TRUE(controller->wifiRequestActivity().requestId.has_value());
}

TEST_F(ControllerEditDeliveryTest, CancellingTheWifiEditorDuringItsScanLetsTheIdleMinuteEndTheLink)
{
    controller->scanWifiNetworks();
    settle();
    ASSERT_EQ(received("wifi_scan"), 1U);
    // While the scan is outstanding it holds the link.
    EXPECT_FALSE(idleMinuteEndsLink());

    controller->resetWifiRequestState(); // the editor's Cancel; the device never answers
    EXPECT_TRUE(idleMinuteEndsLink());
}

TEST_F(ControllerEditDeliveryTest, EditsMadeWhileARestoreWaitsAreSentAndNeverHoldTheLink)
{
    // The restore waits for the device; an edit made meanwhile waits with it.
    central.removePeripheral(device->peripheral());
    probe().resetConnectionState();
    settle();
    controller->startRestoreSession();
    ASSERT_EQ(probe().sessionMode(), SyncMode::restore);
    probe().persist(AtomicCommandChannel::tag, std::uint32_t { 1 }, { "delete id=1" }, false, std::nullopt);
    EXPECT_FALSE(sent("tag:delete id=1")) << "it waits with the restore";

    deviceWakes();
    EXPECT_EQ(controller->syncStage(), SyncStage::completed());
    EXPECT_EQ(received("sync_restore"), 1U);
    EXPECT_TRUE(sent("tag:delete id=1"));
    EXPECT_TRUE(idleMinuteEndsLink());
}

TEST_F(ControllerEditDeliveryTest, EditsReachTheDeviceInTheOrderTheyWereMade)
{
    refuseSends(true);
    probe().persist(AtomicCommandChannel::tag, std::uint32_t { 1 }, { "delete id=1" }, false, std::nullopt);
    EXPECT_EQ(controller->tagError(), "Failed to save tag change");

    // The link takes writes again: the waiting edit goes first.
    refuseSends(false);
    probe().persist(AtomicCommandChannel::schedule, std::uint32_t { 2 }, { "delete id=2" }, false, std::nullopt);
    settle();
    EXPECT_EQ(commands(), (std::vector<std::string> { "tag:delete id=1", "schedule:delete id=2" }));
    EXPECT_EQ(controller->syncStage(), SyncStage::completed());

    // While one waits, later edits wait behind it and say so where they were made.
    refuseSends(true);
    probe().persist(AtomicCommandChannel::tag, std::uint32_t { 3 }, { "delete id=3" }, false, std::nullopt);
    probe().persist(AtomicCommandChannel::schedule, std::uint32_t { 4 }, { "delete id=4" }, false, std::nullopt);
    EXPECT_EQ(controller->scheduleError(), "Failed to save schedule change");
    settle();
    EXPECT_EQ(commands().size(), 2U);
    // Once the link takes writes, they follow in order, and what was delivered is not sent again.
    refuseSends(false);
    probe().sendAtomicCommandsIfNeeded();
    settle();
    EXPECT_EQ(commands(),
        (std::vector<std::string> {
            "tag:delete id=1", "schedule:delete id=2", "tag:delete id=3", "schedule:delete id=4" }));
}

// A refused edit says so where it was made, and stops saying so once the next send delivers it.
TEST_F(ControllerEditDeliveryTest, ARefusedEditShowsItsFailureUntilItIsDelivered)
{
    struct Case {
        AtomicCommandChannel channel;
        TavrikBleCentral::PersistId id;
        std::function<std::optional<std::string>(const TavrikBleCentral&)> error;
    };
    std::vector<Case> cases;
    for (const ChannelErrorCase& channel : channelErrorCases()) {
        cases.push_back({ channel.channel, std::uint32_t { 7 }, channel.error });
    }
    cases.push_back({ AtomicCommandChannel::settings, std::string("device"),
        [](const TavrikBleCentral& c) { return c.settingsError(); } });
    for (const Case& test : cases) {
        SCOPED_TRACE(std::string(rawValue(test.channel)));
        const std::string command
            = test.channel == AtomicCommandChannel::settings ? "update muteNonAlarmSounds=1" : "delete id=7";
        refuseSends(true);
        probe().persist(test.channel, test.id, { command }, false, std::nullopt);
        EXPECT_EQ(test.error(*controller), std::string(saveFailureMessage(test.channel)));

        refuseSends(false);
        probe().sendAtomicCommandsIfNeeded();
        settle();
        EXPECT_TRUE(sent(std::string(rawValue(test.channel)) + ":" + command));
        EXPECT_EQ(test.error(*controller), std::nullopt) << "the edit reached the device";
    }
}

// A settings change the link gives up on says so in the settings pane, as a tag edit does in its.
TEST_F(ControllerEditDeliveryTest, ASettingsChangeGivenUpShowsItsFailure)
{
    central.removePeripheral(device->peripheral());
    probe().resetConnectionState();
    settle();
    controller->startRestoreSession();
    controller->setMuteNonAlarmSounds(true);
    scheduler.advance(200ms);
    central.failNextConnect(BleError { "Connection timed out", 0 });
    deviceWakes();
    EXPECT_TRUE(logContains("Failed to save settings change (not sent: settings:update muteNonAlarmSounds=1)"));
    EXPECT_EQ(controller->settingsError(), "Failed to save settings change");
}

TEST_F(ControllerEditDeliveryTest, EditsTheLinkKeepsRefusingAreReportedAndTheIdleMinuteStillEndsTheLink)
{
    refuseSends(true);
    probe().persist(AtomicCommandChannel::tag, std::uint32_t { 3 }, { "delete id=3" }, false, std::nullopt);
    probe().persist(
        AtomicCommandChannel::settings, std::string("device"), { "update muteNonAlarmSounds=1" }, false, std::nullopt);
    scheduler.advance(60s);
    settle();
    EXPECT_TRUE(logContains("Failed to save tag change (not sent: tag:delete id=3)"));
    EXPECT_TRUE(logContains("Failed to save settings change (not sent: settings:update muteNonAlarmSounds=1)"));
    EXPECT_TRUE(logContains("Disconnecting Bluetooth after one minute idle"));
    EXPECT_EQ(probe().sessionMode(), SyncMode::load);
    // Given up for good, and reported once: once the device takes writes again, a load brings none
    // of them and has nothing more to report.
    refuseSends(false);
    controller->beginSession(SyncMode::load);
    settle();
    ASSERT_TRUE(controller->hasLoadedData());
    EXPECT_FALSE(sent("tag:delete id=3"));
    EXPECT_FALSE(sent("settings:update muteNonAlarmSounds=1"));
    const std::vector<std::string> log = logTexts();
    EXPECT_EQ(std::count(log.begin(), log.end(), "Failed to save tag change (not sent: tag:delete id=3)"), 1);
}

TEST_F(ControllerEditDeliveryTest, ARestoreCutByADisconnectEndsThereAndNothingResumesIt)
{
    device->answerRestore = false;
    controller->startRestoreSession();
    settle();
    ASSERT_EQ(received("sync_restore"), 1U);

    central.dropLink(device->peripheral(), std::nullopt);
    settle();
    EXPECT_EQ(controller->syncStage(), SyncStage::failed("Tavrik disconnected while saving imported data"));
    EXPECT_EQ(controller->statusText(), "Import save disconnected");
    EXPECT_FALSE(probe().sessionMode());
    EXPECT_FALSE(controller->syncMode());

    // Bluetooth switched off and on again does not send the restore a second time.
    central.changeState(BleManagerState::poweredOff);
    settle();
    central.changeState(BleManagerState::poweredOn);
    scheduler.advance(60s);
    EXPECT_EQ(received("sync_restore"), 1U);
    EXPECT_EQ(received("sync_start"), 2U); // the load and the restore
    EXPECT_FALSE(controller->isConnected());
    EXPECT_EQ(controller->statusText(), "Bluetooth ready");
}

TEST_F(ControllerEditDeliveryTest, EditsWaitingForARestoreThatCannotConnectAreReportedNotSaved)
{
    central.removePeripheral(device->peripheral());
    probe().resetConnectionState();
    settle();
    controller->startRestoreSession();
    probe().persist(AtomicCommandChannel::tag, std::uint32_t { 1 }, { "delete id=1" }, false, std::nullopt);
    central.failNextConnect(BleError { "Connection timed out", 0 });
    deviceWakes();
    EXPECT_EQ(controller->syncStage(), SyncStage::failed("Connect failed"));
    EXPECT_FALSE(probe().sessionMode());
    EXPECT_TRUE(logContains("Failed to save tag change (not sent: tag:delete id=1)"));
    EXPECT_EQ(controller->tagError(), "Failed to save tag change");
    EXPECT_FALSE(central.isScanning());
    EXPECT_FALSE(bluetoothReturningLooksForTheDevice());
    // The next edit's command connection carries only that edit.
    probe().persist(AtomicCommandChannel::tag, std::uint32_t { 2 }, { "delete id=2" }, false, std::nullopt);
    settle();
    EXPECT_EQ(commands(), (std::vector<std::string> { "tag:delete id=2" }));
}

} // namespace
} // namespace tavrik::test
