#include "tests/controller/ControllerTestSupport.hpp"

namespace tavrik::test {
namespace {

using namespace std::chrono_literals;

// How a connection lives on a desk: devices that sleep, connects that fail, ejects at any moment.
class ControllerConnectionLifeTest : public ControllerTest {
protected:
    bool startedFreshLoadAfterDrop() const { return logContains("Tavrik disconnected; starting load session"); }
};

TEST_F(ControllerConnectionLifeTest, AnEjectDuringAPendingConnectLeavesTheNextDropUnexpected)
{
    addDevice();
    central.connectsHang = true;
    loadFromDevice();
    ASSERT_TRUE(probe().targetPeripheral());
    ASSERT_FALSE(controller->isConnected());

    // The connect is cancelled quietly, as Qt does: no disconnect is reported for it.
    controller->ejectTavrik();
    settle();
    EXPECT_FALSE(probe().isExpectingResetDisconnect());

    central.connectsHang = false;
    central.completePendingConnects();
    settle();
    ASSERT_TRUE(controller->hasLoadedData());

    // The next real drop is the device going away: fresh data is loaded, nothing stale stays.
    device->data.tags = { { 5, "05", "Five" } };
    central.dropLink(device->peripheral(), BleError { "Connection timed out", 6 });
    settle();
    EXPECT_TRUE(startedFreshLoadAfterDrop());
    ASSERT_EQ(controller->tags().size(), 1U);
    EXPECT_EQ(controller->tags()[0].name, "Five");
    EXPECT_TRUE(controller->isConnected());
}

TEST_F(ControllerConnectionLifeTest, AnEjectAsTheConnectCompletesLogsNoDisconnectForALinkThatNeverCameUp)
{
    addDevice();
    central.connectsHang = true;
    loadFromDevice();
    ASSERT_FALSE(controller->isConnected());

    // The adapter finishes the connect just as the eject lets go of it: the link ends before the
    // controller ever heard it come up.
    controller->ejectTavrik();
    central.completePendingConnects();
    settle();
    EXPECT_FALSE(logContains("Disconnected: ok"));
    EXPECT_FALSE(logContains("Connected to Tavrik"));

    // A link that did come up still says when it ends.
    central.connectsHang = false;
    central.completePendingConnects();
    settle();
    ASSERT_TRUE(controller->hasLoadedData());
    central.dropLink(device->peripheral(), std::nullopt);
    settle();
    EXPECT_TRUE(logContains("Disconnected: ok"));
}

TEST_F(ControllerConnectionLifeTest, ASleepingDeviceIsWaitedForAndLoadedWhenItWakes)
{
    addDevice().data.tags = { { 3, "04 A1", "Desk" } };
    central.removePeripheral(device->peripheral());
    loadFromDevice();
    scheduler.advance(60s);
    EXPECT_EQ(controller->statusText(), "Scanning\u2026");
    EXPECT_EQ(controller->syncStage(), SyncStage::waitingForDevice());
    EXPECT_EQ(central.connectCount, 0);

    central.addPeripheral(device->peripheral());
    settle();
    EXPECT_TRUE(controller->hasLoadedData());
    EXPECT_EQ(controller->statusText(), "Connected");
}

TEST_F(ControllerConnectionLifeTest, AFailedConnectDuringALoadLooksForTheDeviceAgain)
{
    addDevice();
    makeController();
    central.failNextConnect(BleError { "org.bluez.Error.Failed: le-connection-abort-by-local", 0 });
    controller->beginSession(SyncMode::load);
    scheduler.runDue();
    EXPECT_TRUE(logContains("Failed to connect: org.bluez.Error.Failed: le-connection-abort-by-local"));
    EXPECT_TRUE(controller->hasLoadedData());
    EXPECT_EQ(controller->statusText(), "Connected");
    EXPECT_EQ(central.connectCount, 2);
    EXPECT_EQ(central.scanCount, 2);
}

TEST_F(ControllerConnectionLifeTest, ConnectFailuresInARowRestBeforeScanningAgain)
{
    addDevice();
    makeController();
    central.failNextConnect(BleError { "Connection timed out", 0 }, 5);
    controller->beginSession(SyncMode::load);
    settle();

    // One attempt per sighting: three failures, then a rest that still says what happened.
    EXPECT_EQ(central.connectCount, 3);
    EXPECT_FALSE(central.isScanning());
    EXPECT_EQ(controller->statusText(), "Connect failed");
    EXPECT_EQ(controller->syncStage(), SyncStage::waitingForDevice());
    EXPECT_EQ(probe().sessionMode(), SyncMode::load);
    scheduler.advance(9999ms);
    EXPECT_EQ(central.connectCount, 3);
    scheduler.advance(1ms);
    EXPECT_EQ(central.connectCount, 4);
    scheduler.advance(10s);
    EXPECT_EQ(central.connectCount, 5);
    scheduler.advance(10s);
    EXPECT_EQ(central.connectCount, 6);
    EXPECT_TRUE(controller->hasLoadedData());

    // A success starts the count afresh.
    central.failNextConnect(BleError { "Connection timed out", 0 });
    central.dropLink(device->peripheral(), std::nullopt);
    settle();
    EXPECT_EQ(central.connectCount, 8);
    EXPECT_TRUE(controller->hasLoadedData());
}

} // namespace
} // namespace tavrik::test

