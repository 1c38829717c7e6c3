#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace tavrik {

// The board models USB setup can install; the raw value is the hardware target id.
enum class UsbOnboardingTarget {
    m5StickCPlus2,
    lilyGoTEmbedCc1101,
};

inline constexpr std::array<UsbOnboardingTarget, 2> allUsbOnboardingTargets {
    UsbOnboardingTarget::m5StickCPlus2,
    UsbOnboardingTarget::lilyGoTEmbedCc1101,
};

// "m5stick-c", "t-embed-cc1101".
std::string rawValue(UsbOnboardingTarget target);
// "M5 StickC Plus2", "LILYGO T-Embed CC1101".
std::string displayName(UsbOnboardingTarget target);
// Exactly the two raw values, case-sensitive.
std::optional<UsbOnboardingTarget> usbOnboardingTargetFromRawValue(std::string_view raw);

} // namespace tavrik
