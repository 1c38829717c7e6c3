#include "TavrikCore/Session/CompanionSession.hpp"

#include "TavrikCore/Support/InternetDateTime.hpp"

#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>
#include <unicode/ucal.h>
#include <unicode/unistr.h>

#include <chrono>
#include <cstdio>
#include <memory>

namespace tavrik {

namespace {

constexpr std::chrono::milliseconds allowedDrift { 60'000 };

icu::UnicodeString unicodeText(const std::string& text)
{
    return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())));
}

// Whether `date` lies more than `limit` before or after `now`; `now` keeps its sub-millisecond part.
bool differsByMore(Moment date, std::chrono::system_clock::time_point now, std::chrono::milliseconds limit)
{
    const Moment wholeNow = std::chrono::floor<std::chrono::milliseconds>(now);
    const bool fraction = now > wholeNow;
    const std::chrono::milliseconds difference = date - wholeNow;
    return difference > limit || difference < -limit || (difference == -limit && fraction);
}

std::string deviceClockText(const DeviceClockSnapshot& snapshot)
{
    char text[128];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld", static_cast<long long>(snapshot.year),
        static_cast<long long>(snapshot.month), static_cast<long long>(snapshot.day),
        static_cast<long long>(snapshot.hour), static_cast<long long>(snapshot.minute));
    return text;
}

// The host's time as the user reads it: medium date and short time of the locale, in the zone.
std::string phoneClockText(
    std::chrono::system_clock::time_point now, const std::string& zoneId, const std::string& localeId)
{
    std::unique_ptr<icu::DateFormat> formatter(icu::DateFormat::createDateTimeInstance(
        icu::DateFormat::kMedium, icu::DateFormat::kShort, icu::Locale(localeId.c_str())));
    if (!formatter) {
        return internetDateTimeText(now);
    }
    formatter->adoptTimeZone(icu::TimeZone::createTimeZone(unicodeText(zoneId)));
    const auto milliseconds = std::chrono::floor<std::chrono::milliseconds>(now).time_since_epoch().count();
    icu::UnicodeString formatted;
    formatter->format(static_cast<UDate>(milliseconds), formatted);
    std::string text;
    formatted.toUTF8String(text);
    return text;
}

} // namespace

std::string CompanionSession::knownZoneOrSystem(const std::optional<std::string>& zoneName) const
{
    if (zoneName) {
        const std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createTimeZone(unicodeText(*zoneName)));
        icu::UnicodeString id;
        if (zone && zone->getID(id) != icu::UnicodeString(UCAL_UNKNOWN_ZONE_ID)) {
            return *zoneName;
        }
    }
    return clock.timeZoneId();
}

void CompanionSession::evaluateClock(const std::optional<DeviceClockSnapshot>& clockSnapshot)
{
    if (!clockSnapshot) {
        return;
    }
    const std::chrono::system_clock::time_point now = clock.now();
    const std::string zone = knownZoneOrSystem(timeZoneID);
    DateComponents components = clockSnapshot->dateComponents(clock);
    components.timeZoneId = zone;
    components.localeId = gregorianLocaleId(clock.localeId());
    const std::optional<Moment> reading = components.date();
    if (clockSnapshot->valid != 0 && reading && !differsByMore(*reading, now, allowedDrift)) {
        // A correct clock leaves an earlier notice for the user to dismiss.
        return;
    }
    clockNotice = Json {
        { "device", deviceClockText(*clockSnapshot) },
        { "phone", phoneClockText(now, zone, clock.localeId()) },
    };
}

} // namespace tavrik
