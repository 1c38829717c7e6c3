#include "TavrikCore/Model/SettingsModels.hpp"

#include "TavrikCore/Model/SyncSignature.hpp"

#include <utility>

namespace tavrik {

SyncSettingsPayload::SyncSettingsPayload(bool muteNonAlarmSounds, std::optional<std::string> killSwitchUid)
    : muteNonAlarmSounds(muteNonAlarmSounds ? 1 : 0)
    , killSwitchUid(std::move(killSwitchUid))
{
}

std::int64_t SyncSettingsPayload::syncSignature() const
{
    return makeSyncSignature([&](SyncHasher& hasher) {
        hasher.combine(muteNonAlarmSounds);
        hasher.combine(killSwitchUid);
    });
}

Json toJson(const SyncSettingsPayload& settings)
{
    Json object = Json::object();
    object["muteNonAlarmSounds"] = settings.muteNonAlarmSounds;
    json::putOptional(object, "killSwitchUid", settings.killSwitchUid);
    return object;
}

SyncSettingsPayload syncSettingsPayloadFromJson(const Json& value)
{
    const Json& object = json::requireObject(value, "settings");
    SyncSettingsPayload settings;
    settings.muteNonAlarmSounds = json::requiredInt(object, "muteNonAlarmSounds");
    settings.killSwitchUid = json::optionalString(object, "killSwitchUid");
    return settings;
}

} // namespace tavrik
