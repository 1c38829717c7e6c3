#pragma once

#include "TavrikPlatform/Bluetooth/BleCentral.hpp"

#include <optional>
#include <string>

namespace tavrik {

// What the window tells a user whose Bluetooth cannot be used: what is wrong, what to do about it,
// and a few words for the title bar. The controller's status line only says that Bluetooth is
// unavailable; this says why, in terms a Linux desktop user can act on.
struct BluetoothAvailabilityText {
    std::string problem;
    std::string advice;
    std::string brief;

    // None while Bluetooth can be used.
    static std::optional<BluetoothAvailabilityText> explain(BleUnavailableReason reason);

    bool operator==(const BluetoothAvailabilityText&) const = default;
};

} // namespace tavrik
