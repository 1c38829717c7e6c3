#include "TavrikLink/Controller/TavrikBleCentral.hpp"

#include "TavrikCore/Backup/BackupMigrationPipeline.hpp"
#include "TavrikCore/Backup/BackupMigrationResult.hpp"
#include "TavrikCore/Model/RoutineTagReferences.hpp"
#include "TavrikCore/Model/SyncImportError.hpp"

#include <algorithm>

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
    checkRoutineTagReferences(tags_, routineDetails_);
    if (storeSnapshot_) {
        storeSnapshot_->validateForImport();
    }
    SyncDataEnvelope envelope;
    envelope.type = "sync_data";
    envelope.dataVersion = 9;
    envelope.firmwareVersion = deviceFirmwareVersion_;
    envelope.hardwareTarget = std::string(rawValue(deviceHardwareTarget_));
    envelope.settings = SyncSettingsPayload(
        muteNonAlarmSounds_, killSwitchSupported_ ? std::optional<std::string>(killSwitchUid_) : std::nullopt);
    envelope.storeSnapshot = storeSnapshot_;
    envelope.schedules = schedulesResolvedForPersistence();
    envelope.tags = tags_;
    envelope.routines = buildRoutinePayloads();
    return BackupMigrationPipeline::encodeCurrent(envelope, true);
}

void TavrikBleCentral::importSyncData(const Data& data)
{
    if (!deviceSyncDataVersion_ || *deviceSyncDataVersion_ < 9) {
        throw SyncImportError("Update Tavrik firmware before restoring schema v9 backups.");
    }
    if (virtualTavrikConnected_) {
        throw SyncImportError("Use Open backup in Tavrik Simulator to import routines and tags.");
    }
    const BackupMigrationResult result = BackupMigrationPipeline::migrate(data);
    const SyncDataEnvelope& envelope = result.envelope;
    if (!routineStartTagsSupported_
        && std::any_of(envelope.routines.begin(), envelope.routines.end(),
            [](const RoutinePayload& routine) { return !routine.startTagIds.empty(); })) {
        throw SyncImportError("This Tavrik needs newer firmware before restoring routine start tags");
    }
    // A backup of hardware this program does not know is refused before anything is shown or installed.
    if (envelope.hardwareTarget && !firmwareHardwareTargetFromRawValue(*envelope.hardwareTarget)) {
        throw SyncImportError("Connected Tavrik reports unsupported hardware target '" + *envelope.hardwareTarget + "'.");
    }
    if (envelope.storeSnapshot) {
        envelope.storeSnapshot->validateForImport();
    }
    recordBackupMigration(result);
    applySyncData(envelope, false, std::nullopt);

    std::vector<ScheduledRoutine> schedules;
    try {
        schedules = schedulesResolvedForPersistence();
    } catch (const std::exception& failure) {
        appendLog(failure.what(), true);
        setSyncStage(SyncStage::failed("Import has invalid schedules"));
        updateStatus("Import invalid");
        throw;
    }
    publish(schedules_, std::move(schedules), &TavrikBleCentral::schedulesChanged);
    try {
        checkRoutineTagReferences(tags_, routineDetails_);
    } catch (const std::exception& failure) {
        appendLog(failure.what(), true);
        setSyncStage(SyncStage::failed("Import has invalid routine tag references"));
        updateStatus("Import invalid");
        throw;
    }
    appendLog("Imported data from file", true);
    startRestoreSession();
}

} // namespace tavrik
