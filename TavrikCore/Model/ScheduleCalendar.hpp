#pragma once

#include "TavrikCore/Model/ClockModels.hpp"
#include "TavrikCore/Model/ScheduleModels.hpp"
#include "TavrikCore/Support/Clock.hpp"

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tavrik {

// Calendar work of schedule editing. Dates are read and formed in the clock's calendar and time zone.

// Wall-clock fields of a moment.
struct ScheduleDateParts {
    std::int64_t year = 2026;
    std::int64_t month = 1;
    std::int64_t day = 1;
    std::int64_t hour = 0;
    std::int64_t minute = 0;

    friend bool operator==(const ScheduleDateParts&, const ScheduleDateParts&) = default;
};

// The weekday bit mask of a set of weekdays (0 Sunday to 6 Saturday); members outside 0...63 add nothing.
std::int64_t daysMask(const std::set<int>& days);

// The year, month, day, hour and minute of the moment; a field the calendar cannot give keeps its
// default (2026-01-01 00:00).
ScheduleDateParts scheduleDateParts(Moment date, const Clock& clock);

// Whole minutes since 1970 of the moment's calendar day at hour:minute; 0 for moments before 1970,
// nothing when the calendar cannot form that time. Not narrowed: a schedule keeps only minutes that
// fit in 32 bits, and its editor refuses the others.
std::optional<std::int64_t> scheduleRunAtMinute(Moment date, std::int64_t hour, std::int64_t minute, const Clock& clock);

// The calendar day of the schedule's one-time date at hour:minute; that date itself when the
// calendar cannot form it.
Moment scheduleDate(const ScheduledRoutine& schedule, std::int64_t hour, std::int64_t minute, const Clock& clock);

// "yyyy-MM-ddTHH:mm" of the moment's wall-clock time: no seconds, no zone.
std::string startsAtArgument(Moment date, const Clock& clock);

// Stable sort: one-time schedules first, by date; then recurring ones by hour and minute.
void sortIntoScheduleOrder(std::vector<ScheduledRoutine>& schedules, const Clock& clock);

// Stable sort of routine names by label, localized and without regard to case.
void sortIntoLabelOrder(std::vector<ScheduleDefinition>& routines, const Clock& clock);

} // namespace tavrik
