#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tavrik {

// Answers of the USB helper, decoded from one JSON object each. A missing required field or a
// wrongly typed value fails (nothing is returned); unknown keys are ignored.

// "probe --json": "tavrik" for device firmware, "other" for any other answering board.
struct UsbTavrikProbeResult {
    std::string state;
    std::optional<std::string> firmwareVersion;
    std::optional<std::string> hardwareTarget;
    std::optional<std::int64_t> bleProtocolVersion;

    static std::optional<UsbTavrikProbeResult> decode(std::string_view text);
    friend bool operator==(const UsbTavrikProbeResult&, const UsbTavrikProbeResult&) = default;
};

// "USB_PROBE_STATUS " and "USB_PROBE_RESULT " objects of "hardware-probe".
struct UsbHardwareProbeResult {
    std::string type;
    std::optional<std::string> target;
    std::optional<std::string> board;
    std::optional<std::string> stage;
    std::optional<std::string> result;
    std::optional<std::string> instruction;
    std::optional<std::string> nfcBackend;
    std::optional<std::string> nfc;
    std::optional<std::string> button;
    std::optional<std::string> sound;
    std::optional<std::string> uid;
    std::optional<std::string> tagType;
    std::optional<std::string> message;

    static std::optional<UsbHardwareProbeResult> decode(std::string_view text);
    friend bool operator==(const UsbHardwareProbeResult&, const UsbHardwareProbeResult&) = default;
};

// "USB_WIFI_SCAN " objects.
struct UsbWifiScanEnvelope {
    std::string type;
    std::optional<std::string> ssid;
    std::optional<std::int64_t> rssi;
    std::optional<std::int64_t> channel;
    std::optional<std::string> auth;

    static std::optional<UsbWifiScanEnvelope> decode(std::string_view text);
};

// "USB_WIFI_TEST " objects.
struct UsbWifiTestResult {
    std::string type;
    std::string result;
    std::optional<std::int64_t> rssi;
    std::optional<std::int64_t> channel;
    std::optional<std::string> auth;

    static std::optional<UsbWifiTestResult> decode(std::string_view text);
    friend bool operator==(const UsbWifiTestResult&, const UsbWifiTestResult&) = default;
};

} // namespace tavrik
