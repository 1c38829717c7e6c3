#include "TavrikLink/Views/ContentViewPresenter.hpp"
#include "TavrikLink/Views/WindowAlertQueue.hpp"

#include <gtest/gtest.h>

#include <QSignalSpy>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace tavrik::test {
namespace {

using Pane = ContentViewPresenter::SidebarPane;
using State = ContentViewPresenter::State;
using Controller = ContentViewPresenter::ControllerState;

// A presenter whose every action writes its name into `calls`.
struct WindowFixture : ::testing::Test {
    std::vector<std::string> calls;
    std::vector<std::function<void()>> deferred;
    std::unique_ptr<ContentViewPresenter> window;

    WindowFixture() { makeWindow(); }

    void makeWindow()
    {
        calls.clear();
        deferred.clear();
        ContentViewPresenter::Actions actions;
        auto record = [this](std::string name) { return [this, name] { calls.push_back(name); }; };
        actions.recordUserInteraction = record("recordUserInteraction");
        actions.beginSession
            = [this](SyncMode mode) { calls.push_back("beginSession:" + std::string(syncModeText(mode))); };
        actions.beginReviewDemo = record("beginReviewDemo");
        actions.refreshFirmwareAvailability = record("refreshFirmwareAvailability");
        actions.ejectTavrik = record("ejectTavrik");
        actions.installTerminationHandler = record("installTerminationHandler");
        actions.removeTerminationHandler = record("removeTerminationHandler");
        actions.startActivityMonitoring = record("startActivityMonitoring");
        actions.stopActivityMonitoring = record("stopActivityMonitoring");
        actions.syncScheduleSelection = record("syncScheduleSelection");
        actions.syncTagSelection = record("syncTagSelection");
        actions.updateUsbMonitoring = record("updateUsbMonitoring");
        actions.stopUsbDeviceMonitoring = record("stopUsbDeviceMonitoring");
        actions.beginUsbOnboarding = record("beginUsbOnboarding");
        actions.cancelUsbOnboarding = record("cancelUsbOnboarding");
        actions.startUsbWifiScan = record("startUsbWifiScan");
        actions.invalidateUsbWifiVerification = record("invalidateUsbWifiVerification");
        actions.startUsbOnboardingFlash = [this](const std::string& ssid, const std::string& password) {
            calls.push_back("startUsbOnboardingFlash:" + ssid + "/" + password);
        };
        actions.clearUsbOnboardingNotice = record("clearUsbOnboardingNotice");
        actions.importTavrikData = record("importTavrikData");
        actions.restoreLegacyMigrationBackup = record("restoreLegacyMigrationBackup");
        actions.endLegacyUpgrade = record("endLegacyUpgrade");
        actions.startFirmwareInstall = record("startFirmwareInstall");
        actions.clearFirmwareUpdateNotice = record("clearFirmwareUpdateNotice");
        actions.clearWifiConnectionNotice = record("clearWifiConnectionNotice");
        actions.acceptTimeSyncNotice = record("acceptTimeSyncNotice");
        actions.dismissTimeSyncNotice = record("dismissTimeSyncNotice");
        actions.clearLog = record("clearLog");
        actions.cancelTagEdit = record("cancelTagEdit");
        actions.defer = [this](std::function<void()> work) { deferred.push_back(std::move(work)); };
        window = std::make_unique<ContentViewPresenter>(std::move(actions));
    }

    void runDeferred()
    {
        auto work = std::exchange(deferred, {});
        for (auto& item : work) {
            item();
        }
    }

    void observe(const std::function<void(Controller&)>& change)
    {
        Controller next = window->controller();
        change(next);
        window->observe(next);
    }

