#include "TavrikLink/Controller/TavrikBleCentral.hpp"

#include "TavrikCore/Backup/BackupMigrationPipeline.hpp"
#include "TavrikCore/Backup/BackupMigrationResult.hpp"
#include "TavrikCore/Model/RoutineTagReferences.hpp"
#include "TavrikCore/Model/ScheduleResolution.hpp"
#include "TavrikCore/Model/SyncImportError.hpp"
#include "TavrikCore/Routine/RoutineConversions.hpp"

#include <algorithm>
#include <memory>
#include <random>
#include <utility>
#include <vector>

namespace tavrik {

namespace {

// Ids for routines converted on a worker thread: a generator of its own, seeded on the window's
// thread, as the controller's source is not to be drawn from two threads.
class SeededRandomSource final : public RandomSource {
public:
    explicit SeededRandomSource(RandomSource& seeds)
    {
        std::vector<std::uint32_t> words;
        for (int draw = 0; draw < 4; ++draw) {
            const std::uint64_t value = seeds.nextUInt64();
            words.push_back(static_cast<std::uint32_t>(value));
            words.push_back(static_cast<std::uint32_t>(value >> 32));
        }
        std::seed_seq sequence(words.begin(), words.end());
        engine.seed(sequence);
    }

    std::uint64_t nextUInt64() override { return engine(); }

private:
    std::mt19937_64 engine;
};

} // namespace

void TavrikBleCentral::convertRoutines(PreparedBackup& prepared, RandomSource& ids)
{
    std::vector<RoutinePayload>& routines = prepared.migration.envelope.routines;
    ReceivedRoutines received;
    received.summaries.reserve(routines.size());
    for (RoutinePayload& routine : routines) {
        receiveRoutine(received, routine, ids);
        // Held once, in the controller's own form, is enough.
        routine = {};
    }
    routines.clear();
    prepared.summaries = std::move(received.summaries);
    prepared.details = std::move(received.details);
}

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
    PreparedBackup prepared { BackupMigrationPipeline::migrate(data), {}, {} };
    convertRoutines(prepared, random);
    importPreparedBackup(std::move(prepared));
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

TavrikBleCentral::BackupPreparation TavrikBleCentral::backupPreparation()
{
    return [ids = std::make_shared<SeededRandomSource>(random)](const Data& bytes) {
        PreparedBackup prepared { BackupMigrationPipeline::migrate(bytes), {}, {} };
        convertRoutines(prepared, *ids);
        return prepared;
    };
}

void TavrikBleCentral::importPreparedBackup(PreparedBackup prepared)
{
    // Device data still being read in slices land first, so the import replaces them and not the
    // other way round.
    takeInArrivedData();
    checkSyncDataImport();
    const BackupMigrationResult& result = prepared.migration;
    const SyncDataEnvelope& envelope = result.envelope;
    ReceivedRoutines received { std::move(prepared.summaries), std::move(prepared.details) };
    if (!routineStartTagsSupported_
        && std::any_of(received.summaries.begin(), received.summaries.end(),
            [](const RoutineSummary& routine) { return routine.startTagCount != 0; })) {
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
    // file leaves the window's data, its unsaved edits and the device as they were.
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
