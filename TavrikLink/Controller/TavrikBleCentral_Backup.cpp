#include "TavrikLink/Controller/TavrikBleCentral.hpp"

#include "TavrikCore/Backup/BackupMigrationResult.hpp"

namespace tavrik {

void TavrikBleCentral::recordBackupMigration(const BackupMigrationResult& result)
{
    publish(backupMigrationWarnings_, result.warnings, &TavrikBleCentral::backupMigrationWarningsChanged);
    for (const std::string& step : result.appliedSteps) {
        appendLog("[backup migration] " + step, true);
    }
    for (const std::string& warning : result.warnings) {
        appendLog("[backup migration] Warning: " + warning, true);
    }
}

Data TavrikBleCentral::exportSyncData()
{
    return {};
}

void TavrikBleCentral::importSyncData(const Data&) { }

} // namespace tavrik