    std::vector<std::string> takeCalls() { return std::exchange(calls, {}); }
};

Controller loaded()
{
    Controller controller;
    controller.hasLoadedData = true;
    return controller;
}

TEST_F(WindowFixture, ANewWindowStartsWithTheDefaultState)
{
    const State& state = window->state();
    EXPECT_EQ(state.selectedPane, Pane::routines);
    EXPECT_TRUE(state.routinesExpanded);
    EXPECT_TRUE(state.tagsExpanded);
    EXPECT_FALSE(state.logDrawerExpanded);
    EXPECT_EQ(state.logDrawerWidth, 360);
    EXPECT_FALSE(state.selectedRoutineId);
    EXPECT_EQ(state.routineDetailDraft, RoutineDraft().normalizedHierarchy());
    EXPECT_EQ(state.wifiSettingsScrollRequest, 0);
    EXPECT_EQ(window->mainContent(), ContentViewPresenter::MainContent::loadOverlay);
}

TEST_F(WindowFixture, AppearingRunsTheStartUpInOrderAndStartsTheFirstLoadOnlyWhenIdle)
{
    struct Case {
        const char* name;
        Controller controller;
        std::vector<std::string> start;
    };
    Controller demo;
    demo.isReviewDemo = true;
    Controller waiting;
    waiting.syncStage = SyncStage::waitingForDevice();
    Controller failed;
    failed.syncStage = SyncStage::failed("Bluetooth not available");
    const std::vector<Case> cases {
        { "idle without data", {}, { "beginSession:load" } },
        { "demo", demo, { "beginReviewDemo" } },
        { "already loading", waiting, {} },
        { "failed", failed, {} },
        { "data loaded", loaded(), {} },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        makeWindow();
        window->observe(c.controller);
        calls.clear();
        window->modify([](State& state) { state.usbOtherDeviceSelected = true; });
        window->appear();
        EXPECT_FALSE(window->state().usbOtherDeviceSelected);
        std::vector<std::string> expected { "installTerminationHandler", "startActivityMonitoring",
            "syncScheduleSelection", "syncTagSelection", "refreshFirmwareAvailability", "updateUsbMonitoring" };
        expected.insert(expected.end(), c.start.begin(), c.start.end());
        EXPECT_EQ(calls, expected);
    }
}

TEST_F(WindowFixture, ReappearingKeepsOneActivityMonitorAndDisappearingUndoesTheStartUp)
{
    window->observe(loaded());
    window->appear();
    takeCalls();
    window->appear();
    const auto again = takeCalls();
    EXPECT_EQ(std::count(again.begin(), again.end(), "startActivityMonitoring"), 0);
    window->disappear();
    EXPECT_EQ(takeCalls(),
        (std::vector<std::string> { "removeTerminationHandler", "stopUsbDeviceMonitoring", "stopActivityMonitoring" }));
    window->disappear();
    EXPECT_EQ(takeCalls(), (std::vector<std::string> { "removeTerminationHandler", "stopUsbDeviceMonitoring" }));
    EXPECT_FALSE(window->isMonitoringActivity());
}

TEST_F(WindowFixture, ReactionsRunOnlyWhenTheWatchedValueReallyChanges)
{
    window->observe(loaded());
    takeCalls();
    QSignalSpy changes(window.get(), &ContentViewPresenter::changed);

    // The same values again: nothing runs and nothing redraws.
    window->observe(loaded());
    window->modify([](State& state) { state.selectedPane = Pane::routines; });
    EXPECT_TRUE(takeCalls().empty());
    EXPECT_EQ(changes.count(), 0);

    struct Case {
        const char* name;
        std::function<void(Controller&)> change;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases {
        { "schedules",
            [](Controller& c) {
                ScheduledRoutine schedule;
                schedule.id = 4;
                schedule.routineId = 1;
                c.schedules = { schedule };
            },
            { "syncScheduleSelection" } },
        { "tags",
            [](Controller& c) {
                c.tags = { { 7, "04 11", "Desk" } };
            },
            { "syncTagSelection" } },
        { "unrelated value", [](Controller& c) { c.virtualTavrikConnected = true; }, {} },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        observe(c.change);
        EXPECT_EQ(takeCalls(), c.expected);
        observe(c.change); // applying the same change again changes nothing
        EXPECT_TRUE(takeCalls().empty());
    }

    // Routines is already the pane: only the routine's own reaction runs.
    window->selectRoutine(3);
    EXPECT_EQ(takeCalls(), (std::vector<std::string> { "syncScheduleSelection" }));
    window->selectRoutine(3);
    EXPECT_TRUE(takeCalls().empty());
}

TEST_F(WindowFixture, EveryPaneChangeUpdatesUsbMonitoring)
{
    window->selectPane(Pane::settings);
    takeCalls();
    for (const Pane pane : { Pane::firmware, Pane::tags, Pane::settings }) {
        window->selectPane(pane);
        EXPECT_EQ(takeCalls(), (std::vector<std::string> { "updateUsbMonitoring" }));
    }
    // The same pane again is no change.
    window->selectPane(Pane::settings);
    EXPECT_TRUE(takeCalls().empty());
}

TEST_F(WindowFixture, TheUsbSetupFlowStartsCleanAndIsCancelledWhenClosedOrWhenTheOverlayGoes)
{
    window->modify([](State& state) {
        state.usbOtherDeviceSelected = true;
        state.usbWifiSsid = "Home";
        state.usbWifiPassword = "secret";
        state.usbWifiPasswordVisible = true;
    });
    takeCalls();
    window->modify([](State& state) { state.showingUsbSetupFlow = true; });
    const State& state = window->state();
    EXPECT_FALSE(state.usbOtherDeviceSelected);
    EXPECT_EQ(state.usbWifiSsid, "");
    EXPECT_EQ(state.usbWifiPassword, "");
    EXPECT_FALSE(state.usbWifiPasswordVisible);
    // Emptying the network name and password invalidates the check once, then onboarding begins.
    EXPECT_EQ(takeCalls(), (std::vector<std::string> { "invalidateUsbWifiVerification", "beginUsbOnboarding" }));

    window->modify([](State& s) { s.usbWifiPassword = "x"; });
    EXPECT_EQ(takeCalls(), (std::vector<std::string> { "invalidateUsbWifiVerification" }));

    // Data arrives: the overlay goes, and with it the USB setup screen.
    window->observe(loaded());
    EXPECT_FALSE(window->state().showingUsbSetupFlow);
    EXPECT_EQ(takeCalls(),
        (std::vector<std::string> { "cancelUsbOnboarding", "updateUsbMonitoring", "updateUsbMonitoring" }));

    // A control session brings the overlay back; the USB screen stays closed.
    observe([](Controller& c) { c.syncMode = SyncMode::control; });
    EXPECT_EQ(takeCalls(), (std::vector<std::string> { "updateUsbMonitoring" }));
    EXPECT_FALSE(window->state().showingUsbSetupFlow);
}

TEST_F(WindowFixture, UsbServiceChangesKeepTheSetupChoicesInStep)
{
    window->modify([](State& state) { state.usbOtherDeviceSelected = true; });
    observe([](Controller& c) { c.usbCheckState = UsbOnboardingCheckState::readyForTargetSelection; });
    EXPECT_TRUE(window->state().usbOtherDeviceSelected);
    observe([](Controller& c) { c.usbCheckState = UsbOnboardingCheckState::targetSetup; });
    EXPECT_TRUE(window->state().usbOtherDeviceSelected);
    observe([](Controller& c) { c.usbCheckState = UsbOnboardingCheckState::checkingCompatibility; });
    EXPECT_FALSE(window->state().usbOtherDeviceSelected);
    takeCalls();

    struct Case {
        std::optional<UsbOnboardingTarget> target;
        bool scans;
    };
    for (const Case& c :
        { Case { UsbOnboardingTarget::lilyGoTEmbedCc1101, true }, Case { UsbOnboardingTarget::m5StickCPlus2, false } }) {
        observe([](Controller& s) { s.hasVerifiedUsbOnboardingDevice = false; });
        observe([&](Controller& s) {
            s.usbOnboardingTarget = c.target;
            s.hasVerifiedUsbOnboardingDevice = true;
        });
        EXPECT_EQ(takeCalls(), c.scans ? std::vector<std::string> { "startUsbWifiScan" } : std::vector<std::string> {});
    }

    // The chosen network follows the scan: kept when still listed, else the first, empty when none.
    const auto network = [](std::string ssid) { return UsbWifiNetwork { ssid, -50, 1, "wpa2" }; };
    observe([&](Controller& c) { c.usbWifiNetworks = { network("Office"), network("Home") }; });
    EXPECT_EQ(window->state().usbWifiSsid, "Office");
    window->modify([](State& state) { state.usbWifiSsid = "Home"; });
    observe([&](Controller& c) { c.usbWifiNetworks = { network("Cafe"), network("Home") }; });
    EXPECT_EQ(window->state().usbWifiSsid, "Home");
    observe([&](Controller& c) { c.usbWifiNetworks.clear(); });
    EXPECT_EQ(window->state().usbWifiSsid, "");
}

TEST_F(WindowFixture, TheLegacyUpgradeSavesItsBackupAndTheRestorePromptEndsTheUpgradeEitherWay)
{
    observe([](Controller& c) {
        c.hasLoadedData = true;
        c.legacyFirmwareUpgradeRequired = true;
    });
    EXPECT_EQ(window->mainContent(), ContentViewPresenter::MainContent::legacyUpgrade);

    // "Save Migration Backup…" is the export, which remembers a legacy board's backup itself.
    int exports = 0;
    window->actions().exportTavrikData = [&] {
        ++exports;
        return std::optional<std::string>("/home/user/tavrik-legacy-migration-backup.json");
    };
    window->saveMigrationBackup();
    EXPECT_EQ(exports, 1);

    // Offered after the upgrade: "Keep Current Data" ends the upgrade without restoring, "Restore
    // Backup" restores.
    for (const std::string answer : { "Keep Current Data", "Restore Backup" }) {
        SCOPED_TRACE(answer);
        window->modify([](State& state) { state.showingLegacyRestorePrompt = true; });
        ASSERT_NE(window->alerts().current(), nullptr);
        EXPECT_EQ(window->alerts().current()->title, "Restore Migration Backup?");
        takeCalls();
        const auto& buttons = window->alerts().current()->buttons;
        const auto chosen = std::find_if(buttons.begin(), buttons.end(),
            [&](const WindowAlertQueue::Button& button) { return button.text == answer; });
        ASSERT_NE(chosen, buttons.end());
        window->alerts().answer(static_cast<std::size_t>(chosen - buttons.begin()));
        EXPECT_FALSE(window->state().showingLegacyRestorePrompt);
        EXPECT_EQ(takeCalls(),
            (std::vector<std::string> {
                answer == "Restore Backup" ? "restoreLegacyMigrationBackup" : "endLegacyUpgrade" }));
    }
}

TEST_F(WindowFixture, TagScansFillTheNewTagAndLeaveOtherScansAlone)
{
    // A scan the window did not start (the settings pane's kill-switch scan) opens no sheet.
    takeCalls();
    observe([](Controller& c) { c.tagScanResult = TagScanResult { "04 AA BB CC" }; });
    EXPECT_TRUE(takeCalls().empty());
    EXPECT_FALSE(window->state().showingTagSheet);
    EXPECT_EQ(window->state().tagDraftUid, "");

    // Creating a tag: a pending scan opens the sheet, a result fills the UID.
    window->modify([](State& state) { state.tagMode = ContentViewPresenter::TagEditorCreate {}; });
    observe([](Controller& c) {
        c.tagScanResult.reset();
        c.tagScanState = TagScanState::pending();
    });
    EXPECT_TRUE(window->state().showingTagSheet);
    window->modify([](State& state) { state.showingTagSheet = false; });
    observe([](Controller& c) { c.tagScanResult = TagScanResult { "04 11 22 33" }; });
    EXPECT_EQ(window->state().tagDraftUid, "04 11 22 33");
    EXPECT_TRUE(window->state().showingTagSheet);

    // A scan that cannot start (the demo has no reader) says why, and OK gives up the new tag.
    window->modify([](State& state) { state.showingTagSheet = false; });
    observe([](Controller& c) { c.tagScanState = TagScanState::failed("Scanning tags requires a connected Tavrik."); });
    EXPECT_FALSE(window->state().showingTagSheet);
    ASSERT_NE(window->alerts().current(), nullptr);
    EXPECT_EQ(window->alerts().current()->title, "Add Tag");
    EXPECT_EQ(window->alerts().current()->message, "Scanning tags requires a connected Tavrik.");
    takeCalls();
    window->alerts().answer(0);
    EXPECT_EQ(takeCalls(), (std::vector<std::string> { "cancelTagEdit" }));

    // Renaming: scans leave the editor alone.
    window->modify([](State& state) {
        state.tagMode = ContentViewPresenter::TagEditorRename { TagInfo { 3, "04 01", "Door" } };
        state.showingTagSheet = false;
        state.tagDraftUid.clear();
    });
    observe([](Controller& c) { c.tagScanResult = TagScanResult { "04 99" }; });
    EXPECT_EQ(window->state().tagDraftUid, "");
    EXPECT_FALSE(window->state().showingTagSheet);

    // Closing the sheet while a tag is edited cancels the edit.
    window->modify([](State& state) { state.showingTagSheet = true; });
    takeCalls();
    window->tagSheetClosed();
    EXPECT_FALSE(window->state().showingTagSheet);
    EXPECT_EQ(takeCalls(), (std::vector<std::string> { "cancelTagEdit" }));
}

TEST_F(WindowFixture, TheWifiEditorFollowsNearbyNetworksAndClosesWhenItsNetworkIsSaved)
{
    const auto nearby = [](std::string ssid, int supported) {
        return WifiScannedNetwork { ssid, -40, "wpa2", supported };
    };
    // Closed editor: nothing follows.
    observe([&](Controller& c) { c.nearbyWifiNetworks = { nearby("Lab", 1) }; });
    EXPECT_EQ(window->state().wifiDraftSsid, "");

    window->modify([](State& state) {
        state.showingWifiCredentialEditor = true;
        state.wifiDraftSsid = "Gone";
    });
    observe([&](Controller& c) { c.nearbyWifiNetworks = { nearby("5G only", 0), nearby("Home", 1) }; });
    EXPECT_EQ(window->state().wifiDraftSsid, "Home") << "the first supported network";
    observe([&](Controller& c) { c.nearbyWifiNetworks = { nearby("Cafe", 1), nearby("Home", 1) }; });
    EXPECT_EQ(window->state().wifiDraftSsid, "Home") << "a listed name stays";
    observe([&](Controller& c) { c.nearbyWifiNetworks = { nearby("5G only", 0) }; });
    EXPECT_EQ(window->state().wifiDraftSsid, "") << "no supported network";

    // Editing a saved network or typing another name: the list does not touch the name.
    window->modify([](State& state) {
        state.wifiDraftSsid = "Typed";
        state.wifiDraftUsesOtherNetwork = true;
    });
    observe([&](Controller& c) { c.nearbyWifiNetworks = { nearby("Home", 1) }; });
    EXPECT_EQ(window->state().wifiDraftSsid, "Typed");

    window->modify([](State& state) { state.wifiDraftPassword = "pw"; });
    observe([](Controller& c) { c.wifiLastSavedSsid = "Other"; });
    EXPECT_TRUE(window->state().showingWifiCredentialEditor);
    observe([](Controller& c) { c.wifiLastSavedSsid = "Typed"; });
    EXPECT_FALSE(window->state().showingWifiCredentialEditor);
    EXPECT_EQ(window->state().wifiDraftPassword, "");
    EXPECT_EQ(window->state().selectedWifiCredentialSsid, "Typed");
}

TEST_F(WindowFixture, EjectClearsTheSelectionButKeepsAPendingStartTagRemoval)
{
    window->selectRoutine(5);
    window->modify([](State& state) {
        state.selectedScheduleId = 2;
        state.selectedTagId = 9;
        state.removingRoutineStartTagId = 9;
        state.routineDetailDraft.label = "Morning";
        state.routineDetailSnapshotSignature = 11;
        state.routineDetailMetadataSnapshotSignature = 12;
        state.showingUsbSetupFlow = true;
    });
    takeCalls();
    window->eject();
    const State& state = window->state();
    EXPECT_FALSE(state.selectedRoutineId);
    EXPECT_FALSE(state.selectedScheduleId);
    EXPECT_FALSE(state.selectedTagId);
    EXPECT_EQ(state.removingRoutineStartTagId, 9u);
    EXPECT_EQ(state.routineDetailDraft, RoutineDraft().normalizedHierarchy());
    EXPECT_FALSE(state.routineDetailSnapshotSignature);
    EXPECT_FALSE(state.routineDetailMetadataSnapshotSignature);
    EXPECT_FALSE(state.showingUsbSetupFlow);
    const auto made = takeCalls();
    ASSERT_FALSE(made.empty());
    EXPECT_EQ(made.back(), "ejectTavrik");
}

TEST_F(WindowFixture, TheLogDrawerWidthStaysWithinItsBoundsWhileDragged)
{
    struct Case {
        std::vector<double> translations;
        double width;
    };
    const std::vector<Case> cases {
        { { -40 }, 400 }, // toward the window's leading side widens
        { { 30 }, 330 }, { { 200 }, 280 }, { { -1000 }, 680 },
        { { -100, -500, 20 }, 340 }, // each step measures from where the drag began
    };
    for (const Case& c : cases) {
        window->modify([](State& state) { state.logDrawerWidth = 360; });
        for (double translation : c.translations) {
            window->dragLogDrawer(translation);
        }
        EXPECT_EQ(window->state().logDrawerWidth, c.width);
        EXPECT_EQ(window->state().logDrawerDragStartWidth, 360);
        window->endLogDrawerDrag();
        EXPECT_FALSE(window->state().logDrawerDragStartWidth);
    }

    window->toggleLogDrawer();
    EXPECT_TRUE(window->state().logDrawerExpanded);
    const Uuid entry = Uuid::make();
    window->setLogEntryExpanded(entry, true);
    takeCalls();
    window->clearLog();
    EXPECT_TRUE(window->state().expandedLogEntryIds.empty());
    EXPECT_EQ(takeCalls(), (std::vector<std::string> { "clearLog" }));
}

TEST_F(WindowFixture, MenuImportAndExportRunOnTheNextTurnAndImportIsRefusedForALegacyDevice)
{
    int exports = 0;
    window->actions().exportTavrikData = [&]() -> std::optional<std::string> {
        ++exports;
        return std::nullopt;
    };
    window->importDataCommand();
    window->exportDataCommand();
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(exports, 0);
    runDeferred();
    EXPECT_EQ(takeCalls(), (std::vector<std::string> { "importTavrikData" }));
    EXPECT_EQ(exports, 1);

    observe([](Controller& c) { c.legacyFirmwareUpgradeRequired = true; });
    window->importDataCommand();
    runDeferred();
    EXPECT_TRUE(takeCalls().empty());
    ASSERT_TRUE(window->state().dataTransferNotice);
    EXPECT_EQ(window->state().dataTransferNotice->title, "Firmware Upgrade Required");
    EXPECT_EQ(window->state().dataTransferNotice->message,
        "Save a migration backup and upgrade this legacy Tavrik before importing data.");
    ASSERT_NE(window->alerts().current(), nullptr);
    EXPECT_EQ(window->alerts().current()->title, "Firmware Upgrade Required");
    window->alerts().answer(0);
    EXPECT_FALSE(window->state().dataTransferNotice);
}

// Loaded data stay on screen during a restore, with no overlay: a restore that fails is told in an
// alert. A failed load shows on its overlay and raises none.
TEST_F(WindowFixture, ARestoreThatFailsIsToldInAnAlert)
{
    window->observe(loaded());
    observe([](Controller& c) {
        c.syncMode = SyncMode::restore;
        c.syncStage = SyncStage::transferring();
    });
    ASSERT_EQ(window->mainContent(), ContentViewPresenter::MainContent::split);
    observe([](Controller& c) { c.syncStage = SyncStage::failed("Restore rejected: storage full"); });
    observe([](Controller& c) { c.syncMode.reset(); });
    ASSERT_TRUE(window->state().dataTransferNotice);
    EXPECT_EQ(window->state().dataTransferNotice->title, "Restore Failed");
    EXPECT_EQ(window->state().dataTransferNotice->message, "Restore rejected: storage full");
    EXPECT_TRUE(window->state().dataTransferNotice->failed);
    ASSERT_NE(window->alerts().current(), nullptr);
    EXPECT_EQ(window->alerts().current()->title, "Restore Failed");
    window->alerts().answer(0);
    EXPECT_FALSE(window->state().dataTransferNotice);

    observe([](Controller& c) {
        c.syncMode = SyncMode::load;
        c.syncStage = SyncStage::transferring();
    });
    observe([](Controller& c) { c.syncStage = SyncStage::failed("Connect data invalid"); });
    EXPECT_FALSE(window->state().dataTransferNotice);
    EXPECT_EQ(window->alerts().current(), nullptr);
}

TEST_F(WindowFixture, TryAgainRestartsTheDemoInDemoModeAndLoadsOtherwise)
{
    window->tryAgain();
    EXPECT_EQ(takeCalls(), (std::vector<std::string> { "beginSession:load" }));
    observe([](Controller& c) { c.isReviewDemo = true; });
    window->tryAgain();
    EXPECT_EQ(takeCalls(), (std::vector<std::string> { "beginReviewDemo" }));
}

TEST_F(WindowFixture, TheTitleBarTellsTheRunningRoutineTheLinkTheFirmwareAndTheCountdown)
{
    using Status = ContentViewPresenter::TitleBarStatus;
    EXPECT_EQ(window->titleBarStatus(),
        (Status { std::nullopt, "No routine running", std::nullopt, std::nullopt, std::nullopt, std::nullopt, "" }));

    observe([](Controller& c) {
        ActiveRoutineContext running;
        running.routineId = 1;
        running.routineName = "Morning";
        running.isRunning = true;
        c.activeRoutineContext = running;
        c.virtualTavrikConnected = true;
        c.deviceFirmwareVersion = "2.4.1";
        c.idleDisconnectSecondsRemaining = 27;
    });
    EXPECT_EQ(window->titleBarStatus(),
        (Status { "Morning", "Routine running", "Simulator \u00b7 Local", "Tavrik 2.4.1", "Disconnecting in 27s",
            std::nullopt, "" }));

    window->actions().activeStepLine = [](const ActiveRoutineContext&) { return std::optional<std::string>("Step 2/5"); };
    EXPECT_EQ(window->titleBarStatus().routineLine, "Step 2/5");
}

TEST_F(WindowFixture, TheWindowShowsTheLegacyViewThenTheOverlayThenTheSplitAndRoutesTheDetail)
{
    using Main = ContentViewPresenter::MainContent;
    using Detail = ContentViewPresenter::DetailContent;
    struct Case {
        const char* name;
        Controller controller;
        Main main;
    };
    Controller legacyLoading;
    legacyLoading.legacyFirmwareUpgradeRequired = true;
    Controller legacy = loaded();
    legacy.legacyFirmwareUpgradeRequired = true;
    legacy.syncMode = SyncMode::load;
    Controller control = loaded();
    control.syncMode = SyncMode::control;
    Controller restore = loaded();
    restore.syncMode = SyncMode::restore;
    for (const Case& c : { Case { "nothing loaded", {}, Main::loadOverlay },
             Case { "legacy still loading", legacyLoading, Main::loadOverlay },
             Case { "legacy loaded", legacy, Main::legacyUpgrade }, Case { "control session", control, Main::loadOverlay },
             Case { "restore", restore, Main::split }, Case { "loaded", loaded(), Main::split } }) {
        SCOPED_TRACE(c.name);
        window->observe(c.controller);
        EXPECT_EQ(window->mainContent(), c.main);
        EXPECT_EQ(window->showsTitleBarStrip(), c.main == Main::split);
    }

    EXPECT_EQ(window->detailContent(), Detail::routineEmptyState);
    observe([](Controller& c) { c.routineSummaries = { RoutineSummary { 4, "Evening", 0, 0, 0 } }; });
    window->selectRoutine(7);
    EXPECT_EQ(window->detailContent(), Detail::routineEmptyState) << "a routine the device does not list";
    window->selectRoutine(4);
    EXPECT_EQ(window->detailContent(), Detail::routinePane);
    bool creating = false;
    window->actions().showingNewRoutineDraft = [&] { return creating; };
    window->modify([](State& state) { state.selectedRoutineId.reset(); });
    EXPECT_EQ(window->detailContent(), Detail::routineEmptyState);
    creating = true;
    EXPECT_EQ(window->detailContent(), Detail::routinePane);
    for (auto [pane, detail] : { std::pair { Pane::tags, Detail::tags }, std::pair { Pane::firmware, Detail::firmware },
             std::pair { Pane::settings, Detail::settings } }) {
        window->selectPane(pane);
        EXPECT_EQ(window->detailContent(), detail);
    }
}

TEST_F(WindowFixture, NoticeAlertsRunTheirButtonsAndANewNoticeShowsAgain)
{
    FirmwareUpdateNotice firmware("2.5.0", "Tavrik 2.5.0 is available.");
    observe([&](Controller& c) { c.firmwareUpdateNotice = firmware; });
    ASSERT_NE(window->alerts().current(), nullptr);
    EXPECT_EQ(window->alerts().current()->title, "Firmware Update Available");
    EXPECT_EQ(window->alerts().current()->message, "Tavrik 2.5.0 is available.");
    takeCalls();
    window->alerts().answer(0);
    EXPECT_EQ(window->state().selectedPane, Pane::firmware);
    auto made = takeCalls();
    EXPECT_EQ(std::vector<std::string>(made.end() - 2, made.end()),
        (std::vector<std::string> { "startFirmwareInstall", "clearFirmwareUpdateNotice" }));
    observe([](Controller& c) { c.firmwareUpdateNotice.reset(); });

    // The Wi-Fi notice: "Open Wi-Fi settings" asks the settings pane to scroll each time.
    for (int round = 1; round <= 2; ++round) {
        observe([](Controller& c) { c.wifiConnectionNotice = WifiConnectionNotice("Wrong password"); });
        ASSERT_NE(window->alerts().current(), nullptr);
        EXPECT_EQ(window->alerts().current()->title, "Tavrik couldn\u2019t connect to Wi-Fi");
        window->alerts().answer(0);
        EXPECT_EQ(window->state().selectedPane, Pane::settings);
        EXPECT_EQ(window->state().wifiSettingsScrollRequest, round);
        observe([](Controller& c) { c.wifiConnectionNotice.reset(); });
    }

    // The clock prompt: anything but "Update Time" clears the notice and counts as activity.
    observe([](Controller& c) {
        c.timeSyncNotice = TimeSyncNotice(DeviceClockSnapshot {}, "2025-01-01 10:00", "2025-01-01 10:05", 300);
    });
    ASSERT_NE(window->alerts().current(), nullptr);
    EXPECT_EQ(window->alerts().current()->kind, WindowAlertQueue::Kind::question);
    EXPECT_EQ(window->alerts().current()->title, "Update Tavrik Time?");
    takeCalls();
    window->alerts().dismiss();
    EXPECT_EQ(takeCalls(), (std::vector<std::string> { "dismissTimeSyncNotice", "recordUserInteraction" }));

    // A USB notice that goes away before it is answered takes its alert with it.
    UsbOnboardingNotice usb { Uuid::make(), {}, "Install Tavrik on this board?" };
    observe([&](Controller& c) { c.usbOnboardingNotice = usb; });
    ASSERT_NE(window->alerts().current(), nullptr);
    observe([](Controller& c) { c.usbOnboardingNotice.reset(); });
    EXPECT_EQ(window->alerts().current(), nullptr);
    window->modify([](State& state) {
        state.usbWifiSsid = "Home";
        state.usbWifiPassword = "pw";
    });
    observe([&](Controller& c) { c.usbOnboardingNotice = usb; });
    // Installing erases the board: Return must not be the way to do it.
    const WindowAlertQueue::Alert& install = *window->alerts().current();
    EXPECT_EQ(install.buttons.at(0).role, WindowAlertQueue::Button::Role::destructive);
    EXPECT_EQ(WindowAlertQueue::defaultButton(install), 1U);
    EXPECT_EQ(install.kind, WindowAlertQueue::Kind::warning);
    takeCalls();
    window->alerts().answer(0);
    made = takeCalls();
    EXPECT_EQ(window->state().selectedPane, Pane::firmware);
    EXPECT_EQ(std::vector<std::string>(made.end() - 2, made.end()),
        (std::vector<std::string> { "startUsbOnboardingFlash:Home/pw", "clearUsbOnboardingNotice" }));
}

} // namespace
} // namespace tavrik::test
