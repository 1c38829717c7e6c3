#include "TavrikLink/Controller/TavrikBleCentral.hpp"

#include <unicode/datefmt.h>
#include <unicode/gregocal.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <cstdio>
#include <memory>

namespace tavrik {

namespace {

constexpr std::int64_t timeSyncDriftLimitSeconds = 61;

icu::TimeZone* createZone(const std::string& zoneId)
{
    return icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(zoneId));
}

UDate udate(std::chrono::system_clock::time_point time)
{
    return static_cast<UDate>(std::chrono::floor<std::chrono::milliseconds>(time).time_since_epoch().count());
}

std::string deviceClockText(const DeviceClockSnapshot& reading)
{
    char text[160];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld", static_cast<long long>(reading.year),
        static_cast<long long>(reading.month), static_cast<long long>(reading.day), static_cast<long long>(reading.hour),
        static_cast<long long>(reading.minute), static_cast<long long>(reading.second));
    return text;
}

// The computer's time as the user reads it: medium date and medium time of the locale, in the zone.
std::string localClockText(const Clock& clock)
{
    std::unique_ptr<icu::DateFormat> formatter(icu::DateFormat::createDateTimeInstance(
        icu::DateFormat::kMedium, icu::DateFormat::kMedium, icu::Locale(clock.localeId().c_str())));
    if (!formatter) {
        return {};
    }
    formatter->adoptTimeZone(createZone(clock.timeZoneId()));
    icu::UnicodeString formatted;
    formatter->format(udate(clock.now()), formatted);
    std::string text;
    formatted.toUTF8String(text);
    return text;
}

// "set year=... second=..." for the current local time; nothing when the calendar cannot say.
std::optional<std::string> clockCommandText(const Clock& clock)
{
    UErrorCode status = U_ZERO_ERROR;
    icu::GregorianCalendar calendar(createZone(clock.timeZoneId()), status);
    if (U_FAILURE(status)) {
        return std::nullopt;
    }
    calendar.setTime(udate(clock.now()), status);
    const std::int32_t year = calendar.get(UCAL_EXTENDED_YEAR, status);
    const std::int32_t month = calendar.get(UCAL_MONTH, status) + 1;
    const std::int32_t day = calendar.get(UCAL_DATE, status);
    const std::int32_t hour = calendar.get(UCAL_HOUR_OF_DAY, status);
    const std::int32_t minute = calendar.get(UCAL_MINUTE, status);
    const std::int32_t second = calendar.get(UCAL_SECOND, status);
    if (U_FAILURE(status)) {
        return std::nullopt;
    }
    return "set year=" + std::to_string(year) + " month=" + std::to_string(month) + " day=" + std::to_string(day)
        + " hour=" + std::to_string(hour) + " minute=" + std::to_string(minute) + " second=" + std::to_string(second);
}

} // namespace

std::optional<std::string> TavrikBleCentral::currentClockCommand() const
{
    return clockCommandText(clock);
}

void TavrikBleCentral::handleClockPayload(const Data& payload)
{
    DeviceClockSnapshot reading;
    try {
        reading = deviceClockSnapshotFromJson(parseJson(payload));
    } catch (const std::exception&) {
        appendLog("[ble:data] invalid clock payload", true);
        return;
    }
    if (reading.message && !reading.message->empty()) {
        appendLog("[clock] " + *reading.message, true);
    }
}

void TavrikBleCentral::evaluateTimeSyncNeed(const std::optional<DeviceClockSnapshot>& reading)
{
    if (isReviewDemo_ || didOfferTimeSyncForCurrentLoad_ || !reading) {
        return;
    }
    const Moment now = currentMoment(clock);
    const std::string localText = localClockText(clock);
    const std::string deviceText = deviceClockText(*reading);

    DateComponents components = reading->dateComponents(clock);
    components.localeId = gregorianLocaleId(components.localeId);
    std::optional<std::int64_t> drift;
    if (const std::optional<Moment> moment = components.date()) {
        const std::int64_t difference = (*moment - now).count();
        drift = (difference < 0 ? -difference : difference) / 1000;
    }
    if (reading->isValid() && (!drift || *drift < timeSyncDriftLimitSeconds)) {
        return;
    }
    didOfferTimeSyncForCurrentLoad_ = true;
    publish(timeSyncNotice_, std::optional<TimeSyncNotice>(TimeSyncNotice(*reading, deviceText, localText, drift)),
        &TavrikBleCentral::timeSyncNoticeChanged);
    recordUserInteraction();
}

void TavrikBleCentral::acceptTimeSyncNotice()
{
    if (isReviewDemo_ || !timeSyncNotice_) {
        return;
    }
    recordUserInteraction();
    publish(timeSyncNotice_, std::nullopt, &TavrikBleCentral::timeSyncNoticeChanged);
    sendCurrentTimeToTavrik();
}

void TavrikBleCentral::dismissTimeSyncNotice()
{
    publish(timeSyncNotice_, std::nullopt, &TavrikBleCentral::timeSyncNoticeChanged);
    recordUserInteraction();
}

void TavrikBleCentral::sendCurrentTimeToTavrik()
{
    if (isReviewDemo_) {
        return;
    }
    const std::optional<std::string> command = currentClockCommand();
    if (!command) {
        appendLog("Could not read this computer's time for Tavrik clock update", true);
        return;
    }
    pendingClockCommand_ = *command;
    routineControlSessionActive_ = true;
    if (isDeviceAttached()) {
        sendPendingClockCommandIfNeeded();
        return;
    }
    appendLog("Reconnecting to update Tavrik time", true);
    startCommandConnection();
}

} // namespace tavrik
