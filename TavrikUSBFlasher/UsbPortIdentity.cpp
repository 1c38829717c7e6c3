#include "TavrikUSBFlasher/UsbPortIdentity.hpp"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <set>
#include <unistd.h>

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

std::optional<std::string> usbDeviceDirectoryOf(const std::string& portPath, const std::string& sysfsRoot)
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
        if (hexIdIn(directory / "idVendor") && hexIdIn(directory / "idProduct")) {
            return directory.string();
        }
    }
    return std::nullopt;
}

std::optional<UsbPortIds> readUsbPortIds(const std::string& portPath, const std::string& sysfsRoot)
{
    const auto device = usbDeviceDirectoryOf(portPath, sysfsRoot);
    if (!device) {
        return std::nullopt;
    }
    const std::filesystem::path directory(*device);
    return UsbPortIds { *hexIdIn(directory / "idVendor"), *hexIdIn(directory / "idProduct") };
}

std::optional<std::string> portOfUsbDevice(
    const std::string& usbDeviceDirectory, const std::string& directory, const std::string& sysfsRoot)
{
    namespace fs = std::filesystem;
    std::error_code error;
    const std::string inside = usbDeviceDirectory + "/";
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(fs::path(sysfsRoot) / "class" / "tty", error)) {
        std::error_code linkError;
        const fs::path device = fs::canonical(entry.path() / "device", linkError);
        if (!linkError && device.string().starts_with(inside)) {
            names.insert(entry.path().filename().string());
        }
    }
    if (names.empty()) {
        return std::nullopt;
    }
    for (const auto& name : names) {
        if (fs::exists(fs::path(directory) / name, error)) {
            return (fs::path(directory) / name).string();
        }
    }
    // A link to the node, as /dev/serial/by-id holds.
    for (const auto& entry : fs::directory_iterator(directory, error)) {
        std::error_code linkError;
        const fs::path node = fs::canonical(entry.path(), linkError);
        if (!linkError && !fs::is_directory(node, linkError) && names.count(node.filename().string()) != 0) {
            return entry.path().string();
        }
    }
    return std::nullopt;
}

std::vector<std::string> otherProgramsHolding(const std::string& portPath, const std::string& procRoot)
{
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path port = fs::canonical(portPath, error);
    if (error) {
        return {};
    }
    const std::string self = std::to_string(::getpid());
    const std::string parent = std::to_string(::getppid());
    std::vector<std::string> holders;
    for (const auto& process : fs::directory_iterator(procRoot, error)) {
        const std::string pid = process.path().filename().string();
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos || pid == self || pid == parent) {
            continue;
        }
        std::error_code fdError;
        for (const auto& fd : fs::directory_iterator(process.path() / "fd", fdError)) {
            std::error_code linkError;
            if (fs::read_symlink(fd.path(), linkError) != port || linkError) {
                continue;
            }
            std::ifstream stream(process.path() / "comm");
            std::string name;
            std::getline(stream, name);
            holders.push_back((name.empty() ? std::string("a program") : name) + " (process " + pid + ")");
            break;
        }
    }
    return holders;
}

std::string holdersNote(const std::string& portPath)
{
    const auto holders = otherProgramsHolding(portPath);
    std::string note;
    for (const auto& holder : holders) {
        note += (note.empty() ? " (" : ", ") + holder;
    }
    return note.empty() ? note : note + ")";
}

ResetCircuit resetCircuitFor(const std::optional<UsbPortIds>& ids)
{
    return ids == UsbPortIds { 0x303A, 0x1001 } ? ResetCircuit::usbSerialJtag : ResetCircuit::classicAutoReset;
}

} // namespace tavrik
