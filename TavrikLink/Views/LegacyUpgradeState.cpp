#include "TavrikLink/Views/LegacyUpgradeState.hpp"

#include "TavrikLink/Controller/TavrikBleCentral.hpp"

#include <memory>
#include <utility>

namespace tavrik {

LegacyUpgradeState::LegacyUpgradeState(QObject* parent)
    : QObject(parent)
{
}

void LegacyUpgradeState::setMigrationBackupPath(std::optional<QString> path)
{
    if (backupPath == path) {
        return;
    }
    backupPath = std::move(path);
    emit changed();
}

void LegacyUpgradeState::setUpgradeStarted(bool value)
{
    if (started == value) {
        return;
    }
    started = value;
    emit changed();
}

void LegacyUpgradeState::legacyUpgradeRequirementChanged(bool required)
{
    if (required && !started) {
        setMigrationBackupPath(std::nullopt);
    }
}

bool LegacyUpgradeState::shouldOfferRestore(bool legacyUpgradeRequired) const
{
    return started && !legacyUpgradeRequired && backupPath.has_value();
}

void LegacyUpgradeState::uploadPhaseChanged(FirmwareUploadStatus::Phase phase)
{
    if (phase == FirmwareUploadStatus::Phase::failed) {
        setUpgradeStarted(false);
    }
}

void LegacyUpgradeState::follow(const TavrikBleCentral& controller)
{
    connect(&controller, &TavrikBleCentral::legacyFirmwareUpgradeRequiredChanged, this,
        [this, &controller] { legacyUpgradeRequirementChanged(controller.legacyFirmwareUpgradeRequired()); });
    connect(&controller, &TavrikBleCentral::hasLoadedDataChanged, this, [this, &controller] {
        if (controller.hasLoadedData() && shouldOfferRestore(controller.legacyFirmwareUpgradeRequired())) {
            emit restoreOffered();
        }
    });
    // Only a change into the failed phase counts, not every status line while it stays failed.
    auto lastPhase = std::make_shared<FirmwareUploadStatus::Phase>(controller.firmwareUpload().status().phase);
    connect(&controller.firmwareUpload(), &FirmwareUploadService::statusChanged, this, [this, &controller, lastPhase] {
        const auto phase = controller.firmwareUpload().status().phase;
        if (phase != *lastPhase) {
            *lastPhase = phase;
            uploadPhaseChanged(phase);
        }
    });
}

} // namespace tavrik
