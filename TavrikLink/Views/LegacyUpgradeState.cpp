#include "TavrikLink/Views/LegacyUpgradeState.hpp"

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

} // namespace tavrik
