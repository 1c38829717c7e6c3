#include "tests/controller/ControllerTestSupport.hpp"

#include "TavrikCore/Support/Json.hpp"

namespace tavrik::test {
namespace {

using namespace std::chrono_literals;

const std::string stalledLoad = "Tavrik stopped sending data. Enable connection mode on Tavrik and try again.";

WifiCapabilityPayload oneSavedNetwork()
{
    return { 1, 8, { { "Home", 1, 1 } } };
}

// Work that holds the link beside other work: each piece ends on its own answer or its own bound,
// and none ends another's.
class ControllerLinkClaimTest : public ControllerTest {
protected:
    // Device data with Wi-Fi known, no connection open and no device in range.
    void knowWifiWithoutDevice()
    {
        makeController();
        SyncDataEnvelope data;
        data.type = "sync_data";
        data.wifi = oneSavedNetwork();
        ASSERT_TRUE(controller->applySyncData(data, true, 9));
        ASSERT_TRUE(controller->wifiSupported());
    }

    void deliver(const Json& message)
    {
        device->send(message, false);
        settle();
    }

    bool sent(const std::string& command) const
    {
        const std::vector<std::string> all = device->receivedCommands();
        return std::find(all.begin(), all.end(), command) != all.end();
    }

    std::size_t received(std::string_view type) const
    {
        std::size_t count = 0;
        for (const Json& message : device->receivedJson()) {
            count += message.value("type", "") == type ? 1 : 0;
        }
        return count;
    }
};

TEST_F(ControllerLinkClaimTest, AWifiRequestTimingOutWhileALoadWaitsLeavesTheLoadWaiting)
{
    knowWifiWithoutDevice();
    controller->beginSession(SyncMode::load);
    controller->scanWifiNetworks();
    settle();
    scheduler.advance(TavrikBleCentral::wifiRequestTimeout);
    EXPECT_EQ(controller->wifiSettingsMessage(), "The Wi-Fi request timed out.");
    EXPECT_EQ(controller->syncStage(), SyncStage::waitingForDevice());
    EXPECT_EQ(controller->syncMode(), SyncMode::load);

    // The device wakes: it is loaded, and the timed-out request is not sent.
    addDevice();
    settle();
    EXPECT_TRUE(controller->hasLoadedData());
    EXPECT_EQ(received("wifi_scan"), 0U);
}

TEST_F(ControllerLinkClaimTest, ARoutineEventEndsNeitherALoadNorARestore)
{
    const Json event { { "type", "routine_event" }, { "event", "trigger" }, { "id", 1 } };

    SCOPED_TRACE("load");
    addDevice().stopAfterReady = true;
    loadFromDevice();
    ASSERT_EQ(controller->syncStage(), SyncStage::transferring());
    deliver(event);
    EXPECT_EQ(controller->syncStage(), SyncStage::transferring());
    EXPECT_EQ(controller->syncMode(), SyncMode::load);
    scheduler.advance(TavrikBleCentral::loadTimeout);
    EXPECT_EQ(controller->syncStage(), SyncStage::failed(stalledLoad));
    EXPECT_FALSE(controller->hasLoadedData());

    SCOPED_TRACE("restore");
    controller.reset();
    addDevice().answerRestore = false;
    loadFromDevice();
    controller->startRestoreSession();
    settle();
    ASSERT_EQ(received("sync_restore"), 1U);
    deliver(event);
    EXPECT_EQ(controller->syncMode(), SyncMode::restore);
    deliver({ { "type", "sync_done" }, { "mode", "restore" }, { "code", device->lastRestore()->code } });
    EXPECT_EQ(controller->syncStage(), SyncStage::completed());
    EXPECT_EQ(controller->statusText(), "Imported data saved");
}

TEST_F(ControllerLinkClaimTest, ARoutineStartWithoutAnswerLetsGoOfTheLinkAfterItsBound)
{
    addDevice();
    loadFromDevice();
    controller->triggerRoutine(1);
    settle();
    ASSERT_TRUE(sent("routine:trigger id=1"));
    EXPECT_FALSE(idleMinuteEndsLink()) << "the start holds the link while it waits";
    scheduler.advance(TavrikBleCentral::routineStartTimeout - 60s - 1ms);
    EXPECT_FALSE(controller->routineError());

    scheduler.advance(1ms);
    EXPECT_EQ(controller->routineError(), "The routine request timed out.");
    EXPECT_TRUE(idleMinuteEndsLink());
}

// A connection whose services cannot be used ends as a failed connect: released, and tried again
// by a load under the same rules as a connect that failed outright.
struct DiscoveryFault {
    const char* status;
    std::function<void(FakeBlePeripheral&, bool faulty)> script;
};

std::vector<DiscoveryFault> discoveryFaults()
{
    return {
        { "Service error",
            [](FakeBlePeripheral& p, bool faulty) {
                p.serviceDiscoveryError = faulty ? std::optional(BleError { "boom", 1 }) : std::nullopt;
            } },
        { "No services", [](FakeBlePeripheral& p, bool faulty) { p.reportNoServices = faulty; } },
        { "Characteristic error",
            [](FakeBlePeripheral& p, bool faulty) {
                p.characteristicDiscoveryError = faulty ? std::optional(BleError { "bad", 2 }) : std::nullopt;
            } },
        { "No characteristics", [](FakeBlePeripheral& p, bool faulty) { p.reportNoCharacteristics = faulty; } },
        { "Data channel unavailable",
            [](FakeBlePeripheral& p, bool faulty) { p.offerProfile(TavrikBleProtocolProfile::secureV2, !faulty); } },
    };
}

TEST_F(ControllerLinkClaimTest, AFailedDiscoveryIsAFailedConnectThatALoadTriesAgain)
{
    for (const DiscoveryFault& fault : discoveryFaults()) {
        SCOPED_TRACE(fault.status);
        controller.reset();
        addDevice();
        fault.script(*device->peripheral(), true);
        const int connects = central.connectCount;
        loadFromDevice();
        EXPECT_EQ(central.connectCount - connects, 3) << "three attempts, then a rest";
        EXPECT_FALSE(central.isConnected(device->peripheral()));
        EXPECT_FALSE(controller->isConnected());
        EXPECT_EQ(controller->syncStage(), SyncStage::waitingForDevice());
        EXPECT_FALSE(device->lastSyncStart());

        fault.script(*device->peripheral(), false);
        scheduler.advance(10s);
        EXPECT_TRUE(controller->hasLoadedData());
    }
}

TEST_F(ControllerLinkClaimTest, AFailedDiscoveryFailsTheWorkThatWaitedForTheLink)
{
    for (const DiscoveryFault& fault : discoveryFaults()) {
        SCOPED_TRACE(fault.status);
        controller.reset();
        addDevice();
        fault.script(*device->peripheral(), true);
        makeController();
        controller->triggerRoutine(1);
        settle();
        EXPECT_EQ(controller->routineError(), "Connect failed");
        EXPECT_FALSE(central.isConnected(device->peripheral()));
        EXPECT_FALSE(controller->isConnected());
        EXPECT_NE(controller->syncStage(), SyncStage::connecting());
        const int connects = central.connectCount;
        scheduler.advance(60s);
        EXPECT_EQ(central.connectCount, connects) << "nothing tries again without the user";
    }
}

TEST_F(ControllerLinkClaimTest, ARestoreWithoutAnswerFailsLikeAStalledLoad)
{
    struct Case {
        const char* name;
        bool answerStart;
    };
    for (const Case test : { Case { "start unanswered", false }, Case { "data unanswered", true } }) {
        SCOPED_TRACE(test.name);
        controller.reset();
        addDevice();
        loadFromDevice();
        device->answerSyncStart = test.answerStart;
        device->answerRestore = false;
        controller->startRestoreSession();
        settle();
        scheduler.advance(TavrikBleCentral::loadTimeout - 1ms);
        EXPECT_EQ(controller->syncMode(), SyncMode::restore);
        scheduler.advance(1ms);
        EXPECT_EQ(controller->syncStage(), SyncStage::failed(stalledLoad));
        EXPECT_EQ(controller->statusText(), "Sync incomplete");
        EXPECT_FALSE(controller->syncMode());
        EXPECT_FALSE(controller->isConnected());
        EXPECT_FALSE(central.isConnected(device->peripheral()));
    }
}

TEST_F(ControllerLinkClaimTest, ARefusedRoutineStartOrEditLeavesTagScansPossible)
{
    struct Case {
        const char* name;
        std::function<void(TavrikBleCentral&, ControllerProbe)> act;
    };
    const std::vector<Case> cases {
        { "routine start", [](TavrikBleCentral& c, ControllerProbe) { c.triggerRoutine(1); } },
        { "routine edit",
            [](TavrikBleCentral&, ControllerProbe p) {
                p.persist(AtomicCommandChannel::routine, std::uint32_t { 1 }, { "update id=1 label=\"Desk\"" }, false,
                    std::nullopt);
            } },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        controller.reset();
        addDevice().answerCommand = [](const std::string& channel, const std::string&) {
            return channel == "routine" ? std::vector<Json> { { { "type", "error" }, { "message", "Routine busy" } } }
                                        : std::vector<Json> {};
        };
        loadFromDevice();
        test.act(*controller, probe());
        settle();
        EXPECT_EQ(controller->routineError(), "Routine busy");

        controller->beginTagScan(TagScanPurpose::generic);
        settle();
        EXPECT_FALSE(controller->tagError());
        EXPECT_TRUE(sent("tag:scan"));
    }
}

TEST_F(ControllerLinkClaimTest, ADeviceThatStoppedWaitingForItsUserEndsTheLoadWithTryAgain)
{
    addDevice().answerSyncStart = false;
    loadFromDevice();
    const std::string code = *probe().syncCode();
    deliver({ { "type", "sync_waiting" }, { "mode", "load" }, { "code", code } });
    deliver({ { "type", "sync_error" }, { "mode", "load" }, { "code", code }, { "reason", "timeout" } });
    EXPECT_TRUE(logContains("Sync timed out"));
    EXPECT_EQ(controller->syncStage().kind(), SyncStage::Kind::failed);
    EXPECT_FALSE(central.isConnected(device->peripheral()));
    EXPECT_FALSE(controller->isConnected());

    device->answerSyncStart = true;
    controller->beginSession(SyncMode::load);
    settle();
    EXPECT_TRUE(controller->hasLoadedData());
}

TEST_F(ControllerLinkClaimTest, ARoutineEventDoesNotLetTheIdleMinuteCutAWifiRequest)
{
    addDevice().data.wifi = oneSavedNetwork();
    loadFromDevice();
    controller->scanWifiNetworks();
    settle();
    ASSERT_EQ(received("wifi_scan"), 1U);
    const std::string id = controller->wifiRequestActivity().requestId.value_or("");
    deliver({ { "type", "routine_event" }, { "event", "trigger" }, { "id", 1 } });
    EXPECT_FALSE(idleMinuteEndsLink());

    deliver({ { "type", "wifi_scan_results" }, { "requestId", id }, { "networks", Json::array() } });
    EXPECT_TRUE(idleMinuteEndsLink());
}

TEST_F(ControllerLinkClaimTest, AFailedConnectReachesEveryPieceOfWaitingWork)
{
    struct Case {
        TagScanPurpose purpose;
        AtomicCommandChannel editChannel;
        std::string edit;
    };
    const std::vector<Case> cases {
        { TagScanPurpose::generic, AtomicCommandChannel::settings, "update muteNonAlarmSounds=1" },
        { TagScanPurpose::killSwitch, AtomicCommandChannel::tag, "delete id=1" },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.edit);
        controller.reset();
        addDevice();
        central.failNextConnect(BleError { "Connection timed out", 0 }, 5);
        makeController();
        controller->beginTagScan(test.purpose);
        probe().persist(test.editChannel, std::uint32_t { 1 }, { test.edit }, false, std::nullopt);
        settle();
        EXPECT_EQ(controller->tagScanState(), TagScanState::failed("Connect failed"));
        EXPECT_NE(controller->syncStage(), SyncStage::connecting());
        const int connects = central.connectCount;
        scheduler.advance(60s);
        EXPECT_EQ(central.connectCount, connects);
    }
}

} // namespace
} // namespace tavrik::test
