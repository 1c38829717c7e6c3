#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tavrik {

struct UsbPortIds {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;

    bool operator==(const UsbPortIds&) const = default;
};

// The USB vendor and product id of the device behind a serial port, read from sysfs below
// `sysfsRoot` ("/sys" on a running system): class/tty/<port>/device leads to the USB interface, whose
// device holds idVendor and idProduct. A link to the port (/dev/serial/by-id/...) is followed first.
// Nothing for a port that is no USB device, such as a pseudo-terminal.
std::optional<UsbPortIds> readUsbPortIds(const std::string& portPath, const std::string& sysfsRoot);

// The sysfs directory of the USB device behind a serial port (the one holding idVendor and
// idProduct). It names the device by where it sits on the bus, so it stays the same when the device
// drops off and comes back under another tty name. Nothing for a port that is no USB device.
std::optional<std::string> usbDeviceDirectoryOf(const std::string& portPath, const std::string& sysfsRoot);

// The node in `directory` (a name there or a link there to the node) of a tty that belongs to the
// USB device at `usbDeviceDirectory`, when there is one now.
std::optional<std::string> portOfUsbDevice(
    const std::string& usbDeviceDirectory, const std::string& directory, const std::string& sysfsRoot);

// Other programs that have the port open, as "name (process 1234)", read from /proc below
// `procRoot`. This process and the one that started it (the application, which never opens the
// port) are left out.
std::vector<std::string> otherProgramsHolding(const std::string& portPath, const std::string& procRoot = "/proc");

// " (minicom (process 1234))" naming those programs, or "" when there are none.
std::string holdersNote(const std::string& portPath);

// How the host's modem lines reach the chip.
enum class ResetCircuit {
    // A USB-UART bridge with the two-transistor auto-reset circuit (RTS to EN, DTR to GPIO0).
    classicAutoReset,
    // The ESP32-S3's own USB-Serial/JTAG port, which decodes the line states itself.
    usbSerialJtag,
};

// 303a:1001 is the S3's own port; anything else is taken for a bridge, whatever the port's name.
ResetCircuit resetCircuitFor(const std::optional<UsbPortIds>& ids);

} // namespace tavrik
