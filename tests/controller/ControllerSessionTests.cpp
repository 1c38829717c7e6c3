#include "tests/controller/ControllerTestSupport.hpp"

namespace tavrik::test {
namespace {

using namespace std::chrono_literals;

TEST_F(ControllerTest, SessionCodeIsFourDigits)
{
    SequenceRandomSource sevens { { 7 } };
    TavrikBleCentral pinned(
        TavrikBleCentral::Environment { central, scheduler, clock, sevens, defaults, "/none", false, {} });
    pinned.beginSession(SyncMode::load);
    EXPECT_EQ(ControllerProbe(pinned).syncCode(), "0007");
    EXPECT_EQ(pinned.syncStage(), SyncStage::waitingForDevice());
    EXPECT_EQ(pinned.statusText(), "Scanning\u2026");
    EXPECT_EQ(pinned.syncMode(), SyncMode::load);
}

TEST_F(ControllerTest, SyncDoneBeforeDataFailsTheLoadQuietly)
{
    addDevice().sendSyncData = false;
    makeController();
    controller->beginSession(SyncMode::load);
    const int scans = central.scanCount;
    settle();
    const std::string message
        = "Tavrik finished sending, but some data was missing. Enable connection mode on Tavrik and try again.";
    EXPECT_EQ(controller->syncStage(), SyncStage::failed(message));
    EXPECT_EQ(controller->statusText(), "Sync incomplete");
    EXPECT_TRUE(logContains(message));
    EXPECT_FALSE(probe().sessionMode());
    EXPECT_FALSE(probe().syncCode());
    // The cut connection was ours: no new session starts.
    EXPECT_FALSE(logContains("Tavrik disconnected; starting load session"));
    EXPECT_EQ(central.scanCount, scans);
    EXPECT_FALSE(central.isConnected(device->peripheral()));
}

TEST_F(ControllerTest, LoadTimesOutFifteenSecondsAfterReady)
{
    addDevice().stopAfterReady = true;
    makeController();
    controller->beginSession(SyncMode::load);
    settle();
    EXPECT_EQ(controller->syncStage(), SyncStage::transferring());
    EXPECT_EQ(controller->statusText(), "Loading data");
    scheduler.advance(14999ms);
    EXPECT_EQ(controller->syncStage(), SyncStage::transferring());
    scheduler.advance(1ms);
    settle();
    EXPECT_EQ(controller->syncStage(),
        SyncStage::failed("Tavrik stopped sending data. Enable connection mode on Tavrik and try again."));
    EXPECT_EQ(controller->statusText(), "Sync incomplete");
    EXPECT_FALSE(logContains("Tavrik disconnected; starting load session"));
}

TEST_F(ControllerTest, InboundChunksKeepALoadAlive)
{
    addDevice().stopAfterReady = true;
    makeController();
    controller->beginSession(SyncMode::load);
    settle();
    for (int round = 0; round < 3; ++round) {
        scheduler.advance(14s);
        device->send({ { "type", "log_line" }, { "message", "still busy " + std::to_string(round) } });
        settle();
        EXPECT_EQ(controller->syncStage(), SyncStage::transferring());
    }
    // Outgoing traffic does not count.
    probe().dataService().sendCommand("tag", "noop");
    scheduler.advance(14999ms);
    EXPECT_EQ(controller->syncStage(), SyncStage::transferring());
    scheduler.advance(1ms);
    EXPECT_TRUE(controller->syncStage().isFailed());
}

TEST_F(ControllerTest, RestoreWhileConnectedSendsTheAppsDataWithAnEmptyCode)
{
    FakeTavrik& tavrik = addDevice();
    tavrik.data.tags = { { 4, "AA", "Door" } };
    tavrik.data.settings = SyncSettingsPayload(true, std::string("11 22"));
    loadFromDevice();
    controller->startRestoreSession();
    EXPECT_EQ(controller->statusText(), "Starting sync");
    settle();

    ASSERT_TRUE(tavrik.lastSyncStart());
    EXPECT_EQ(tavrik.lastSyncStart()->mode, "restore");
    EXPECT_EQ(tavrik.lastSyncStart()->code, "");
    ASSERT_TRUE(tavrik.lastRestore());
    EXPECT_EQ(tavrik.lastRestore()->code, "");
    EXPECT_EQ(tavrik.lastRestore()->dataVersion, 9);
    EXPECT_EQ(tavrik.lastRestore()->tags, controller->tags());
    EXPECT_EQ(tavrik.lastRestore()->settings, SyncSettingsPayload(true, std::string("11 22")));
    EXPECT_EQ(controller->syncStage(), SyncStage::completed());
    EXPECT_EQ(controller->statusText(), "Imported data saved");
    EXPECT_FALSE(probe().sessionMode());
    EXPECT_TRUE(logContains("Starting restore session"));
}

TEST_F(ControllerTest, RestoreRefusals)
{
    makeController();
    controller->startRestoreSession();
    EXPECT_EQ(controller->syncStage(), SyncStage::failed("Update Tavrik firmware before restoring schema v9 backups."));
    EXPECT_FALSE(probe().sessionMode());

    addDevice().data.dataVersion = 8;
    loadFromDevice();
    ASSERT_EQ(controller->deviceSyncDataVersion(), 8);
    controller->startRestoreSession();
    EXPECT_EQ(controller->syncStage(), SyncStage::failed("Update Tavrik firmware before restoring schema v9 backups."));
}

TEST_F(ControllerTest, ControlSessionKeepsQueuedEditsAndSendsThemInOrder)
{
    makeController();
    controller->beginSession(SyncMode::load); // nothing in range: the load waits
    probe().persist(AtomicCommandChannel::tag, std::uint32_t { 1 }, { "delete id=1" }, false, std::nullopt);
    probe().persist(AtomicCommandChannel::schedule, std::uint32_t { 2 }, { "delete id=2" }, false, std::nullopt);

    // Both wait through the control session's start and reach the device once it is ready.
    addDevice();
    controller->beginSession(SyncMode::control);
    EXPECT_TRUE(logContains("Starting connection session"));
    EXPECT_TRUE(device->receivedCommands().empty());
    settle();

    EXPECT_EQ(device->lastSyncStart()->mode, "control");
    EXPECT_EQ(device->receivedCommands(), (std::vector<std::string> { "tag:delete id=1", "schedule:delete id=2" }));
    EXPECT_EQ(controller->syncStage(), SyncStage::completed());
    EXPECT_FALSE(probe().sessionMode());
    // Delivered once: the next edit goes out alone, on the link that is still up.
    probe().persist(AtomicCommandChannel::tag, std::uint32_t { 3 }, { "delete id=3" }, false, std::nullopt);
    settle();
    EXPECT_EQ(device->receivedCommands(),
        (std::vector<std::string> { "tag:delete id=1", "schedule:delete id=2", "tag:delete id=3" }));
    EXPECT_EQ(device->lastSyncStart()->mode, "control");
}

TEST_F(ControllerTest, LoadAndRestoreDropQueuedEdits)
{
    makeController();
    controller->beginSession(SyncMode::load);
    probe().persist(AtomicCommandChannel::tag, std::uint32_t { 1 }, { "delete id=1" }, false, std::nullopt);
    controller->beginSession(SyncMode::load);
    // The device that turns up gets the load and not the edit, and nothing holds the link after it.
    addDevice();
    settle();
    ASSERT_TRUE(controller->hasLoadedData());
    EXPECT_TRUE(device->receivedCommands().empty());
    EXPECT_TRUE(idleMinuteEndsLink());
}

TEST_F(ControllerTest, SyncControlRepliesOutsideTheHappyRoad)
{
    addDevice().stopAfterReady = true;
    makeController();
    controller->beginSession(SyncMode::load);
    settle();
    const std::string code = *probe().syncCode();

    device->send({ { "type", "sync_error" }, { "code", code == "1111" ? "2222" : "1111" }, { "message", "old" } });
    settle();
    EXPECT_TRUE(logContains(std::string("Ignoring stale sync error for code ") + (code == "1111" ? "2222" : "1111")));
    EXPECT_EQ(controller->syncStage(), SyncStage::transferring());

    device->send({ { "type", "sync_waiting" }, { "mystery", true } });
    settle();
    EXPECT_EQ(controller->syncStage(), SyncStage::connecting());

    device->send({ { "type", "sync_error" }, { "code", code }, { "reason", "timeout" } });
    settle();
    EXPECT_TRUE(logContains("Sync timed out"));
    EXPECT_EQ(controller->syncStage(), SyncStage::failed("Sync timed out"));
    EXPECT_EQ(controller->statusText(), "Bluetooth ready");
    EXPECT_FALSE(probe().sessionMode());

    // Without a session an error carrying no code is still an error.
    const std::string codeless = R"({"type":"sync_error"})";
    probe().handleSyncControl(dataFromString(codeless), codeless);
    EXPECT_EQ(controller->syncStage(), SyncStage::failed("Connect error"));
}

TEST_F(ControllerTest, UndecodableSyncControlIsLoggedAsUnhandled)
{
    makeController();
    const std::string text = R"({"type":"sync_ready","code":5})";
    probe().handleSyncControl(dataFromString(text), text);
    EXPECT_TRUE(logContains("[ble:data] unhandled sync payload " + text));
}

TEST_F(ControllerTest, SyncStartWithoutSessionFails)
{
    makeController();
    probe().sendSyncStart();
    EXPECT_EQ(controller->syncStage(), SyncStage::failed("Missing connect info"));
}

} // namespace
} // namespace tavrik::test
