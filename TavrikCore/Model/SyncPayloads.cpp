#include "TavrikCore/Model/SyncPayloads.hpp"

#include <utility>

namespace tavrik {

std::string_view syncModeText(SyncMode mode)
{
    switch (mode) {
    case SyncMode::load:
        return "load";
    case SyncMode::restore:
        return "restore";
    case SyncMode::control:
        return "control";
    }
    return {};
}

SyncStage SyncStage::failed(std::string message)
{
    SyncStage stage(Kind::failed);
    stage.message = std::move(message);
    return stage;
}

SyncStartEnvelope::SyncStartEnvelope(std::string mode, std::string code, std::optional<ReliableDeliveryOffer> delivery)
    : mode(std::move(mode))
    , code(std::move(code))
    , delivery(delivery)
{
}

SyncRestoreEnvelope::SyncRestoreEnvelope(std::string code, SyncSettingsPayload settings,
    std::optional<StoreSnapshotPayload> storeSnapshot, std::vector<ScheduledRoutine> schedules,
    std::vector<TagInfo> tags, std::vector<RoutinePayload> routines)
    : code(std::move(code))
    , settings(std::move(settings))
    , storeSnapshot(std::move(storeSnapshot))
    , schedules(std::move(schedules))
    , tags(std::move(tags))
    , routines(std::move(routines))
{
}

Json toJson(const SyncStartEnvelope& envelope)
{
    Json json = Json::object();
    json["type"] = envelope.type;
    json["mode"] = envelope.mode;
    json["code"] = envelope.code;
    json::putOptionalRecord(json, "delivery", envelope.delivery);
    return json;
}

Json toJson(const SyncRestoreEnvelope& envelope)
{
    Json json = Json::object();
    json["type"] = envelope.type;
    json["dataVersion"] = envelope.dataVersion;
    json["code"] = envelope.code;
    json["settings"] = toJson(envelope.settings);
    json::putOptionalRecord(json, "storeSnapshot", envelope.storeSnapshot);
    json["schedules"] = json::arrayOf(envelope.schedules);
    json["tags"] = json::arrayOf(envelope.tags);
    json["routines"] = json::arrayOf(envelope.routines);
    return json;
}

Json toJson(const SyncDataEnvelope& envelope)
{
    Json json = Json::object();
    json["type"] = envelope.type;
    json::putOptional(json, "dataVersion", envelope.dataVersion);
    json::putOptional(json, "firmwareVersion", envelope.firmwareVersion);
    json::putOptional(json, "hardwareTarget", envelope.hardwareTarget);
    json::putOptionalRecord(json, "settings", envelope.settings);
    json::putOptionalRecord(json, "storeSnapshot", envelope.storeSnapshot);
    json::putOptionalRecord(json, "wifi", envelope.wifi);
    json::putOptionalRecord(json, "clock", envelope.clock);
    json["schedules"] = json::arrayOf(envelope.schedules);
    json["tags"] = json::arrayOf(envelope.tags);
    json["routines"] = json::arrayOf(envelope.routines);
    return json;
}

SyncControlEnvelope syncControlEnvelopeFromJson(const Json& json)
{
    return {
        json::requiredString(json, "type"),
        json::optionalString(json, "mode"),
        json::optionalString(json, "message"),
        json::optionalString(json, "reason"),
        json::optionalString(json, "code"),
    };
}

SyncDataEnvelope syncDataEnvelopeFromJson(const Json& json)
{
    SyncDataEnvelope envelope;
    envelope.type = json::requiredString(json, "type");
    envelope.dataVersion = json::optionalInt(json, "dataVersion");
    envelope.firmwareVersion = json::optionalString(json, "firmwareVersion");
    envelope.hardwareTarget = json::optionalString(json, "hardwareTarget");
    envelope.settings = json::optionalRecord(json, "settings", syncSettingsPayloadFromJson);
    envelope.storeSnapshot = json::optionalRecord(json, "storeSnapshot", storeSnapshotPayloadFromJson);
    envelope.wifi = json::optionalRecord(json, "wifi", wifiCapabilityPayloadFromJson);
    envelope.clock = json::optionalRecord(json, "clock", deviceClockSnapshotFromJson);
    envelope.schedules = json::requiredArray(json, "schedules", scheduledRoutineFromJson);
    envelope.tags = json::requiredArray(json, "tags", tagInfoFromJson);
    envelope.routines = json::requiredArray(json, "routines", routinePayloadFromJson);
    return envelope;
}

SyncStartEnvelope syncStartEnvelopeFromJson(const Json& json)
{
    const std::string type = json::requiredString(json, "type");
    SyncStartEnvelope envelope(json::requiredString(json, "mode"), json::requiredString(json, "code"),
        json::optionalRecord(json, "delivery", reliableDeliveryOfferFromJson));
    envelope.type = type;
    return envelope;
}

SyncRestoreEnvelope syncRestoreEnvelopeFromJson(const Json& json)
{
    const std::string type = json::requiredString(json, "type");
    const std::int64_t dataVersion = json::requiredInt(json, "dataVersion");
    SyncRestoreEnvelope envelope(json::requiredString(json, "code"),
        syncSettingsPayloadFromJson(json::required(json, "settings")),
        json::optionalRecord(json, "storeSnapshot", storeSnapshotPayloadFromJson),
        json::requiredArray(json, "schedules", scheduledRoutineFromJson),
        json::requiredArray(json, "tags", tagInfoFromJson),
        json::requiredArray(json, "routines", routinePayloadFromJson));
    envelope.type = type;
    envelope.dataVersion = dataVersion;
    return envelope;
}

} // namespace tavrik
