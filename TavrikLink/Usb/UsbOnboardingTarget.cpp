#include "TavrikLink/Usb/UsbOnboardingTarget.hpp"

namespace tavrik {

std::string rawValue(UsbOnboardingTarget target)
{
    return target == UsbOnboardingTarget::m5StickCPlus2 ? "m5stick-c" : "t-embed-cc1101";
}

std::string displayName(UsbOnboardingTarget target)
{
    return target == UsbOnboardingTarget::m5StickCPlus2 ? "M5 StickC Plus2" : "LILYGO T-Embed CC1101";
}

std::optional<UsbOnboardingTarget> usbOnboardingTargetFromRawValue(std::string_view raw)
{
    for (const auto target : allUsbOnboardingTargets) {
        if (rawValue(target) == raw) {
            return target;
        }
    }
    return std::nullopt;
}

} // namespace tavrik
