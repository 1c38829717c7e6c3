#include "TavrikLink/Views/ConnectionOverlayPresenter.hpp"

#include "TavrikLink/Views/BluetoothAvailabilityText.hpp"

#include <filesystem>

namespace tavrik {

bool ConnectionOverlayPresenter::shouldShowLegacyUpgrade(const ContentViewPresenter::ControllerState& controller)
{
    return controller.legacyFirmwareUpgradeRequired && controller.hasLoadedData;
}

bool ConnectionOverlayPresenter::shouldShowLoadOverlay(const ContentViewPresenter::ControllerState& controller)
{
    return !controller.hasLoadedData || controller.syncMode == SyncMode::load || controller.syncMode == SyncMode::control;
}

std::string ConnectionOverlayPresenter::transferringMessage(const std::optional<SyncMode>& mode)
{
    if (mode == SyncMode::control) {
        return "Applying change to Tavrik...";
    }
    if (mode == SyncMode::restore) {
        return "Restoring data to Tavrik...";
    }
    return "Loading data from Tavrik...";
}

std::string ConnectionOverlayPresenter::completedMessage(const std::optional<SyncMode>& mode)
{
    if (mode == SyncMode::control) {
        return "Connected.";
    }
    if (mode == SyncMode::restore) {
        return "Data restored.";
    }
    return "Data loaded.";
}

ConnectionOverlayPresenter::Overlay ConnectionOverlayPresenter::overlay(
    const ContentViewPresenter::ControllerState& controller, bool showingUsbSetupFlow)
{
    Overlay result;
    const bool control = controller.syncMode == SyncMode::control;
    const auto flash = controller.usbFlashPhase;
    result.showsBackRow = showingUsbSetupFlow && !control && flash != UsbFlashStatus::Phase::flashing
        && flash != UsbFlashStatus::Phase::completed;
    if (showingUsbSetupFlow && !control) {
        result.showsUsbSetup = true;
        return result;
    }
    using Kind = SyncStage::Kind;
    const SyncStage& stage = controller.syncStage;
    switch (stage.kind()) {
    case Kind::idle:
        result.statusText = control ? "Press Tavrik's main button twice to start Bluetooth."
                                    : "To load data, press Tavrik's main button twice to start Bluetooth.";
        break;
    case Kind::waitingForDevice:
        result.statusText = "Push twice on Tavrik to connect.";
        break;
    case Kind::connecting:
        result.statusText = "Connecting to Tavrik...";
        break;
    case Kind::transferring:
        result.statusText = transferringMessage(controller.syncMode);
        break;
    case Kind::completed:
        result.statusText = completedMessage(controller.syncMode);
        break;
    case Kind::failed:
        result.statusText = stage.failureMessage();
        result.statusIsFailure = true;
        result.showsTryAgain = true;
        break;
    }
    const bool waiting = stage.kind() == Kind::idle || stage.kind() == Kind::waitingForDevice;
    result.showsNewBoardSection = !control && waiting;
    const auto bluetooth = BluetoothAvailabilityText::explain(controller.bluetoothUnavailableReason);
    if (bluetooth && (waiting || stage.kind() == Kind::failed) && !controller.isReviewDemo
        && !controller.virtualTavrikConnected) {
        result.bluetoothProblem = bluetooth->problem;
        result.bluetoothAdvice = bluetooth->advice;
        if (waiting) {
            // Pressing Tavrik's button cannot help while this computer's Bluetooth cannot listen;
            // the problem and its advice say what can.
            result.statusText.clear();
        }
    }
    return result;
}

ConnectionOverlayPresenter::LegacyUpgradeCard ConnectionOverlayPresenter::legacyUpgradeCard(
    const ContentViewPresenter::ControllerState& controller, const std::optional<std::string>& legacyMigrationBackupURL)
{
    LegacyUpgradeCard card;
    card.warnings = controller.backupMigrationWarnings;
    if (legacyMigrationBackupURL) {
        card.savedBackupName = std::filesystem::path(*legacyMigrationBackupURL).filename().string();
    }
    return card;
}

} // namespace tavrik
