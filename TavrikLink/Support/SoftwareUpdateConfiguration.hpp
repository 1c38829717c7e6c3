#pragma once

#include <QVariantMap>

namespace tavrik {

// Whether this build may have a software updater: only when both the feed address and the public
// signing key are set. They come from the build ("SUFeedURL", "SUPublicEDKey"); both are empty
// by default, so the program normally has no updater and no "Check for Updates..." item.
class SoftwareUpdateConfiguration {
public:
    static constexpr const char* feedUrlKey = "SUFeedURL";
    static constexpr const char* publicKeyKey = "SUPublicEDKey";

    // A value that is missing or not a string counts as empty; white space and line breaks
    // around it are ignored.
    static bool hasRequiredConfiguration(const QVariantMap& settings);
    // The settings this program was built with.
    static QVariantMap buildSettings();
};

} // namespace tavrik
