#pragma once

#include "TavrikCore/Support/Uuid.hpp"
#include "TavrikLink/Usb/UsbOnboardingTarget.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace tavrik {

// A board on a serial port; `id` is always the port path.
struct UsbOnboardingDevice {
    std::string id;
    std::string portPath;
    std::string displayName;
    bool hasTavrikFirmware = false;
    std::optional<UsbOnboardingTarget> target;
    std::optional<std::string> firmwareVersion;
    std::optional<std::int64_t> bleProtocolVersion;

    friend bool operator==(const UsbOnboardingDevice&, const UsbOnboardingDevice&) = default;
};

// A one-shot question about a board that the window shows as an alert.
struct UsbOnboardingNotice {
    Uuid id;
    UsbOnboardingDevice device;
    std::string message;

    friend bool operator==(const UsbOnboardingNotice&, const UsbOnboardingNotice&) = default;
};

// Which setup screen is shown.
enum class UsbOnboardingCheckState {
    waitingForDevice,
    checkingCompatibility,
    multipleDevices,
    tavrikAlreadyInstalled,
    unsupportedDevice,
    needsManualWake,
    readyForTargetSelection,
    targetSetup,
    // This computer cannot use the board's port or the helper (permission, another program, a
    // helper that crashed or hung): the board itself may be fine.
    hostProblem,
};

// The status line of probing and flashing. `probing` doubles as "a probe is in progress".
struct UsbFlashStatus {
    enum class Phase { idle, probing, flashing, completed, failed };

    Phase phase = Phase::idle;
    std::string message;
    std::int64_t bytesTransferred = 0;
    std::int64_t totalBytes = 0;

    friend bool operator==(const UsbFlashStatus&, const UsbFlashStatus&) = default;
};

// A network the board saw.
struct UsbWifiNetwork {
    std::string ssid;
    std::int64_t rssi = 0;
    std::int64_t channel = 0;
    std::string auth;

    friend bool operator==(const UsbWifiNetwork&, const UsbWifiNetwork&) = default;
};

// The credential test through the board; `message` is only meaningful for `failed`.
struct UsbWifiVerificationState {
    enum class Kind { idle, testing, verified, failed };

    Kind kind = Kind::idle;
    std::string message;

    static UsbWifiVerificationState idle() { return {}; }
    static UsbWifiVerificationState testing() { return { Kind::testing, {} }; }
    static UsbWifiVerificationState verified() { return { Kind::verified, {} }; }
    static UsbWifiVerificationState failed(std::string message) { return { Kind::failed, std::move(message) }; }

    friend bool operator==(const UsbWifiVerificationState&, const UsbWifiVerificationState&) = default;
};

} // namespace tavrik
