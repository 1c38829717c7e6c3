#pragma once

#include "TavrikCore/Support/Json.hpp"

#include <array>
#include <optional>
#include <string_view>

namespace tavrik {

// The boards firmware is built for. The raw value is what the device reports, what "firmware_begin"
// carries and the key manifests list images under.
enum class FirmwareHardwareTarget {
    m5StickC,
    m5StickS3,
    tEmbedCc1101,
};

inline constexpr std::array<FirmwareHardwareTarget, 3> allFirmwareHardwareTargets {
    FirmwareHardwareTarget::m5StickC,
    FirmwareHardwareTarget::m5StickS3,
    FirmwareHardwareTarget::tEmbedCc1101,
};

// "m5stick-c", "m5stick-s3" or "t-embed-cc1101".
std::string_view rawValue(FirmwareHardwareTarget target);
// "M5 StickC Plus2", "M5 StickS3" or "LILYGO T-Embed CC1101".
std::string_view displayName(FirmwareHardwareTarget target);
// Exactly the three raw values (case-sensitive, untrimmed); nothing for anything else.
std::optional<FirmwareHardwareTarget> firmwareHardwareTargetFromRawValue(std::string_view text);

Json toJson(FirmwareHardwareTarget target);
// Throws JsonDecodeError for anything but one of the raw value strings.
FirmwareHardwareTarget firmwareHardwareTargetFromJson(const Json& value);

} // namespace tavrik
