#pragma once

#include "TavrikCore/Support/Json.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tavrik {

// User-defaults key under which the application keeps the last known mute setting between runs.
inline constexpr std::string_view muteNonAlarmSoundsDefaultsKey = "tavrik.muteNonAlarmSounds";

// The device's user settings as carried by sync data, restores and snapshots.
struct SyncSettingsPayload {
    // 0 means off; any other value the device sends is kept as sent.
    std::int64_t muteNonAlarmSounds = 0;
    // Present (possibly empty) only on firmware that has the kill-switch setting.
    std::optional<std::string> killSwitchUid {};

    SyncSettingsPayload() = default;
    // Stores 1 for true and 0 for false.
    SyncSettingsPayload(bool muteNonAlarmSounds, std::optional<std::string> killSwitchUid);

    bool isMuteNonAlarmSoundsEnabled() const { return muteNonAlarmSounds != 0; }
    bool isKillSwitchSupported() const { return killSwitchUid.has_value(); }

    std::int64_t syncSignature() const;

    friend bool operator==(const SyncSettingsPayload&, const SyncSettingsPayload&) = default;
};

// "muteNonAlarmSounds" is a required number; "killSwitchUid" is written only when present.
Json toJson(const SyncSettingsPayload& settings);
SyncSettingsPayload syncSettingsPayloadFromJson(const Json& value);

} // namespace tavrik
