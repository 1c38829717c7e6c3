#include "TavrikCore/Firmware/FirmwareHardwareTarget.hpp"

#include <string>

namespace tavrik {

std::string_view rawValue(FirmwareHardwareTarget target)
{
    switch (target) {
    case FirmwareHardwareTarget::m5StickC:
        return "m5stick-c";
    case FirmwareHardwareTarget::m5StickS3:
        return "m5stick-s3";
    case FirmwareHardwareTarget::tEmbedCc1101:
        return "t-embed-cc1101";
    }
    return "m5stick-c";
}

std::string_view displayName(FirmwareHardwareTarget target)
{
    switch (target) {
    case FirmwareHardwareTarget::m5StickC:
        return "M5 StickC Plus2";
    case FirmwareHardwareTarget::m5StickS3:
        return "M5 StickS3";
    case FirmwareHardwareTarget::tEmbedCc1101:
        return "LILYGO T-Embed CC1101";
    }
    return "M5 StickC Plus2";
}

std::optional<FirmwareHardwareTarget> firmwareHardwareTargetFromRawValue(std::string_view text)
{
    for (const FirmwareHardwareTarget target : allFirmwareHardwareTargets) {
        if (rawValue(target) == text) {
            return target;
        }
    }
    return std::nullopt;
}

Json toJson(FirmwareHardwareTarget target)
{
    return std::string(rawValue(target));
}

FirmwareHardwareTarget firmwareHardwareTargetFromJson(const Json& value)
{
    const std::string text = json::asString(value, "hardwareTarget");
    if (const auto target = firmwareHardwareTargetFromRawValue(text)) {
        return *target;
    }
    throw JsonDecodeError("Unknown hardware target \"" + text + "\"");
}

} // namespace tavrik
