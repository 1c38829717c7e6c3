#include "TavrikCore/Model/CompanionTimeZone.hpp"

#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace tavrik {

namespace {

constexpr std::string_view centralEuropeanRule = "CET-1CEST,M3.5.0,M10.5.0/3";

constexpr std::array<std::string_view, 9> centralEuropeanZones {
    "Europe/Amsterdam",
    "Europe/Brussels",
    "Europe/Berlin",
    "Europe/Paris",
    "Europe/Luxembourg",
    "Europe/Madrid",
    "Europe/Rome",
    "Europe/Vienna",
    "Europe/Zurich",
};

// Seconds east of Greenwich, daylight saving included; 0 when ICU cannot tell.
std::int64_t offsetSeconds(std::string_view zoneId, std::chrono::system_clock::time_point at)
{
    const icu::UnicodeString id
        = icu::UnicodeString::fromUTF8(icu::StringPiece(zoneId.data(), static_cast<std::int32_t>(zoneId.size())));
    const std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createTimeZone(id));
    if (!zone) {
        return 0;
    }
    const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count();
    std::int32_t rawOffset = 0;
    std::int32_t dstOffset = 0;
    UErrorCode status = U_ZERO_ERROR;
    zone->getOffset(static_cast<UDate>(milliseconds), false, rawOffset, dstOffset, status);
    if (U_FAILURE(status)) {
        return 0;
    }
    return (static_cast<std::int64_t>(rawOffset) + dstOffset) / 1000;
}

} // namespace

std::string CompanionTimeZone::posixValue(std::string_view zoneId, std::chrono::system_clock::time_point at)
{
    for (const std::string_view listed : centralEuropeanZones) {
        if (zoneId == listed) {
            return std::string(centralEuropeanRule);
        }
    }
    const std::int64_t offset = offsetSeconds(zoneId, at);
    // POSIX counts west of Greenwich as positive, so the sign is the reverse of the usual one.
    const std::string sign = offset >= 0 ? "-" : "";
    const std::int64_t magnitude = std::llabs(offset);
    const std::int64_t hours = magnitude / 3600;
    const std::int64_t minutes = magnitude % 3600 / 60;
    std::string result = "GMT" + sign + std::to_string(hours);
    if (minutes != 0) {
        result += (minutes < 10 ? ":0" : ":") + std::to_string(minutes);
    }
    return result;
}

std::string CompanionTimeZone::posixValue(std::string_view zoneId, const Clock& clock)
{
    return posixValue(zoneId, clock.now());
}

} // namespace tavrik