namespace tavrik::test {
namespace {

// The most specific failure of a load stands, whatever ends the load afterwards.
TEST_F(ControllerConnectionLifeTest, UnreadableSyncDataKeepsItsTextWhenTheLoadEnds)
{
    struct Case {
        const char* name;
        TavrikBleProtocolProfile profile;
        bool sendDone; // false: the device falls silent and the load times out
        std::string message;
    };
    const std::vector<Case> cases {
        { "secure, then sync_done", TavrikBleProtocolProfile::secureV2, true, "Connect data invalid" },
        { "secure, then silence", TavrikBleProtocolProfile::secureV2, false, "Connect data invalid" },
        { "legacy, then sync_done", TavrikBleProtocolProfile::legacyUnencryptedV1, true,
            "Legacy data could not be prepared: " },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        controller.reset();
        FakeTavrik& tavrik = addDevice(test.profile);
        tavrik.syncDataJson = Json { { "type", "sync_data" }, { "dataVersion", 9 }, { "tags", "not a list" } };
        tavrik.stopAfterReady = !test.sendDone;
        if (!test.sendDone) {
            tavrik.answerSyncStart = false;
        }
        makeController();
        controller->beginSession(SyncMode::load);
        settle();
        if (!test.sendDone) {
            tavrik.send({ { "type", "sync_ready" }, { "mode", "load" }, { "code", *probe().syncCode() } });
            tavrik.send(*tavrik.syncDataJson);
            settle();
            scheduler.advance(TavrikBleCentral::loadTimeout);
        }
        ASSERT_EQ(controller->syncStage().kind(), SyncStage::Kind::failed);
        EXPECT_TRUE(controller->syncStage().failureMessage().starts_with(test.message))
            << controller->syncStage().failureMessage();
        EXPECT_EQ(controller->statusText(), "Sync incomplete");
        EXPECT_FALSE(probe().sessionMode());
        EXPECT_FALSE(controller->isConnected());
    }
}

} // namespace
} // namespace tavrik::test

namespace tavrik::test {
namespace {

const std::string stalledLoad = "Tavrik stopped sending data. Enable connection mode on Tavrik and try again.";

TEST_F(ControllerConnectionLifeTest, ASessionStartWithoutAnswerTimesOutLikeAStalledLoad)
{
    addDevice().answerSyncStart = false;
    makeController();
    controller->beginSession(SyncMode::load);
    settle();
    EXPECT_EQ(controller->statusText(), "Starting sync");
    scheduler.advance(14999ms);
    EXPECT_EQ(controller->syncStage(), SyncStage::connecting());
    scheduler.advance(1ms);
    EXPECT_EQ(controller->syncStage(), SyncStage::failed(stalledLoad));
    EXPECT_EQ(controller->statusText(), "Sync incomplete");
    EXPECT_FALSE(controller->isConnected());
    EXPECT_FALSE(probe().sessionMode());

    // Try Again starts afresh, and a device that answers is loaded.
    device->answerSyncStart = true;
    controller->beginSession(SyncMode::load);
    settle();
    EXPECT_TRUE(controller->hasLoadedData());
}

TEST_F(ControllerConnectionLifeTest, ADeviceWaitingForItsUserIsNotTimedOutByTheApplication)
{
    addDevice().answerSyncStart = false;
    makeController();
    controller->beginSession(SyncMode::load);
    settle();
    device->send({ { "type", "sync_waiting" }, { "mode", "load" }, { "code", *probe().syncCode() } });
    settle();
    scheduler.advance(60s);
    EXPECT_EQ(controller->syncStage(), SyncStage::connecting());
    EXPECT_TRUE(controller->isConnected());
}

} // namespace
} // namespace tavrik::test

namespace tavrik::test {
namespace {

const std::string pairAgainAdvice
    = "Open the Bluetooth settings of your desktop and forget Tavrik, or run bluetoothctl remove AA:BB:CC:DD:EE:01. "
      "Then enable connection mode on Tavrik and reconnect to pair with its six-digit code. Your routines will not "
      "be deleted.";

// A Tavrik that forgot its bond refuses the secure channel; the user is told how to pair again.
TEST_F(ControllerConnectionLifeTest, ARefusalForWantOfPairingOnTheSecureChannelAsksToPairAgain)
{
    const BleError notPaired { "Not paired (org.bluez.Error.NotPermitted)", bleErrorPeerRemovedPairingInformation };
    for (const bool onWrite : { false, true }) {
        SCOPED_TRACE(onWrite ? "sync_start refused" : "notifications refused");
        controller.reset();
        addDevice();
        if (onWrite) {
            device->peripheral()->writeError = notPaired;
        } else {
            device->peripheral()->notifyError = notPaired;
        }
        makeController();
        controller->beginSession(SyncMode::load);
        settle();
        EXPECT_EQ(controller->statusText(), "Pair Tavrik again");
        EXPECT_EQ(controller->syncStage(), SyncStage::failed(pairAgainAdvice));
        EXPECT_FALSE(probe().sessionMode());
        EXPECT_FALSE(central.isConnected(device->peripheral()));
        EXPECT_FALSE(startedFreshLoadAfterDrop());
    }

    // The legacy profile has no bond to lose: its failure stays what it is.
    controller.reset();
    addDevice(TavrikBleProtocolProfile::legacyUnencryptedV1).peripheral()->notifyError = notPaired;
    makeController();
    controller->beginSession(SyncMode::load);
    settle();
    EXPECT_EQ(controller->statusText(), "Connection failed");
    EXPECT_EQ(controller->syncStage(), SyncStage::failed("Legacy Bluetooth connection failed: " + notPaired.description));
}

} // namespace
} // namespace tavrik::test
