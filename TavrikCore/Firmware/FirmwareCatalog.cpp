#include "TavrikCore/Firmware/FirmwareCatalog.hpp"

#include "TavrikCore/Firmware/FirmwareManifestError.hpp"

namespace tavrik {

bool FirmwareCatalog::isLocal() const
{
    return sourceURL.isFileUrl();
}

std::string FirmwareCatalog::sourceDescription() const
{
    return isLocal() ? "Local builds" : "Published HTTPS";
}

FirmwareAsset FirmwareCatalog::asset(FirmwareHardwareTarget target) const
{
    const std::string key(rawValue(target));
    const auto found = binaryAssets.find(key);
    if (found == binaryAssets.end()) {
        throw FirmwareManifestError::missingTarget(key, manifestURL);
    }
    const FirmwareFactoryAsset& image = found->second;
    return FirmwareAsset {
        .url = image.url,
        .fileName = image.fileName,
        .version = version,
        .target = target,
        .sizeBytes = image.sizeBytes,
        .sha256 = image.sha256,
        .factoryAssets = factoryAssets,
        .minimumTavrikLinkVersion = minimumTavrikLinkVersion,
        .maximumTavrikLinkVersion = maximumTavrikLinkVersion,
        .sourceDescription = sourceDescription(),
        .channel = channel,
        .manifestURL = manifestURL,
    };
}

} // namespace tavrik
