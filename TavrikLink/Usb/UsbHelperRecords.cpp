#include "TavrikLink/Usb/UsbHelperRecords.hpp"

#include "TavrikCore/Support/Json.hpp"

namespace tavrik {

namespace {

template <class Record, class Read>
std::optional<Record> decodeObject(std::string_view text, Read&& read)
{
    try {
        const Json value = parseJson(text);
        return read(json::requireObject(value));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace

std::optional<UsbTavrikProbeResult> UsbTavrikProbeResult::decode(std::string_view text)
{
    return decodeObject<UsbTavrikProbeResult>(text, [](const Json& object) {
        return UsbTavrikProbeResult {
            json::requiredString(object, "state"),
            json::optionalString(object, "firmwareVersion"),
            json::optionalString(object, "hardwareTarget"),
            json::optionalInt(object, "bleProtocolVersion"),
        };
    });
}

std::optional<UsbHardwareProbeResult> UsbHardwareProbeResult::decode(std::string_view text)
{
    return decodeObject<UsbHardwareProbeResult>(text, [](const Json& object) {
        UsbHardwareProbeResult result;
        result.type = json::requiredString(object, "type");
        result.target = json::optionalString(object, "target");
        result.board = json::optionalString(object, "board");
        result.stage = json::optionalString(object, "stage");
        result.result = json::optionalString(object, "result");
        result.instruction = json::optionalString(object, "instruction");
        result.nfcBackend = json::optionalString(object, "nfcBackend");
        result.nfc = json::optionalString(object, "nfc");
        result.button = json::optionalString(object, "button");
        result.sound = json::optionalString(object, "sound");
        result.uid = json::optionalString(object, "uid");
        result.tagType = json::optionalString(object, "tagType");
        result.message = json::optionalString(object, "message");
        return result;
    });
}

std::optional<UsbWifiScanEnvelope> UsbWifiScanEnvelope::decode(std::string_view text)
{
    return decodeObject<UsbWifiScanEnvelope>(text, [](const Json& object) {
        return UsbWifiScanEnvelope {
            json::requiredString(object, "type"),
            json::optionalString(object, "ssid"),
            json::optionalInt(object, "rssi"),
            json::optionalInt(object, "channel"),
            json::optionalString(object, "auth"),
        };
    });
}

std::optional<UsbWifiTestResult> UsbWifiTestResult::decode(std::string_view text)
{
    return decodeObject<UsbWifiTestResult>(text, [](const Json& object) {
        return UsbWifiTestResult {
            json::requiredString(object, "type"),
            json::requiredString(object, "result"),
            json::optionalInt(object, "rssi"),
            json::optionalInt(object, "channel"),
            json::optionalString(object, "auth"),
        };
    });
}

} // namespace tavrik
