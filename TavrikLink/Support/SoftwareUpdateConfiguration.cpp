#include "TavrikLink/Support/SoftwareUpdateConfiguration.hpp"

#include <QString>

#ifndef TAVRIK_UPDATE_FEED_URL
#define TAVRIK_UPDATE_FEED_URL ""
#endif
#ifndef TAVRIK_UPDATE_PUBLIC_KEY
#define TAVRIK_UPDATE_PUBLIC_KEY ""
#endif

namespace tavrik {

namespace {
QString trimmedString(const QVariantMap& settings, const char* key)
{
    const QVariant value = settings.value(QString::fromLatin1(key));
    if (value.typeId() != QMetaType::QString) {
        return {};
    }
    return value.toString().trimmed();
}
} // namespace

bool SoftwareUpdateConfiguration::hasRequiredConfiguration(const QVariantMap& settings)
{
    return !trimmedString(settings, feedUrlKey).isEmpty() && !trimmedString(settings, publicKeyKey).isEmpty();
}

QVariantMap SoftwareUpdateConfiguration::buildSettings()
{
    return {
        { QString::fromLatin1(feedUrlKey), QString::fromUtf8(TAVRIK_UPDATE_FEED_URL) },
        { QString::fromLatin1(publicKeyKey), QString::fromUtf8(TAVRIK_UPDATE_PUBLIC_KEY) },
    };
}

} // namespace tavrik
