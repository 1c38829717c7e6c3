#include "tests/controller/ControllerFirmwareFixture.hpp"
#include "tests/support/qt/LocalLinkSimulator.hpp"

#include <QTemporaryDir>

#include <functional>

namespace tavrik::test {
namespace {

using namespace std::chrono_literals;
using Phase = FirmwareUploadStatus::Phase;

// Operations that reach across concerns: a device over Bluetooth, over the local simulator link, or
// the review demo in place of either.
class ControllerCrossConcernTest : public ControllerFirmwareTest {
protected:
    QTemporaryDir temporary;
    std::unique_ptr<LocalLinkSimulator> simulator;

    std::filesystem::path directory() const { return std::filesystem::path(temporary.path().toStdString()) / "link"; }

    void exchange()
    {
        simulator->pump();
        scheduler.advance(LocalLinkTransport::pollInterval);
        settle();
    }

    void loadOverLink()
    {
        ASSERT_TRUE(temporary.isValid());
        simulator = std::make_unique<LocalLinkSimulator>(directory());
        simulator->data.hardwareTarget = "m5stick-s3";
        simulator->data.firmwareVersion = "1.4.0";
        simulator->data.tags = { TagInfo { 1, "04 11 22", "Start" } };
        simulator->data.wifi = WifiCapabilityPayload { 1, 3, { WifiCredentialSummary { "Home", 1, 1 } } };
        simulator->advertise("S1", clock.now());
        controller = std::make_unique<TavrikBleCentral>(
            TavrikBleCentral::Environment { central, scheduler, clock, random, defaults, directory(), true, {} });
        settle();
        controller->beginSession(SyncMode::load);
        exchange();
        ASSERT_TRUE(controller->virtualTavrikConnected());
        ASSERT_TRUE(controller->hasLoadedData());
    }

    // What reached the link since the last look, as "channel:command" texts or message texts.
    std::vector<std::string> linkTexts()
    {
        std::vector<std::string> texts;
        for (const LocalLinkSimulator::Received& line : simulator->pump()) {
            texts.push_back(line.text());
        }
        return texts;
    }

    std::vector<std::string> deviceCommands(std::string_view channel) const
    {
        std::vector<std::string> found;
        for (const std::string& command : device->receivedCommands()) {
            if (command.starts_with(std::string(channel) + ":") && command != "tag:keepalive") {
                found.push_back(command);
            }
        }
        return found;
    }

