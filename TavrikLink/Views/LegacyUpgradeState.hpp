#pragma once

#include "TavrikCore/Firmware/FirmwareUploadStatus.hpp"

#include <QObject>
#include <QString>

#include <optional>

namespace tavrik {

class TavrikBleCentral;

// The window's memory of a legacy board's upgrade: where the migration backup was saved and
// whether the user began the firmware upgrade. Shared by the backup file actions, the legacy
// upgrade view and its firmware section.
class LegacyUpgradeState : public QObject {
    Q_OBJECT

public:
    explicit LegacyUpgradeState(QObject* parent = nullptr);

    const std::optional<QString>& migrationBackupPath() const { return backupPath; }
    bool hasMigrationBackup() const { return backupPath.has_value(); }
    bool upgradeStarted() const { return started; }

    void setMigrationBackupPath(std::optional<QString> path);
    void setUpgradeStarted(bool value);

    // The controller began (or stopped) requiring the legacy upgrade. A board that newly needs it
    // and whose upgrade was not begun here must get a backup of its own.
    void legacyUpgradeRequirementChanged(bool required);
    // Data was loaded: after an upgrade begun here, with a migration backup saved and the board no
    // longer legacy, the window offers to restore the backup.
    bool shouldOfferRestore(bool legacyUpgradeRequired) const;
    // A failed upload ends the upgrade the user began.
    void uploadPhaseChanged(FirmwareUploadStatus::Phase phase);

    // Runs the three reactions above on the controller's changes; the controller must outlive this.
    void follow(const TavrikBleCentral& controller);

signals:
    void changed();
    // The window should ask "Restore Migration Backup?".
    void restoreOffered();

private:
    std::optional<QString> backupPath;
    bool started = false;
};

} // namespace tavrik
