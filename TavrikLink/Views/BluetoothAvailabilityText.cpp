#include "TavrikLink/Views/BluetoothAvailabilityText.hpp"

namespace tavrik {

namespace {
// Every problem clears itself: the window follows BlueZ and connects once Bluetooth is usable.
const std::string thenWeConnect = " Tavrik Link connects by itself once it is.";
} // namespace

std::optional<BluetoothAvailabilityText> BluetoothAvailabilityText::explain(BleUnavailableReason reason)
{
    switch (reason) {
    case BleUnavailableReason::none:
        return std::nullopt;
    case BleUnavailableReason::noSystemBus:
        return BluetoothAvailabilityText { "Bluetooth is not available: there is no system bus.",
            "Tavrik Link reaches Bluetooth through BlueZ on the D-Bus system bus. Start it in a desktop session "
            "that has one.",
            "Bluetooth: no system bus" };
    case BleUnavailableReason::bluezNotRunning:
        return BluetoothAvailabilityText { "Bluetooth is not available: the Bluetooth service (BlueZ) is not running.",
            "Start it with \u201Csudo systemctl start bluetooth\u201D." + thenWeConnect, "Bluetooth: BlueZ not running" };
    case BleUnavailableReason::accessDenied:
        return BluetoothAvailabilityText { "Bluetooth access denied: this user may not use BlueZ on the system bus.",
            "Ask the administrator to allow access to org.bluez in the system bus policy, then start Tavrik Link "
            "again.",
            "Bluetooth: access denied" };
    case BleUnavailableReason::noAdapter:
        return BluetoothAvailabilityText { "Bluetooth is not available: no Bluetooth adapter was found.",
            "Plug in a Bluetooth adapter, or unblock the built-in one with \u201Crfkill unblock bluetooth\u201D."
                + thenWeConnect,
            "Bluetooth: no adapter" };
    case BleUnavailableReason::adapterOff:
        return BluetoothAvailabilityText { "Bluetooth is powered off.",
            "Turn it on in the desktop's Bluetooth settings or with \u201Cbluetoothctl power on\u201D." + thenWeConnect,
            "Bluetooth off" };
    }
    return std::nullopt;
}

} // namespace tavrik
