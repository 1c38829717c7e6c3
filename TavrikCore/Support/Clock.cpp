#include "TavrikCore/Support/Clock.hpp"

#include <memory>
#include <unicode/locid.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

namespace tavrik {

std::chrono::system_clock::time_point SystemClock::now() const
{
    return std::chrono::system_clock::now();
}

std::string SystemClock::timeZoneId() const
{
    std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::detectHostTimeZone());
    icu::UnicodeString id;
    if (zone) {
        zone->getID(id);
    }
    std::string result;
    id.toUTF8String(result);
    return result.empty() ? std::string("UTC") : result;
}

std::string SystemClock::localeId() const
{
    return icu::Locale::getDefault().getName();
}

std::chrono::milliseconds SystemClock::uptime() const
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
}

const Clock& systemClock()
{
    static const SystemClock clock;
    return clock;
}

} // namespace tavrik
