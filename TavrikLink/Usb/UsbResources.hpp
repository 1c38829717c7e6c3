#pragma once

#include <optional>
#include <string>

namespace tavrik {

// Files installed with the program: the helper beside the executable, everything else in
// share/tavrik-link beside bin/. Tests point the share directory elsewhere.
class UsbResources {
public:
    UsbResources() = delete;

    static std::string shareDirectory();
    // Empty text removes the override.
    static void setShareDirectoryOverride(const std::string& directory);

    // The helper executable; throws UsbError ("TavrikLinkFirmware", 11) when it is not there.
    static std::string bundledUsbFlasher();
    // The onboarding display font.
    static std::string labelFontPath();
    // The probe image of a hardware target id, only when a readable file is there. The program
    // ships none: probe images are board firmware built elsewhere.
    static std::optional<std::string> probeImagePath(const std::string& targetId);
};

} // namespace tavrik
