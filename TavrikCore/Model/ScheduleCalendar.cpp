#include "TavrikCore/Model/ScheduleCalendar.hpp"

#include "TavrikCore/Support/LocalizedOrder.hpp"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <utility>

#include <unicode/calendar.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

namespace tavrik {

std::int64_t daysMask(const std::set<int>& days)
{
    std::uint64_t mask = 0;
    for (const int day : days) {
        if (day >= 0 && day <= 63) {
            mask |= std::uint64_t { 1 } << day;
        }
    }
    return static_cast<std::int64_t>(mask);
}

ScheduleDateParts scheduleDateParts(Moment date, const Clock& clock)
{
    ScheduleDateParts parts;
    UErrorCode status = U_ZERO_ERROR;
    icu::TimeZone* zone = icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(clock.timeZoneId()));
    // The calendar adopts the zone, also when it fails to build.
    std::unique_ptr<icu::Calendar> calendar(
        icu::Calendar::createInstance(zone, icu::Locale(clock.localeId().c_str()), status));
    if (U_FAILURE(status) || !calendar) {
        return parts;
    }
    calendar->setTime(static_cast<UDate>(date.time_since_epoch().count()), status);
    if (U_FAILURE(status)) {
        return parts;
    }
    const auto field = [&](UCalendarDateFields name, std::int64_t& target, std::int64_t offset) {
        UErrorCode fieldStatus = U_ZERO_ERROR;
        const std::int32_t value = calendar->get(name, fieldStatus);
        if (U_SUCCESS(fieldStatus)) {
            target = std::int64_t { value } + offset;
        }
    };
    field(UCAL_YEAR, parts.year, 0);
    field(UCAL_MONTH, parts.month, 1);
    field(UCAL_DATE, parts.day, 0);
    field(UCAL_HOUR_OF_DAY, parts.hour, 0);
    field(UCAL_MINUTE, parts.minute, 0);
    return parts;
}

std::optional<std::int64_t> scheduleRunAtMinute(Moment date, std::int64_t hour, std::int64_t minute, const Clock& clock)
{
    const ScheduleDateParts parts = scheduleDateParts(date, clock);
    const DateComponents components { clock.localeId(), clock.timeZoneId(), parts.year, parts.month, parts.day, hour,
        minute, 0 };
    const std::optional<Moment> formed = components.date();
    if (!formed) {
        return std::nullopt;
    }
    // Division truncates toward zero, as whole minutes are counted.
    const std::int64_t minutes = formed->time_since_epoch().count() / 60'000;
    return std::max<std::int64_t>(minutes, 0);
}

Moment scheduleDate(const ScheduledRoutine& schedule, std::int64_t hour, std::int64_t minute, const Clock& clock)
{
    const Moment oneTime = schedule.oneTimeDate(clock);
    const ScheduleDateParts parts = scheduleDateParts(oneTime, clock);
    const DateComponents components { clock.localeId(), clock.timeZoneId(), parts.year, parts.month, parts.day, hour,
        minute, 0 };
    return components.date().value_or(oneTime);
}

std::string startsAtArgument(Moment date, const Clock& clock)
{
    const ScheduleDateParts parts = scheduleDateParts(date, clock);
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, "%04lld-%02lld-%02lldT%02lld:%02lld", static_cast<long long>(parts.year),
        static_cast<long long>(parts.month), static_cast<long long>(parts.day), static_cast<long long>(parts.hour),
        static_cast<long long>(parts.minute));
    return buffer;
}

void sortIntoScheduleOrder(std::vector<ScheduledRoutine>& schedules, const Clock& clock)
{
    // The dates are worked out once: each needs a calendar.
    struct Keyed {
        std::optional<Moment> oneTimeDate;
        ScheduledRoutine schedule;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(schedules.size());
    for (ScheduledRoutine& schedule : schedules) {
        std::optional<Moment> date;
        if (schedule.isOneTime()) {
            date = schedule.oneTimeDate(clock);
        }
        keyed.push_back({ date, std::move(schedule) });
    }
    std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& lhs, const Keyed& rhs) {
        if (lhs.oneTimeDate.has_value() != rhs.oneTimeDate.has_value()) {
            return lhs.oneTimeDate.has_value();
        }
        if (lhs.oneTimeDate) {
            return *lhs.oneTimeDate < *rhs.oneTimeDate;
        }
        return std::pair(lhs.schedule.hour, lhs.schedule.minute) < std::pair(rhs.schedule.hour, rhs.schedule.minute);
    });
    for (std::size_t index = 0; index < keyed.size(); ++index) {
        schedules[index] = std::move(keyed[index].schedule);
    }
}

void sortIntoLabelOrder(std::vector<ScheduleDefinition>& routines, const Clock& clock)
{
    // Each label is folded once, not at every comparison: a device may hold thousands of routines.
    const LocalizedCaseInsensitiveOrder order(clock.localeId());
    struct Keyed {
        std::string folded;
        ScheduleDefinition routine;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(routines.size());
    for (ScheduleDefinition& routine : routines) {
        keyed.push_back({ LocalizedCaseInsensitiveOrder::folded(routine.label), std::move(routine) });
    }
    std::stable_sort(keyed.begin(), keyed.end(),
        [&](const Keyed& lhs, const Keyed& rhs) { return order.compareFolded(lhs.folded, rhs.folded) < 0; });
    for (std::size_t index = 0; index < keyed.size(); ++index) {
        routines[index] = std::move(keyed[index].routine);
    }
}

} // namespace tavrik
