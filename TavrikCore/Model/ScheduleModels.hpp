#pragma once

#include "TavrikCore/Model/ClockModels.hpp"
#include "TavrikCore/Support/Clock.hpp"
#include "TavrikCore/Support/Json.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tavrik {

// A schedule that starts one routine, either on chosen weekdays or once on a calendar date.
struct ScheduledRoutine {
    std::uint32_t id = 0;
    std::uint32_t routineId = 0;
    std::int64_t hour = 0;
    std::int64_t minute = 0;
    // Weekday bits, bit 0 Sunday to bit 6 Saturday; 0 and 127 mean every day; 128 marks a one-time schedule.
    std::int64_t days = 0;
    // A value-initialised record is the empty placeholder; JSON without "enabled" reads as true.
    bool enabled = false;
    std::optional<std::string> label {};
    // Whole minutes since 1970-01-01 00:00 UTC.
    std::optional<std::uint32_t> lastRun {};
    // "recurring" or "single"; absent means recurring. Other texts are kept as received.
    std::optional<std::string> type {};
    // Whole minutes since 1970-01-01 00:00 UTC.
    std::optional<std::uint32_t> runAt {};
    std::optional<std::int64_t> year {};
    std::optional<std::int64_t> month {};
    std::optional<std::int64_t> day {};

    bool isOneTime() const;
    // `label` when present (even empty), else "Routine <routineId>".
    std::string routineName() const;
    // "%02d:%02d" of hour and minute.
    std::string timeText() const;
    // "Every day", "Weekdays", "Weekend", day names joined by ", ", "(none)", or the medium date of
    // a one-time schedule in the clock's locale and time zone.
    std::string daysDescription(const Clock& clock = systemClock()) const;
    // Weekday indexes 0 (Sunday) to 6; empty for a one-time schedule.
    std::set<int> daySet() const;
    // The moment a one-time schedule runs: its calendar date at hour:minute in the clock's calendar
    // and zone, else `runAt`, else `lastRun`, else now.
    Moment oneTimeDate(const Clock& clock = systemClock()) const;
    bool isEmptyPlaceholder() const;

    std::int64_t syncSignature() const;

    friend bool operator==(const ScheduledRoutine&, const ScheduledRoutine&) = default;
};

// "enabled" travels as the number 0 or 1 and reads as true when absent; "days" reads as 0 when absent.
Json toJson(const ScheduledRoutine& schedule);
ScheduledRoutine scheduledRoutineFromJson(const Json& value);

// A routine's name inside schedule messages.
struct ScheduleDefinition {
    std::uint32_t id = 0;
    std::string label;

    friend bool operator==(const ScheduleDefinition&, const ScheduleDefinition&) = default;
};

Json toJson(const ScheduleDefinition& definition);
ScheduleDefinition scheduleDefinitionFromJson(const Json& value);

// The device's schedule messages: "state" (the schedule list) and "error".
struct ScheduleEnvelope {
    std::string type;
    std::optional<std::string> message {};
    std::optional<std::vector<ScheduleDefinition>> routines {};
    std::optional<std::vector<ScheduledRoutine>> schedules {};

    friend bool operator==(const ScheduleEnvelope&, const ScheduleEnvelope&) = default;
};

Json toJson(const ScheduleEnvelope& envelope);
ScheduleEnvelope scheduleEnvelopeFromJson(const Json& value);

enum class ScheduleKind {
    recurring,
    single,
};

inline constexpr std::array<ScheduleKind, 2> allScheduleKinds {
    ScheduleKind::recurring,
    ScheduleKind::single,
};

// The raw value is also the kind's id.
std::string_view rawValue(ScheduleKind kind);
// Exactly "recurring" or "single"; nothing for any other text.
std::optional<ScheduleKind> scheduleKindFromRawValue(std::string_view text);
std::string_view label(ScheduleKind kind);
std::string_view emptyStateLabel(ScheduleKind kind);

// The one-line summary of a routine's schedules shown under its name.
struct RoutineSchedulePreview {
    RoutineSchedulePreview() = delete;

    // Nothing when the routine has no schedule; "Schedules off" when none is enabled.
    static std::optional<std::string> text(
        std::uint32_t routineId, const std::vector<ScheduledRoutine>& schedules, const Clock& clock = systemClock());
    // The same from the routine's own schedules, in their order, for callers that group them once.
    static std::optional<std::string> text(
        const std::vector<const ScheduledRoutine*>& routineSchedules, const Clock& clock = systemClock());
};

} // namespace tavrik
