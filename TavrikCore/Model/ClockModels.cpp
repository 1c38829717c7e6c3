#include "TavrikCore/Model/ClockModels.hpp"

#include <cmath>
#include <limits>
#include <memory>
#include <utility>

#include <unicode/calendar.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

namespace tavrik {

std::string gregorianLocaleId(const std::string& localeId)
{
    icu::Locale locale(localeId.c_str());
    UErrorCode status = U_ZERO_ERROR;
    locale.setKeywordValue("calendar", "gregorian", status);
    return U_SUCCESS(status) ? std::string(locale.getName()) : std::string("en_US_POSIX");
}

namespace {

bool fitsInt32(std::int64_t value)
{
    return value >= std::numeric_limits<std::int32_t>::min() && value <= std::numeric_limits<std::int32_t>::max();
}

} // namespace

Moment currentMoment(const Clock& clock)
{
    return std::chrono::floor<std::chrono::milliseconds>(clock.now());
}

std::optional<Moment> DateComponents::date() const
{
    // ICU months count from 0; a month far out of range must not overflow on the way there.
    if (!fitsInt32(month)) {
        return std::nullopt;
    }
    const std::int64_t zeroBasedMonth = month - 1;
    for (const std::int64_t field : { year, zeroBasedMonth, day, hour, minute, second }) {
        if (!fitsInt32(field)) {
            return std::nullopt;
        }
    }

    UErrorCode status = U_ZERO_ERROR;
    icu::TimeZone* zone = icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(timeZoneId));
    // The calendar adopts the zone, also when it fails to build.
    std::unique_ptr<icu::Calendar> calendar(icu::Calendar::createInstance(zone, icu::Locale(localeId.c_str()), status));
    if (U_FAILURE(status) || !calendar) {
        return std::nullopt;
    }
    calendar->setLenient(true);
    calendar->clear();
    calendar->set(UCAL_YEAR, static_cast<std::int32_t>(year));
    calendar->set(UCAL_MONTH, static_cast<std::int32_t>(zeroBasedMonth));
    calendar->set(UCAL_DATE, static_cast<std::int32_t>(day));
    calendar->set(UCAL_HOUR_OF_DAY, static_cast<std::int32_t>(hour));
    calendar->set(UCAL_MINUTE, static_cast<std::int32_t>(minute));
    calendar->set(UCAL_SECOND, static_cast<std::int32_t>(second));
    calendar->set(UCAL_MILLISECOND, 0);

    const UDate milliseconds = calendar->getTime(status);
    if (U_FAILURE(status) || !std::isfinite(milliseconds) || std::fabs(milliseconds) >= 9.0e18) {
        return std::nullopt;
    }
    return Moment(std::chrono::milliseconds(static_cast<std::int64_t>(milliseconds)));
}

DateComponents DeviceClockSnapshot::dateComponents(const Clock& clock) const
{
    DateComponents components;
    components.localeId = clock.localeId();
    components.timeZoneId = clock.timeZoneId();
    components.year = year;
    components.month = month;
    components.day = day;
    components.hour = hour;
    components.minute = minute;
    components.second = second;
    return components;
}

Json toJson(const DeviceClockSnapshot& snapshot)
{
    Json object = Json::object();
    object["valid"] = snapshot.valid;
    object["year"] = snapshot.year;
    object["month"] = snapshot.month;
    object["day"] = snapshot.day;
    object["hour"] = snapshot.hour;
    object["minute"] = snapshot.minute;
    object["second"] = snapshot.second;
    json::putOptional(object, "message", snapshot.message);
    return object;
}

DeviceClockSnapshot deviceClockSnapshotFromJson(const Json& value)
{
    const Json& object = json::requireObject(value, "clock");
    DeviceClockSnapshot snapshot;
    snapshot.valid = json::requiredInt(object, "valid");
    snapshot.year = json::requiredInt(object, "year");
    snapshot.month = json::requiredInt(object, "month");
    snapshot.day = json::requiredInt(object, "day");
    snapshot.hour = json::requiredInt(object, "hour");
    snapshot.minute = json::requiredInt(object, "minute");
    snapshot.second = json::requiredInt(object, "second");
    snapshot.message = json::optionalString(object, "message");
    return snapshot;
}

TimeSyncNotice::TimeSyncNotice(DeviceClockSnapshot deviceClock, std::string deviceText, std::string macText,
    std::optional<std::int64_t> driftSeconds)
    : id(Uuid::make())
    , deviceClock(std::move(deviceClock))
    , deviceText(std::move(deviceText))
    , macText(std::move(macText))
    , driftSeconds(driftSeconds)
{
}

} // namespace tavrik
