// Channel and release manifests from a server: decoded into a catalog or refused with the manifest
// error. The input is the channel document, optionally followed by "\0\n" and the release document.
#include "FuzzInput.hpp"

#include "TavrikCore/Firmware/FirmwareCatalogDecoder.hpp"
#include "TavrikCore/Firmware/FirmwareManifestError.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tavrik;
    const auto parts = fuzz::splitParts(data, size);
    const Data channel = fuzz::bytes(parts[0]);
    std::optional<Data> release;
    if (parts.size() > 1) {
        release = fuzz::bytes(parts[1]);
    }
    const Url& channelURL = FirmwareCatalogDecoder::publishedChannelURL();
    try {
        (void)FirmwareCatalogDecoder::releaseURL(channel, channelURL);
    } catch (const FirmwareManifestError&) {
    }
    try {
        (void)FirmwareCatalogDecoder::decode(channel, channelURL, release);
    } catch (const FirmwareManifestError&) {
    }
    return 0;
}
