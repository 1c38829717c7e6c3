#include "TavrikLink/Controller/TavrikBleCentral.hpp"

#include "TavrikCore/Backup/BackupMigrationPipeline.hpp"
#include "TavrikCore/Backup/BackupMigrationResult.hpp"
#include "TavrikCore/Model/RoutineTagReferences.hpp"
#include "TavrikCore/Model/ScheduleResolution.hpp"
#include "TavrikCore/Model/SyncImportError.hpp"
#include "TavrikCore/Routine/RoutineConversions.hpp"

#include <algorithm>
#include <utility>

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
    takeInArrivedData();
    checkSyncDataImport();
    importMigratedSyncData(BackupMigrationPipeline::migrate(data));
}

void TavrikBleCentral::checkSyncDataImport() const
{
    if (!deviceSyncDataVersion_ || *deviceSyncDataVersion_ < 9) {
        throw SyncImportError("Update Tavrik firmware before restoring schema v9 backups.");
    }
    if (link().attached() && !link().supportsRestore()) {
        throw SyncImportError("Use Open backup in Tavrik Simulator to import routines and tags.");
    }
}

void TavrikBleCentral::importMigratedSyncData(const BackupMigrationResult& result)
{
    // Device data still being read in slices land first, so the import replaces them and not the
    // other way round.
    takeInArrivedData();
    checkSyncDataImport();
    const SyncDataEnvelope& envelope = result.envelope;
    if (!routineStartTagsSupported_
        && std::any_of(envelope.routines.begin(), envelope.routines.end(),
            [](const RoutinePayload& routine) { return !routine.startTagIds.empty(); })) {
        throw SyncImportError("This Tavrik needs newer firmware before restoring routine start tags");
    }
    // The file is at fault here, not the connected device, whose own target stands.
    if (envelope.hardwareTarget && !firmwareHardwareTargetFromRawValue(*envelope.hardwareTarget)) {
        throw SyncImportError("Backup is for unsupported hardware target '" + *envelope.hardwareTarget + "'.");
    }
    if (envelope.storeSnapshot) {
        envelope.storeSnapshot->validateForImport();
    }

    // Every check runs on what the install would show, before anything is installed: a refused
    // file leaves the window's data, its unsaved edits and the device as they were. The routines
    // checked are the ones installed, so a large backup is converted once.
    ReceivedRoutines received;
    received.summaries.reserve(envelope.routines.size());
    for (const RoutinePayload& routine : envelope.routines) {
        receiveRoutine(received, routine);
    }
    std::vector<ScheduledRoutine> schedules;
    try {
        schedules = schedulesResolvedForBackup(envelope.schedules, received.summaries);
        checkRoutineTagReferences(normalizedTags(envelope.tags), received.details);
    } catch (const std::exception& failure) {
        appendLog(failure.what(), true);
        throw;
    }

    recordBackupMigration(result);
    applySyncData(envelope, false, std::nullopt, std::move(received));
    publish(schedules_, std::move(schedules), &TavrikBleCentral::schedulesChanged);
    appendLog("Imported data from file", true);
    startRestoreSession();
}

} // namespace tavrik
