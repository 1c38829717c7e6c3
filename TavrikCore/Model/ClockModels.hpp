#pragma once

#include "TavrikCore/Support/Clock.hpp"
#include "TavrikCore/Support/Json.hpp"
#include "TavrikCore/Support/Uuid.hpp"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace tavrik {

// A point in time with millisecond resolution. Dates of the device and of schedules may lie far
// beyond the range of a nanosecond `system_clock::time_point`, so calendar code works in this unit.
using Moment = std::chrono::sys_time<std::chrono::milliseconds>;

// `clock.now()` as a Moment.
Moment currentMoment(const Clock& clock = systemClock());

// `localeId` with its calendar set to the Gregorian one: the device counts in it whatever calendar
// the user's locale prefers, so a Buddhist or Japanese locale does not read the year 2025 as another
// era's. Only the calendar keyword changes; "en_US_POSIX" when ICU refuses the id.
std::string gregorianLocaleId(const std::string& localeId);

// Calendar fields of a local wall-clock time, together with the calendar (that of `localeId`) and
// the time zone in which they are read.
struct DateComponents {
    std::string localeId;
    std::string timeZoneId;
    std::int64_t year = 0;
    std::int64_t month = 0;
    std::int64_t day = 0;
    std::int64_t hour = 0;
    std::int64_t minute = 0;
    std::int64_t second = 0;

    // The moment these fields name; the calendar is lenient (month 13 is January of the next year).
    // Nothing when the calendar cannot form it. An unknown zone id reads as UTC.
    std::optional<Moment> date() const;

    friend bool operator==(const DateComponents&, const DateComponents&) = default;
};

// The device's own wall-clock reading, as sent in sync data and "clock_state" messages. It carries
// no time zone.
struct DeviceClockSnapshot {
    std::int64_t valid = 0;
    std::int64_t year = 0;
    std::int64_t month = 0;
    std::int64_t day = 0;
    std::int64_t hour = 0;
    std::int64_t minute = 0;
    std::int64_t second = 0;
    std::optional<std::string> message {};

    bool isValid() const { return valid != 0; }
    // The reading in the user's calendar and time zone, both taken from `clock`.
    DateComponents dateComponents(const Clock& clock = systemClock()) const;

    friend bool operator==(const DeviceClockSnapshot&, const DeviceClockSnapshot&) = default;
};

// Seven required numbers; "message" optional. Other keys (such as "type") are ignored.
Json toJson(const DeviceClockSnapshot& snapshot);
DeviceClockSnapshot deviceClockSnapshotFromJson(const Json& value);

// The offer to set the device clock; in memory only. Every notice has its own id, so two notices
// made from the same values differ.
struct TimeSyncNotice {
    Uuid id;
    DeviceClockSnapshot deviceClock;
    std::string deviceText;
    std::string macText;
    std::optional<std::int64_t> driftSeconds {};

    TimeSyncNotice(DeviceClockSnapshot deviceClock, std::string deviceText, std::string macText,
        std::optional<std::int64_t> driftSeconds);

    friend bool operator==(const TimeSyncNotice&, const TimeSyncNotice&) = default;
};

} // namespace tavrik
