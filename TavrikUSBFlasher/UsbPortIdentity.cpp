#include "TavrikUSBFlasher/UsbPortIdentity.hpp"

#include <charconv>
#include <filesystem>
#include <fstream>

namespace tavrik {

namespace {

std::optional<std::uint16_t> hexIdIn(const std::filesystem::path& file)
{
    std::ifstream stream(file);
    std::string text;
    if (!(stream >> text)) {
        return std::nullopt;
    }
    std::uint16_t value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

} // namespace

std::optional<UsbPortIds> readUsbPortIds(const std::string& portPath, const std::string& sysfsRoot)
{
    namespace fs = std::filesystem;
    std::error_code error;
    fs::path port = fs::canonical(portPath, error);
    if (error) {
        port = portPath;
    }
    const fs::path root = fs::canonical(sysfsRoot, error);
    if (error) {
        return std::nullopt;
    }
    fs::path directory = fs::canonical(root / "class" / "tty" / port.filename() / "device", error);
    if (error) {
        return std::nullopt;
    }
    // An ACM port's device is the USB interface, a usb-serial port's (ttyUSB) sits one level below
    // it; the USB device with the ids is the interface's parent.
    for (int level = 0; level < 3 && directory != root && directory.has_parent_path(); ++level) {
        directory = directory.parent_path();
        const auto vendor = hexIdIn(directory / "idVendor");
        const auto product = hexIdIn(directory / "idProduct");
        if (vendor && product) {
            return UsbPortIds { *vendor, *product };
        }
    }
    return std::nullopt;
}

ResetCircuit resetCircuitFor(const std::optional<UsbPortIds>& ids)
{
    return ids == UsbPortIds { 0x303A, 0x1001 } ? ResetCircuit::usbSerialJtag : ResetCircuit::classicAutoReset;
}

} // namespace tavrik
