#include "TavrikLink/Controller/TavrikBleCentral.hpp"

namespace tavrik {

namespace {

RoutineStepPayload step(std::uint32_t id, std::int64_t position, std::uint32_t parentId, std::string tagId,
    std::int64_t seconds, std::string instruction)
{
    return RoutineStepPayload { id, position, parentId, std::move(tagId), seconds, std::move(instruction), 0 };
}

ScheduledRoutine schedule(std::uint32_t id, std::uint32_t routineId, std::int64_t hour, std::int64_t minute,
    std::int64_t days, bool enabled, std::string label)
{
    ScheduledRoutine schedule;
    schedule.id = id;
    schedule.routineId = routineId;
    schedule.hour = hour;
    schedule.minute = minute;
    schedule.days = days;
    schedule.enabled = enabled;
    schedule.label = std::move(label);
    return schedule;
}

} // namespace

SyncDataEnvelope TavrikBleCentral::reviewDemoData()
{
    SyncDataEnvelope data;
    data.type = "sync_data";
    data.dataVersion = 9;
    data.firmwareVersion = "0.4.0";
    data.hardwareTarget = "t-embed-cc1101";
    SyncSettingsPayload settings;
    settings.muteNonAlarmSounds = 0;
    settings.killSwitchUid = "04 AA BB CC DD EE FF";
    data.settings = settings;
    data.wifi = WifiCapabilityPayload { 1, 3, { WifiCredentialSummary { "Demo Wi-Fi", 0, 0 } } };
    data.tags = {
        TagInfo { 1, "04 11 22 33 44 55 66", "Start" },
        TagInfo { 2, "04 21 22 33 44 55 66", "Coffee" },
        TagInfo { 3, "04 31 22 33 44 55 66", "Desk" },
        TagInfo { 4, "04 41 22 33 44 55 66", "Keys" },
        TagInfo { 5, "04 51 22 33 44 55 66", "Bookshelf" },
    };
    data.routines = {
        RoutinePayload { 1, "Morning reset",
            {
                step(1, 0, 0, "2", 120, "Make a cup of coffee"),
                step(2, 0, 10, "3", 60, "Clear your desk"),
                step(3, 1, 10, "4", 30, "Put your keys by the door"),
            },
            { RoutineGroupPayload { 10, 1, "Quick tidy", RoutineGroupMode::timebox, 300 } }, { 1 } },
        RoutinePayload { 2, "Evening reset",
            {
                step(1, 0, 10, "3", 120, "Tidy your desk"),
                step(2, 1, 10, "5", 120, "Put away a book"),
            },
            { RoutineGroupPayload { 10, 0, "One small task", RoutineGroupMode::rotation, 0 } }, {} },
    };
    data.schedules = {
        schedule(1, 1, 8, 30, 62, true, "Morning reset"),
        schedule(2, 2, 20, 0, 127, false, "Evening reset"),
    };
    return data;
}

void TavrikBleCentral::beginReviewDemo()
{
    publish(isReviewDemo_, true, &TavrikBleCentral::isReviewDemoChanged);
    central.setDelegate(nullptr);
    localLink_->stopPolling();
    if (firmwareLookupLoad_ != FirmwareManifestLoader::invalidHandle) {
        manifestLoader_->cancel(firmwareLookupLoad_);
        firmwareLookupLoad_ = FirmwareManifestLoader::invalidHandle;
    }
    firmwareLookupGeneration_ = Uuid::random(random);
    commandPath_.forgetAllDebounced();
    resetLocalData(false);

    firmwareCatalog_.reset();
    publish(firmwareAvailableVersion_, std::nullopt, &TavrikBleCentral::firmwareAvailableVersionChanged);
    publish(availableFirmwareAsset_, std::nullopt, &TavrikBleCentral::availableFirmwareAssetChanged);
    publish(firmwareUpdateNotice_, std::nullopt, &TavrikBleCentral::firmwareUpdateNoticeChanged);
    clearLog();

    applySyncData(reviewDemoData(), true, std::nullopt);
    refreshFirmwareAvailability();
    updateStatus("App Review demo \u00b7 no device");
    appendLog("App Review demo: sample data only. Edits stay in this session; no device is connected.", true);
}

void TavrikBleCentral::endReviewDemo()
{
    if (!isReviewDemo_) {
        return;
    }
    commandPath_.forgetAllDebounced();
    publish(isReviewDemo_, false, &TavrikBleCentral::isReviewDemoChanged);
    resetLocalData(false);
    publish(muteNonAlarmSounds_, defaults.boolValue(muteNonAlarmSoundsDefaultsKey).value_or(false),
        &TavrikBleCentral::muteNonAlarmSoundsChanged);
    central.setDelegate(this);
    if (automaticallyPollLocalLink_) {
        localLink_->startPolling();
    }
    refreshFirmwareAvailability();
    beginSession(SyncMode::load);
}

} // namespace tavrik
