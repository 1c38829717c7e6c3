#pragma once

#include "TavrikCore/Support/Json.hpp"

#include <cstdint>

namespace tavrik {

// What a connected device offers. The default value (schema 0, every flag false) stands for "no
// device known yet".
struct DeviceCapabilities {
    std::int64_t schemaVersion = 0;
    bool secure = false;
    bool simulator = false;
    bool wifi = false;
    bool killSwitch = false;

    DeviceCapabilities() = default;
    // Wi-Fi only counts on real hardware over the secure profile: `wifi` is kept only when `secure`
    // is true and `simulator` false.
    DeviceCapabilities(std::int64_t schemaVersion, bool secure, bool simulator, bool wifi, bool killSwitch);

    bool groups() const { return schemaVersion > 8; }
    bool startTags() const { return schemaVersion > 7; }
    bool restore() const { return !simulator && schemaVersion > 8; }
    bool ota() const { return secure && !simulator; }
    bool killSwitchEnrollment() const { return killSwitch && !simulator; }

    friend bool operator==(const DeviceCapabilities&, const DeviceCapabilities&) = default;
};

// All five keys are required and stored exactly as read (the Wi-Fi rule of the constructor does not apply).
Json toJson(const DeviceCapabilities& capabilities);
DeviceCapabilities deviceCapabilitiesFromJson(const Json& value);

} // namespace tavrik
