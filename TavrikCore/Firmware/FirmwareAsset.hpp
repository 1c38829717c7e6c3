#pragma once

#include "TavrikCore/Firmware/FirmwareHardwareTarget.hpp"
#include "TavrikCore/Support/Url.hpp"

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace tavrik {

// One image file of a release: a full-flash image for USB setup, or (inside the catalog) a target's
// over-the-air image. `sha256` is hexadecimal and compared without regard to letter case.
struct FirmwareFactoryAsset {
    Url url {};
    std::string fileName {};
    std::int64_t sizeBytes = 0;
    std::string sha256 {};

    friend bool operator==(const FirmwareFactoryAsset&, const FirmwareFactoryAsset&) = default;
};

// The over-the-air image of one release for one board, with what the release says about itself.
struct FirmwareAsset {
    Url url {};
    std::string fileName {};
    std::string version {};
    FirmwareHardwareTarget target = FirmwareHardwareTarget::m5StickC;
    std::int64_t sizeBytes = 0;
    std::string sha256 {};
    // The release's full-flash images, keyed by target raw value.
    std::map<std::string, FirmwareFactoryAsset> factoryAssets {};
    std::optional<std::string> minimumTavrikLinkVersion {};
    std::optional<std::string> maximumTavrikLinkVersion {};
    // "Local builds" or "Published HTTPS".
    std::string sourceDescription {};
    std::string channel {};
    Url manifestURL {};

    friend bool operator==(const FirmwareAsset&, const FirmwareAsset&) = default;
};

} // namespace tavrik
