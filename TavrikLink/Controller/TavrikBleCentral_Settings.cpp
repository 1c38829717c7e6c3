#include "TavrikLink/Controller/TavrikBleCentral.hpp"

#include "TavrikCore/Model/KillSwitchUid.hpp"

namespace tavrik {

namespace {

const std::string deviceSettingsId = "device";

} // namespace

void TavrikBleCentral::setMuteNonAlarmSounds(bool value)
{
    takeInArrivedData();
    // The kill-switch UID counts only where the device has the setting.
    const std::optional<std::string> uid = killSwitchSupported_ ? std::optional(killSwitchUid_) : std::nullopt;
    if (SyncSettingsPayload(value, uid).syncSignature() == SyncSettingsPayload(muteNonAlarmSounds_, uid).syncSignature()) {
        return;
    }
    publish(muteNonAlarmSounds_, value, &TavrikBleCentral::muteNonAlarmSoundsChanged);
    if (!isReviewDemo_) {
        defaults.setBool(muteNonAlarmSoundsDefaultsKey, value);
    }
    publish(settingsError_, std::nullopt, &TavrikBleCentral::settingsErrorChanged);
    recordUserInteraction();
    baselineSnapshot_ = currentSnapshot();
    persist(AtomicCommandChannel::settings, deviceSettingsId,
        { std::string("update muteNonAlarmSounds=") + (value ? "1" : "0") }, true, "muteNonAlarmSounds");
}

void TavrikBleCentral::setKillSwitchUid(std::string_view uid)
{
    takeInArrivedData();
    if (!killSwitchSupported_) {
        return;
    }
    std::string normalized = normalizedKillSwitchUid(uid);
    if (SyncSettingsPayload(muteNonAlarmSounds_, normalized).syncSignature()
        == SyncSettingsPayload(muteNonAlarmSounds_, killSwitchUid_).syncSignature()) {
        return;
    }
    const std::string command = "update killSwitchUid=" + quotedCommandValue(normalized);
    publish(killSwitchUid_, std::move(normalized), &TavrikBleCentral::killSwitchUidChanged);
    publish(settingsError_, std::nullopt, &TavrikBleCentral::settingsErrorChanged);
    recordUserInteraction();
    baselineSnapshot_ = currentSnapshot();
    persist(AtomicCommandChannel::settings, deviceSettingsId, { command }, true, "killSwitchUid");
}

void TavrikBleCentral::handleSettingsError()
{
    const std::string message = "Settings update failed";
    appendLog(message, true);
    updateStatus(message);
    publish(settingsError_, std::optional(message), &TavrikBleCentral::settingsErrorChanged);
    reloadAfterRefusedChange();
}

} // namespace tavrik
