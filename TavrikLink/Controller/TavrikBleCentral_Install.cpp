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

bool TavrikBleCentral::applySyncData(
    const SyncDataEnvelope& envelope, bool updateDeviceCapabilities, std::optional<std::int64_t> reportedDataVersion)
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

    if (updateDeviceCapabilities || (!isConnected_ && !virtualTavrikConnected_ && !isReviewDemo_)) {
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

    setScheduleError(std::nullopt);
    setTagError(std::nullopt);
    setRoutineError(std::nullopt);

    std::vector<RoutineSummary> summaries;
    std::map<std::uint32_t, RoutineDetailModel> details;
    summaries.reserve(envelope.routines.size());
    for (const RoutinePayload& routine : envelope.routines) {
        summaries.push_back({ routine.id, routine.label, static_cast<std::int64_t>(routine.steps.size()),
            static_cast<std::int64_t>(routine.groups.size()), static_cast<std::int64_t>(routine.startTagIds.size()) });
        // Migrated data has unique routine ids; should one repeat, its first entry stands.
        details.emplace(routine.id, receivedRoutineDetail(routine, random));
    }
    setRoutineSummaries(std::move(summaries));
    publish(routineDetails_, std::move(details), &TavrikBleCentral::routineDetailsChanged);

    refreshRoutineDefinitions();
    updateNextLocalIds();

    renewBaseline();
    setHasLoadedData(true);
    cancelTask(loadTimeoutTask_);
    setSyncStage(SyncStage::idle());
    clearSessionFields();

    if (isReviewDemo_) {
        updateStatus("App Review demo \u00b7 no device");
    } else if (virtualTavrikConnected_) {
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