    void enterDemoFromDevice()
    {
        addDevice();
        loadFromDevice();
        ASSERT_TRUE(controller->hasLoadedData());
        controller->beginReviewDemo();
        settle();
    }
};

TEST_F(ControllerCrossConcernTest, TagScanAndCancelCommandsReachTheDevice)
{
    struct Case {
        TagScanPurpose purpose;
        bool loadedFirst;
        std::string command;
    };
    const std::vector<Case> cases {
        { TagScanPurpose::generic, true, "tag:scan" },
        { TagScanPurpose::killSwitch, true, "tag:scan purpose=kill_switch" },
        { TagScanPurpose::generic, false, "tag:scan" },
        { TagScanPurpose::killSwitch, false, "tag:scan purpose=kill_switch" },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.command + (test.loadedFirst ? " (connected)" : " (connects first)"));
        controller.reset();
        addDevice();
        if (test.loadedFirst) {
            loadFromDevice();
        } else {
            makeController();
        }
        controller->beginTagScan(test.purpose);
        settle();
        EXPECT_TRUE(controller->isConnected());
        EXPECT_EQ(controller->tagScanState(), TagScanState::requesting());
        EXPECT_EQ(deviceCommands("tag"), (std::vector<std::string> { test.command }));

        // Stopping the scan in the view sends the cancel through the same path.
        EXPECT_TRUE(controller->sendTagCommand("cancel"));
        settle();
        EXPECT_EQ(deviceCommands("tag"), (std::vector<std::string> { test.command, "tag:cancel" }));
        controller->endTagScanSession();
    }
}

TEST_F(ControllerCrossConcernTest, TagScanAndCancelGoOverTheLocalLink)
{
    loadOverLink();
    linkTexts();
    controller->beginTagScan(TagScanPurpose::killSwitch);
    EXPECT_EQ(controller->tagScanState(), TagScanState::requesting());
    EXPECT_TRUE(controller->sendTagCommand("cancel"));
    EXPECT_EQ(linkTexts(), (std::vector<std::string> { "tag:scan purpose=kill_switch", "tag:cancel" }));
}

TEST_F(ControllerCrossConcernTest, TriggerReachesTheDeviceOnTheRoutineChannel)
{
    for (const bool loadedFirst : { true, false }) {
        SCOPED_TRACE(loadedFirst ? "connected" : "opens a command connection");
        controller.reset();
        addDevice();
        if (loadedFirst) {
            loadFromDevice();
        } else {
            makeController();
        }
        controller->triggerRoutine(2);
        EXPECT_EQ(controller->routineError(), std::nullopt);
        EXPECT_EQ(
            probe().pendingRoutineCommand(), loadedFirst ? std::nullopt : std::optional<std::string>("trigger id=2"));
        settle();
        EXPECT_TRUE(controller->isConnected());
        EXPECT_EQ(probe().pendingRoutineCommand(), std::nullopt);
        EXPECT_EQ(deviceCommands("routine"), (std::vector<std::string> { "routine:trigger id=2" }));
        // Open until the device answers: the idle minute, which watches only a loaded link, leaves it up.
        if (loadedFirst) {
            EXPECT_FALSE(idleMinuteEndsLink());
        }
    }
}

TEST_F(ControllerCrossConcernTest, TriggerGoesOverTheLocalLink)
{
    loadOverLink();
    linkTexts();
    controller->triggerRoutine(7);
    EXPECT_EQ(controller->routineError(), std::nullopt);
    EXPECT_EQ(linkTexts(), (std::vector<std::string> { "routine:trigger id=7" }));
}

TEST_F(ControllerCrossConcernTest, DeviceOnlyActionsAreRefusedInTheDemo)
{
    enterDemoFromDevice();
    const std::size_t received = device->receivedTexts().size();
    const int scans = central.scanCount;
    const int connects = central.connectCount;

    for (const TagScanPurpose purpose : { TagScanPurpose::generic, TagScanPurpose::killSwitch }) {
        controller->beginTagScan(purpose);
        EXPECT_EQ(controller->tagScanState(), TagScanState::failed("Scanning tags requires a connected Tavrik."));
        EXPECT_FALSE(controller->tagScanSessionActive());
        EXPECT_FALSE(controller->tagScanCommandPending());
    }
    controller->triggerRoutine(1);
    EXPECT_EQ(controller->routineError(), "Starting routines requires a connected Tavrik.");
    EXPECT_EQ(probe().pendingRoutineCommand(), std::nullopt);

    // Nothing was left wanting the link: no scan, no connect, nothing sent.
    scheduler.advance(1min);
    settle();
    EXPECT_EQ(device->receivedTexts().size(), received);
    EXPECT_EQ(central.scanCount, scans);
    EXPECT_EQ(central.connectCount, connects);
    EXPECT_TRUE(controller->isReviewDemo());
}

struct WifiOperation {
    std::string name;
    std::function<void(TavrikBleCentral&)> run;
};

std::vector<WifiOperation> wifiOperations()
{
    return {
        { "scan", [](TavrikBleCentral& c) { c.scanWifiNetworks(); } },
        { "check", [](TavrikBleCentral& c) { c.checkSavedWifiCredentials(); } },
        { "validate and save", [](TavrikBleCentral& c) { c.validateAndSaveWifiCredential("Home", "secret123"); } },
        { "save anyway",
            [](TavrikBleCentral& c) {
                c.sendWifiUpsert(WifiCandidate { "Home", "secret123" }, false);
            } },
        { "remove", [](TavrikBleCentral& c) { c.removeWifiCredential("Demo Wi-Fi"); } },
    };
}

TEST_F(ControllerCrossConcernTest, WifiRequestsAreRefusedInTheDemoWithoutReachingTheDevice)
{
    enterDemoFromDevice();
    const std::size_t received = device->receivedTexts().size();
    for (const WifiOperation& operation : wifiOperations()) {
        SCOPED_TRACE(operation.name);
        controller->clearWifiSettingsMessage();
        operation.run(*controller);
        EXPECT_EQ(controller->wifiSettingsMessage(), "Wi-Fi changes and checks require a connected Tavrik.");
        EXPECT_FALSE(controller->wifiRequestActivity().kind.has_value());
        settle();
    }
    scheduler.advance(TavrikBleCentral::wifiRequestTimeout + 1s);
    settle();
    EXPECT_EQ(device->receivedTexts().size(), received);
    EXPECT_EQ(controller->wifiSettingsMessage(), "Wi-Fi changes and checks require a connected Tavrik.");
}

TEST_F(ControllerCrossConcernTest, WifiRequestsAreRefusedOverTheLocalLink)
{
    loadOverLink();
    ASSERT_TRUE(controller->wifiSupported());
    linkTexts();
    for (const WifiOperation& operation : wifiOperations()) {
        SCOPED_TRACE(operation.name);
        controller->clearWifiSettingsMessage();
        operation.run(*controller);
        EXPECT_EQ(controller->wifiSettingsMessage(), "Wi-Fi management is unavailable in the simulator.");
        EXPECT_FALSE(controller->wifiRequestActivity().kind.has_value());
        EXPECT_TRUE(linkTexts().empty());
    }
    scheduler.advance(TavrikBleCentral::wifiRequestTimeout + 1s);
    settle();
    EXPECT_EQ(controller->wifiSettingsMessage(), "Wi-Fi management is unavailable in the simulator.");
}

TEST_F(ControllerCrossConcernTest, MuteInTheDemoIsNotRememberedAndLeavingRestoresTheStoredValue)
{
    for (const std::optional<bool> stored : { std::optional<bool>(), std::optional(false), std::optional(true) }) {
        SCOPED_TRACE(stored ? (*stored ? "stored on" : "stored off") : "nothing stored");
        controller.reset();
        defaults.remove(muteNonAlarmSoundsDefaultsKey);
        if (stored) {
            defaults.setBool(muteNonAlarmSoundsDefaultsKey, *stored);
        }
        enterDemoFromDevice();
        for (const bool value : { true, false, true }) {
            controller->setMuteNonAlarmSounds(value);
            EXPECT_EQ(controller->muteNonAlarmSounds(), value);
            EXPECT_EQ(defaults.boolValue(muteNonAlarmSoundsDefaultsKey), stored);
        }
        controller->endReviewDemo();
        EXPECT_EQ(controller->muteNonAlarmSounds(), stored.value_or(false));
        EXPECT_EQ(defaults.boolValue(muteNonAlarmSoundsDefaultsKey), stored);
        // Let the load that leaving starts finish with the device still here.
        settle();
    }
}

TEST_F(ControllerCrossConcernTest, DemoReplacesAnOfferWithItsOwnFirmwareTextsAndRefusesToInstall)
{
    addDevice();
    loadAndLookUp(publish({}));
    ASSERT_TRUE(controller->availableFirmwareAsset());
    ASSERT_TRUE(controller->firmwareUpdateNotice());
    const auto requests = server.requests().size();

    controller->beginReviewDemo();
    settle();
    const auto expectDemoTexts = [&] {
        EXPECT_EQ(controller->firmwareSourceDescription(), "Demo data");
        EXPECT_EQ(controller->firmwareChannelDescription(), "App Review demo");
        EXPECT_EQ(controller->firmwareManifestDescription(), "No firmware lookup in demo mode");
        EXPECT_FALSE(controller->availableFirmwareAsset());
        EXPECT_FALSE(controller->firmwareUpdateNotice());
        EXPECT_EQ(controller->firmwareAvailableVersion(), std::nullopt);
    };
    expectDemoTexts();
    EXPECT_EQ(uploadStatus(),
        (FirmwareUploadStatus { Phase::idle, "Firmware installation requires a connected Tavrik.", 0, 0 }));

    // Asking again looks nothing up.
    controller->refreshFirmwareAvailability();
    expectDemoTexts();
    EXPECT_EQ(uploadStatus().phase, Phase::idle);

    controller->startFirmwareInstall();
    EXPECT_EQ(uploadStatus(),
        (FirmwareUploadStatus { Phase::failed, "Firmware installation requires a connected Tavrik.", 0, 0 }));
    EXPECT_FALSE(controller->firmwareUpload().isActive());
    settle();
    EXPECT_EQ(server.requests().size(), requests);
    EXPECT_FALSE(device->lastReceived("firmware_begin"));
}

TEST_F(ControllerCrossConcernTest, SimulatorGetsNoFirmwareNoticeAndNoInstall)
{
    loadOverLink();
    controller->setFirmwareChannelURL(publish({}));
    controller->refreshFirmwareAvailability();
    ASSERT_TRUE(waitFor([&] { return lookupFinished(); })) << "the lookup did not finish";
    EXPECT_FALSE(controller->firmwareUpdateNotice());
    const FirmwareUploadStatus before = uploadStatus();
    const auto requests = server.requests().size();

    controller->startFirmwareInstall();
    EXPECT_EQ(uploadStatus(),
        (FirmwareUploadStatus { Phase::failed, "Firmware installation is unavailable for the simulator.",
            before.bytesTransferred, before.totalBytes }));
    EXPECT_FALSE(controller->firmwareUpload().isActive());
    settle();
    EXPECT_EQ(server.requests().size(), requests);
    for (const std::string& text : linkTexts()) {
        EXPECT_EQ(text.find("firmware"), std::string::npos) << text;
    }
}

TEST_F(ControllerCrossConcernTest, AnOpenTagScanHoldsOffAFirmwareInstall)
{
    for (const TagScanPurpose purpose : { TagScanPurpose::generic, TagScanPurpose::killSwitch }) {
        controller.reset();
        addDevice();
        loadAndLookUp(publish({}));
        ASSERT_TRUE(controller->availableFirmwareAsset());
        controller->beginTagScan(purpose);
        settle();
        const auto requests = server.requests().size();
        controller->startFirmwareInstall();
        EXPECT_EQ(uploadStatus(),
            (FirmwareUploadStatus {
                Phase::failed, "Finish the current Bluetooth task before uploading firmware.", 0, image.size() }));
        EXPECT_TRUE(controller->tagScanSessionActive());
        settle();
        EXPECT_EQ(server.requests().size(), requests);
        EXPECT_FALSE(device->lastReceived("firmware_begin"));
    }
}

TEST_F(ControllerCrossConcernTest, ImportOverTheLocalLinkIsLeftToTheSimulator)
{
    loadOverLink();
    const Data backup = controller->exportSyncData();
    const std::vector<TagInfo> tags = controller->tags();
    linkTexts();
    try {
        controller->importSyncData(backup);
        FAIL() << "the import was accepted";
    } catch (const SyncImportError& error) {
        EXPECT_STREQ(error.what(), "Use Open backup in Tavrik Simulator to import routines and tags.");
    }
    EXPECT_EQ(controller->tags(), tags);
    EXPECT_EQ(probe().sessionMode(), std::nullopt);
    EXPECT_TRUE(controller->virtualTavrikConnected());
    settle();
    EXPECT_TRUE(linkTexts().empty());
}

} // namespace
} // namespace tavrik::test
