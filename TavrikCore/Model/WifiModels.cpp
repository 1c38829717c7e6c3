#include "TavrikCore/Model/WifiModels.hpp"

#include <utility>

namespace tavrik {

Json toJson(const WifiCredentialSummary& value)
{
    Json json = Json::object();
    json["ssid"] = value.ssid;
    json["verified"] = value.verified;
    json["lastSuccessful"] = value.lastSuccessful;
    return json;
}

Json toJson(const WifiCapabilityPayload& value)
{
    Json json = Json::object();
    json["supported"] = value.supported;
    json["capacity"] = value.capacity;
    json["credentials"] = json::arrayOf(value.credentials);
    return json;
}

Json toJson(const WifiScannedNetwork& value)
{
    Json json = Json::object();
    json["ssid"] = value.ssid;
    json["rssi"] = value.rssi;
    json["security"] = value.security;
    json["supported"] = value.supported;
    return json;
}

Json toJson(const WifiRequestEnvelope& value)
{
    Json json = Json::object();
    json["type"] = value.type;
    json["requestId"] = value.requestId;
    json::putOptional(json, "ssid", value.ssid);
    json::putOptional(json, "password", value.password);
    json::putOptional(json, "timezone", value.timezone);
    json::putOptional(json, "verified", value.verified);
    return json;
}

WifiCredentialSummary wifiCredentialSummaryFromJson(const Json& json)
{
    return {
        json::requiredString(json, "ssid"),
        json::requiredInt(json, "verified"),
        json::requiredInt(json, "lastSuccessful"),
    };
}

WifiCapabilityPayload wifiCapabilityPayloadFromJson(const Json& json)
{
    return {
        json::requiredInt(json, "supported"),
        json::requiredInt(json, "capacity"),
        json::requiredArray(json, "credentials", wifiCredentialSummaryFromJson),
    };
}

WifiScannedNetwork wifiScannedNetworkFromJson(const Json& json)
{
    return {
        json::requiredString(json, "ssid"),
        json::requiredInt(json, "rssi"),
        json::requiredString(json, "security"),
        json::requiredInt(json, "supported"),
    };
}

WifiScanResultsEnvelope wifiScanResultsEnvelopeFromJson(const Json& json)
{
    return {
        json::requiredString(json, "type"),
        json::requiredString(json, "requestId"),
        json::requiredArray(json, "networks", wifiScannedNetworkFromJson),
    };
}

WifiStatusEnvelope wifiStatusEnvelopeFromJson(const Json& json)
{
    return {
        json::requiredString(json, "type"),
        json::requiredString(json, "requestId"),
        json::requiredString(json, "operation"),
        json::requiredString(json, "stage"),
        json::optionalString(json, "ssid"),
        json::optionalString(json, "reason"),
        json::optionalString(json, "message"),
    };
}

WifiRequestActivityKind WifiRequestContext::activityKind() const
{
    if (std::holds_alternative<Scan>(value)) {
        return WifiRequestActivityKind::scanning;
    }
    if (std::holds_alternative<CheckSaved>(value)) {
        return WifiRequestActivityKind::checking;
    }
    return WifiRequestActivityKind::saving;
}

void WifiRequestActivityState::begin(std::string newRequestId, WifiRequestActivityKind newKind)
{
    requestId = std::move(newRequestId);
    kind = newKind;
}

bool WifiRequestActivityState::finish(const std::string& finishedRequestId)
{
    if (!requestId || *requestId != finishedRequestId) {
        return false;
    }
    clear();
    return true;
}

void WifiRequestActivityState::clear()
{
    requestId.reset();
    kind.reset();
}

WifiConnectionNotice::WifiConnectionNotice(std::string message)
    : WifiConnectionNotice(Uuid::make(), std::move(message))
{
}

WifiConnectionNotice::WifiConnectionNotice(Uuid id, std::string message)
    : id(id)
    , message(std::move(message))
{
}

WifiValidationFailure::WifiValidationFailure(std::string ssid, std::string message)
    : WifiValidationFailure(Uuid::make(), std::move(ssid), std::move(message))
{
}

WifiValidationFailure::WifiValidationFailure(Uuid id, std::string ssid, std::string message)
    : id(id)
    , ssid(std::move(ssid))
    , message(std::move(message))
{
}

} // namespace tavrik
