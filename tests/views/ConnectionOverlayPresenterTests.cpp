#include "TavrikLink/Views/ConnectionOverlayPresenter.hpp"

#include <gtest/gtest.h>

namespace tavrik::test {
namespace {

using Controller = ContentViewPresenter::ControllerState;
using Overlay = ConnectionOverlayPresenter::Overlay;

Controller session(std::optional<SyncMode> mode, SyncStage stage, bool loaded = false)
{
    Controller controller;
    controller.syncMode = mode;
    controller.syncStage = std::move(stage);
    controller.hasLoadedData = loaded;
    return controller;
}

TEST(ConnectionOverlay, StatusFollowsTheStageAndTheSessionMode)
{
    struct Case {
        const char* name;
        Controller controller;
        Overlay overlay;
    };
    const std::string idleLoad = "To load data, press Tavrik's main button twice to start Bluetooth.";
    const std::vector<Case> cases {
        { "idle", session(std::nullopt, SyncStage::idle()),
            { false, false, idleLoad, false, false, true, std::nullopt, "" } },
        { "waiting", session(SyncMode::load, SyncStage::waitingForDevice()),
            { false, false, "Push twice on Tavrik to connect.", false, false, true, std::nullopt, "" } },
        { "connecting", session(SyncMode::load, SyncStage::connecting()),
            { false, false, "Connecting to Tavrik...", false, false, false, std::nullopt, "" } },
        { "loading", session(SyncMode::load, SyncStage::transferring()),
            { false, false, "Loading data from Tavrik...", false, false, false, std::nullopt, "" } },
        { "loaded", session(SyncMode::load, SyncStage::completed()),
            { false, false, "Data loaded.", false, false, false, std::nullopt, "" } },
        { "restoring", session(SyncMode::restore, SyncStage::transferring()),
            { false, false, "Restoring data to Tavrik...", false, false, false, std::nullopt, "" } },
        { "restored", session(SyncMode::restore, SyncStage::completed()),
            { false, false, "Data restored.", false, false, false, std::nullopt, "" } },
        { "failed", session(SyncMode::load, SyncStage::failed("Bluetooth not available")),
            { false, false, "Bluetooth not available", true, true, false, std::nullopt, "" } },
        // A control session over loaded data: its own texts and no way into the USB setup.
        { "control idle", session(SyncMode::control, SyncStage::idle(), true),
            { false, false, "Press Tavrik's main button twice to start Bluetooth.", false, false, false, std::nullopt,
                "" } },
        { "control waiting", session(SyncMode::control, SyncStage::waitingForDevice(), true),
            { false, false, "Push twice on Tavrik to connect.", false, false, false, std::nullopt, "" } },
        { "control sending", session(SyncMode::control, SyncStage::transferring(), true),
            { false, false, "Applying change to Tavrik...", false, false, false, std::nullopt, "" } },
        { "control done", session(SyncMode::control, SyncStage::completed(), true),
            { false, false, "Connected.", false, false, false, std::nullopt, "" } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ConnectionOverlayPresenter::overlay(c.controller, false), c.overlay);
    }
}

TEST(ConnectionOverlay, SaysWhyNothingConnectsWhileBluetoothCannotBeUsed)
{
    struct Case {
        BleUnavailableReason reason;
        const char* problem;
        const char* adviceMentions;
        const char* brief;
    };
    const std::vector<Case> cases {
        { BleUnavailableReason::noAdapter, "Bluetooth is not available: no Bluetooth adapter was found.",
            "rfkill unblock bluetooth", "Bluetooth: no adapter" },
        { BleUnavailableReason::adapterOff, "Bluetooth is powered off.", "bluetoothctl power on", "Bluetooth off" },
        { BleUnavailableReason::bluezNotRunning,
            "Bluetooth is not available: the Bluetooth service (BlueZ) is not running.",
            "sudo systemctl start bluetooth", "Bluetooth: BlueZ not running" },
        { BleUnavailableReason::accessDenied, "Bluetooth access denied: this user may not use BlueZ on the system bus.",
            "system bus policy", "Bluetooth: access denied" },
        { BleUnavailableReason::noSystemBus, "Bluetooth is not available: there is no system bus.", "D-Bus system bus",
            "Bluetooth: no system bus" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.problem);
        Controller waiting = session(SyncMode::load, SyncStage::waitingForDevice());
        waiting.bluetoothUnavailableReason = c.reason;
        const Overlay overlay = ConnectionOverlayPresenter::overlay(waiting, false);
        EXPECT_EQ(overlay.statusText, "") << "no advice to press a button that cannot help";
        EXPECT_EQ(overlay.bluetoothProblem, c.problem);
        Controller idle = session(SyncMode::load, SyncStage::idle());
        idle.bluetoothUnavailableReason = c.reason;
        EXPECT_EQ(ConnectionOverlayPresenter::overlay(idle, false).statusText, "");
        EXPECT_NE(overlay.bluetoothAdvice.find(c.adviceMentions), std::string::npos) << overlay.bluetoothAdvice;

        // The window's title bar says it too, in a few words, once data is loaded.
        ContentViewPresenter window({});
        Controller loaded = session(std::nullopt, SyncStage::completed(), true);
        loaded.bluetoothUnavailableReason = c.reason;
        window.observe(loaded);
        EXPECT_EQ(window.titleBarStatus().bluetoothText, c.brief);
        EXPECT_NE(window.titleBarStatus().bluetoothAdvice.find(c.problem), std::string::npos);
    }

    // Usable Bluetooth, the demo, a simulator serving the window, or a device already on its way:
    // nothing to explain.
    Controller usable = session(SyncMode::load, SyncStage::waitingForDevice());
    Controller demo = usable;
    demo.isReviewDemo = true;
    Controller simulator = usable;
    simulator.virtualTavrikConnected = true;
    Controller connecting = session(SyncMode::load, SyncStage::connecting());
    for (Controller* quiet : { &demo, &simulator, &connecting }) {
        quiet->bluetoothUnavailableReason = BleUnavailableReason::adapterOff;
    }
    for (const Controller& quiet : { usable, demo, simulator, connecting }) {
        EXPECT_EQ(ConnectionOverlayPresenter::overlay(quiet, false).bluetoothProblem, std::nullopt);
    }
    for (const Controller& quiet : { usable, demo, simulator }) {
        ContentViewPresenter window({});
        window.observe(quiet);
        EXPECT_EQ(window.titleBarStatus().bluetoothText, std::nullopt);
    }
}

TEST(ConnectionOverlay, TheUsbSetupReplacesTheStatusExceptDuringAControlSession)
{
    struct Case {
        const char* name;
        std::optional<SyncMode> mode;
        UsbFlashStatus::Phase flash;
        bool usbSetup;
        bool backRow;
    };
    const std::vector<Case> cases {
        { "between sessions", std::nullopt, UsbFlashStatus::Phase::idle, true, true },
        { "probing", SyncMode::load, UsbFlashStatus::Phase::probing, true, true },
        { "flash failed", std::nullopt, UsbFlashStatus::Phase::failed, true, true },
        { "flashing", std::nullopt, UsbFlashStatus::Phase::flashing, true, false },
        { "flashed", std::nullopt, UsbFlashStatus::Phase::completed, true, false },
        { "control session", SyncMode::control, UsbFlashStatus::Phase::idle, false, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Controller controller = session(c.mode, SyncStage::waitingForDevice());
        controller.usbFlashPhase = c.flash;
        const Overlay overlay = ConnectionOverlayPresenter::overlay(controller, true);
        EXPECT_EQ(overlay.showsUsbSetup, c.usbSetup);
        EXPECT_EQ(overlay.showsBackRow, c.backRow);
        EXPECT_EQ(overlay.statusText.empty(), c.usbSetup);
    }
}

TEST(ConnectionOverlay, WhichViewCoversTheWindow)
{
    struct Case {
        std::optional<SyncMode> mode;
        bool loaded;
        bool legacy;
        bool overlay;
        bool legacyView;
    };
    const std::vector<Case> cases {
        { std::nullopt, false, false, true, false },
        { SyncMode::load, true, false, true, false },
        { SyncMode::control, true, false, true, false },
        { SyncMode::restore, true, false, false, false },
        { std::nullopt, true, false, false, false },
        { std::nullopt, false, true, true, false },
        { SyncMode::load, true, true, true, true },
    };
    for (const Case& c : cases) {
        Controller controller = session(c.mode, SyncStage::idle(), c.loaded);
        controller.legacyFirmwareUpgradeRequired = c.legacy;
        EXPECT_EQ(ConnectionOverlayPresenter::shouldShowLoadOverlay(controller), c.overlay);
        EXPECT_EQ(ConnectionOverlayPresenter::shouldShowLegacyUpgrade(controller), c.legacyView);
    }
}

TEST(ConnectionOverlay, TheLegacyCardListsWarningsAndTheSavedBackup)
{
    Controller controller;
    EXPECT_EQ(ConnectionOverlayPresenter::legacyUpgradeCard(controller, std::nullopt),
        (ConnectionOverlayPresenter::LegacyUpgradeCard { {}, std::nullopt }));
    controller.backupMigrationWarnings = { "Routine 3 step 2 named a missing tag", "Schedule 9 had no routine" };
    const auto card = ConnectionOverlayPresenter::legacyUpgradeCard(
        controller, std::string("/home/u/Backups/tavrik-legacy-migration-backup.json"));
    EXPECT_EQ(card.warnings, controller.backupMigrationWarnings);
    EXPECT_EQ(card.savedBackupName, "tavrik-legacy-migration-backup.json");
}

} // namespace
} // namespace tavrik::test
