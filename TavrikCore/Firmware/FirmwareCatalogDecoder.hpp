#pragma once

#include "TavrikCore/Firmware/FirmwareCatalog.hpp"
#include "TavrikCore/Support/Data.hpp"
#include "TavrikCore/Support/Url.hpp"

#include <optional>

namespace tavrik {

// Turns a channel manifest, and the release manifest it may name, into a catalog. Every failure is
// a FirmwareManifestError; nothing partial is returned. A manifest that is not a local file may name
// only http(s) URLs, so a published manifest can never point the application at local files.
class FirmwareCatalogDecoder {
public:
    // The default channel: the stable channel on the release host.
    static const Url& publishedChannelURL();

    // The release manifest the channel names, resolved against the channel URL; nothing when the
    // channel has no non-empty "manifestUrl".
    static std::optional<Url> releaseURL(const Data& channelData, const Url& channelURL);

    // `releaseData` is needed exactly when the channel names a release manifest.
    static FirmwareCatalog decode(const Data& channelData, const Url& channelURL, const std::optional<Data>& releaseData);
};

} // namespace tavrik
