#pragma once

#include "TavrikCore/Firmware/FirmwareAsset.hpp"
#include "TavrikCore/Firmware/FirmwareHardwareTarget.hpp"
#include "TavrikCore/Support/Url.hpp"

#include <map>
#include <optional>
#include <string>

namespace tavrik {

// One published (or locally built) release: its version and its images per board, with absolute URLs.
struct FirmwareCatalog {
    std::string version {};
    std::string channel {};
    // The channel manifest.
    Url sourceURL {};
    // The document the release was read from: the release manifest, or the channel manifest itself.
    Url manifestURL {};
    // Over-the-air images by target raw value; never empty in a decoded catalog.
    std::map<std::string, FirmwareFactoryAsset> binaryAssets {};
    std::map<std::string, FirmwareFactoryAsset> factoryAssets {};
    std::optional<std::string> minimumTavrikLinkVersion {};
    std::optional<std::string> maximumTavrikLinkVersion {};

    // True when the channel manifest was a file.
    bool isLocal() const;
    // "Local builds" or "Published HTTPS".
    std::string sourceDescription() const;
    // The board's image; throws FirmwareManifestError (missingTarget) when the release has none.
    FirmwareAsset asset(FirmwareHardwareTarget target) const;

    friend bool operator==(const FirmwareCatalog&, const FirmwareCatalog&) = default;
};

} // namespace tavrik
