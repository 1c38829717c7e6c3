#include "TavrikLink/Controller/TavrikBleCentral.hpp"

#include "TavrikCore/Model/LocalIds.hpp"
#include "TavrikCore/Model/WifiOrdering.hpp"
#include "TavrikCore/Routine/RoutineConversions.hpp"
#include "TavrikCore/Support/Text.hpp"

#include <algorithm>

namespace tavrik {

namespace {

template <class Item>
std::vector<std::uint32_t> idsOf(const std::vector<Item>& items)
{
    std::vector<std::uint32_t> ids;
    ids.reserve(items.size());
    for (const Item& item : items) {
        ids.push_back(item.id);
    }
    return ids;
}

} // namespace

void TavrikBleCentral::receiveRoutine(ReceivedRoutines& received, const RoutinePayload& routine)
{
    receiveRoutine(received, routine, random);
}

void TavrikBleCentral::receiveRoutine(ReceivedRoutines& received, const RoutinePayload& routine, RandomSource& random)
{
    received.summaries.push_back({ routine.id, routine.label, static_cast<std::int64_t>(routine.steps.size()),
        static_cast<std::int64_t>(routine.groups.size()), static_cast<std::int64_t>(routine.startTagIds.size()) });
    // Migrated data has unique routine ids; should one repeat, its first entry stands.
    received.details.emplace(routine.id, receivedRoutineDetail(routine, random));
}

bool TavrikBleCentral::applySyncData(const SyncDataEnvelope& envelope, bool updateDeviceCapabilities,
    std::optional<std::int64_t> reportedDataVersion, std::optional<ReceivedRoutines> received)
{
    // Data of hardware this program does not know is refused before anything of it is taken in.
    if (envelope.hardwareTarget && !firmwareHardwareTargetFromRawValue(*envelope.hardwareTarget)) {
        publish(availableFirmwareAsset_, std::nullopt, &TavrikBleCentral::availableFirmwareAssetChanged);
        publish(firmwareUpdateNotice_, std::nullopt, &TavrikBleCentral::firmwareUpdateNoticeChanged);
        firmwareUpload_->replaceStatus({ FirmwareUploadStatus::Phase::failed,
            "Connected Tavrik reports unsupported hardware target '" + *envelope.hardwareTarget + "'.", 0, 0 });
        return false;
    }

    publishSchedules(envelope.schedules);
    publish(tags_, normalizedTags(envelope.tags), &TavrikBleCentral::tagsChanged);
    storeSnapshot_ = envelope.storeSnapshot;

    if (updateDeviceCapabilities || (!isConnected_ && !localLink_->attached() && !isReviewDemo_)) {
        publish(deviceFirmwareVersion_, envelope.firmwareVersion, &TavrikBleCentral::deviceFirmwareVersionChanged);
        const FirmwareHardwareTarget target = envelope.hardwareTarget
            ? *firmwareHardwareTargetFromRawValue(*envelope.hardwareTarget)
            : allFirmwareHardwareTargets.front();
        publish(deviceHardwareTarget_, target, &TavrikBleCentral::deviceHardwareTargetChanged);
    }

    if (updateDeviceCapabilities) {
        const std::optional<std::int64_t> version = reportedDataVersion ? reportedDataVersion : envelope.dataVersion;
        publish(deviceSyncDataVersion_, version, &TavrikBleCentral::deviceSyncDataVersionChanged);
        publish(routineStartTagsSupported_, version.value_or(0) > 7, &TavrikBleCentral::routineStartTagsSupportedChanged);
    }

    selectFirmwareAssetForConnectedTarget();

    if (envelope.settings) {
        const bool mute = envelope.settings->isMuteNonAlarmSoundsEnabled();
        publish(muteNonAlarmSounds_, mute, &TavrikBleCentral::muteNonAlarmSoundsChanged);
        if (!isReviewDemo_) {
            defaults.setBool(muteNonAlarmSoundsDefaultsKey, mute);
        }
        if (!envelope.settings->killSwitchUid) {
            if (updateDeviceCapabilities) {
                publish(killSwitchSupported_, false, &TavrikBleCentral::killSwitchSupportedChanged);
                publish(killSwitchUid_, std::string(), &TavrikBleCentral::killSwitchUidChanged);
            }
        } else {
            if (updateDeviceCapabilities) {
                publish(killSwitchSupported_, true, &TavrikBleCentral::killSwitchSupportedChanged);
            }
            // An import gives no kill-switch tag to a device that cannot hold one.
            if (killSwitchSupported_) {
                publish(killSwitchUid_, *envelope.settings->killSwitchUid, &TavrikBleCentral::killSwitchUidChanged);
            }
        }
    }

    // Wi-Fi support and the saved networks are the device's own: a backup carries none, so an
    // import leaves them as the device reported them.
    if (updateDeviceCapabilities) {
        if (!envelope.wifi || activeBleProfile_ == TavrikBleProtocolProfile::legacyUnencryptedV1) {
            publish(wifiSupported_, false, &TavrikBleCentral::wifiSupportedChanged);
            publish(wifiCredentialCapacity_, std::int64_t { 0 }, &TavrikBleCentral::wifiCredentialCapacityChanged);
            publish(savedWifiCredentials_, std::vector<WifiCredentialSummary> {},
                &TavrikBleCentral::savedWifiCredentialsChanged);
        } else {
            publish(wifiSupported_, envelope.wifi->isSupported(), &TavrikBleCentral::wifiSupportedChanged);
            publish(wifiCredentialCapacity_, envelope.wifi->capacity, &TavrikBleCentral::wifiCredentialCapacityChanged);
            publish(savedWifiCredentials_, sortedSavedWifiCredentials(envelope.wifi->credentials, clock.localeId()),
                &TavrikBleCentral::savedWifiCredentialsChanged);
        }
    }

    evaluateTimeSyncNeed(envelope.clock);

    // Data loaded again after a refused change keeps the refusal on screen where the edit was made.
    if (!refusedChangeReloadRunning_) {
        setScheduleError(std::nullopt);
        setTagError(std::nullopt);
        setRoutineError(std::nullopt);
        publish(settingsError_, std::nullopt, &TavrikBleCentral::settingsErrorChanged);
    }
    // Saves still waiting for their echo are answered by this data, whatever it holds.
    pendingRoutineDetailSignatures_.clear();

    if (!received) {
        received.emplace();
        received->summaries.reserve(envelope.routines.size());
        for (const RoutinePayload& routine : envelope.routines) {
            receiveRoutine(*received, routine);
        }
    }
    setRoutineSummaries(std::move(received->summaries));
    publish(routineDetails_, std::move(received->details), &TavrikBleCentral::routineDetailsChanged);

    refreshRoutineDefinitions();
    updateNextLocalIds();

    renewBaseline();
    setHasLoadedData(true);
    disarmSyncBound();
    setSyncStage(SyncStage::idle());
    clearSessionFields();
    refusedChangeReloadWanted_ = false;
    finishRefusedChangeReload();

    if (isReviewDemo_) {
        updateStatus("App Review demo \u00b7 no device");
    } else if (localLink_->attached()) {
        publish(availableFirmwareAsset_, std::nullopt, &TavrikBleCentral::availableFirmwareAssetChanged);
        publish(firmwareUpdateNotice_, std::nullopt, &TavrikBleCentral::firmwareUpdateNoticeChanged);
        updateStatus("Connected to simulator \u00b7 local");
    } else {
        if (isConnected_) {
            updateStatus("Connected");
        }
        updateFirmwareNoticeIfNeeded();
    }
    recordUserInteraction();
    return true;
}

void TavrikBleCentral::reloadAfterRefusedChange()
{
    // While a routine start, a tag scan or a clock or Wi-Fi request waits, an "error" answers that.
    if (claims_.taken(LinkClaim::commandConnection) || claims_.taken(LinkClaim::routineControl)
        || claims_.taken(LinkClaim::tagScan)) {
        return;
    }
    refusedChangeReloadWanted_ = true;
    scheduleRefusedChangeReload();
}

void TavrikBleCentral::scheduleRefusedChangeReload()
{
    if (!refusedChangeReloadWanted_ || refusedChangeReloadCheck_.isPending()) {
        return;
    }
    // On the next turn: the refusal, or the send that freed the link, finishes first.
    refusedChangeReloadCheck_.schedule(std::chrono::milliseconds(0), [this] { startRefusedChangeReloadIfLinkFree(); });
}

void TavrikBleCentral::startRefusedChangeReloadIfLinkFree()
{
    // Free: attached, no session, nothing queued, debounced or awaiting an answer. Otherwise the
    // next moment the device holds the window's data (renewBaseline) asks again.
    const bool linkFree = isDeviceAttached() && !sessionMode_ && commandPath_.queued().empty()
        && commandPath_.debouncedCount() == 0 && !pendingRoutineCommand_ && !pendingClockCommand_
        && !wifiRequests_.isBusy() && !claims_.taken(LinkClaim::tagScan) && !firmwareUpload_->isActive();
    if (!refusedChangeReloadWanted_ || !linkFree) {
        return;
    }
    refusedChangeReloadWanted_ = false;
    refusedChangeReloadRunning_ = true;
    appendLog("Loading Tavrik data again after a refused change", true);
    // A load over the open connection, as a restore does: the device already knows this app.
    sessionMode_ = SyncMode::load;
    setSyncMode(SyncMode::load);
    syncCode_ = std::string();
    sendSyncStart();
    if (syncStage_.isFailed()) {
        finishRefusedChangeReload();
        clearSessionFields();
        return;
    }
    // The data already on screen stays, so no load time-out fails it: this bound ends the wait.
    refusedChangeReloadGuard_.schedule(loadTimeout, [this] {
        if (!refusedChangeReloadRunning_) {
            return;
        }
        refusedChangeReloadRunning_ = false;
        appendLog("Tavrik did not send its data again", true);
        // Only this reload has a load without a code; a load the user began is left alone.
        if (sessionMode_ == SyncMode::load && syncCode_ && syncCode_->empty()) {
            disarmSyncBound();
            clearSessionFields();
            setSyncStage(SyncStage::idle());
        }
    });
}

void TavrikBleCentral::finishRefusedChangeReload()
{
    refusedChangeReloadRunning_ = false;
    refusedChangeReloadGuard_.cancel();
}

SyncSnapshot TavrikBleCentral::currentSnapshot() const
{
    SyncSnapshot snapshot;
    snapshot.settings = SyncSettingsPayload(
        muteNonAlarmSounds_, killSwitchSupported_ ? std::optional<std::string>(killSwitchUid_) : std::nullopt);
    snapshot.schedules = schedules_;
    snapshot.tags = tags_;
    snapshot.routines = buildRoutinePayloads();
    std::stable_sort(snapshot.routines.begin(), snapshot.routines.end(),
        [](const RoutinePayload& lhs, const RoutinePayload& rhs) { return lhs.id < rhs.id; });
    return snapshot;
}

void TavrikBleCentral::updateNextLocalIds()
{
    // Never 0: past the largest id the lowest free one is taken.
    nextLocalScheduleId_ = nextUnusedId(idsOf(schedules_)).value_or(1);
    nextLocalTagId_ = nextUnusedId(idsOf(tags_)).value_or(1);
    nextLocalRoutineId_ = nextUnusedId(idsOf(routineSummaries_)).value_or(1);
}

} // namespace tavrik
