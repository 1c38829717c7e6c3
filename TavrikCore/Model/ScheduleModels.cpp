#include "TavrikCore/Model/ScheduleModels.hpp"

#include "TavrikCore/Model/SyncSignature.hpp"

#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

namespace tavrik {

namespace {

constexpr std::int64_t everyDayMask = 127;
constexpr std::int64_t weekdaysMask = 62;
constexpr std::int64_t weekendMask = 65;
constexpr std::int64_t oneTimeMask = 128;

constexpr std::array<std::string_view, 7> dayNames { "Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat" };

// Medium date style, no time. Building an ICU formatter is costly and schedule lists redraw often, so
// one formatter is kept per locale and zone.
std::string mediumDateText(Moment moment, const Clock& clock)
{
    static std::mutex mutex;
    static std::map<std::pair<std::string, std::string>, std::unique_ptr<icu::DateFormat>> formatters;

    const std::lock_guard lock(mutex);
    auto key = std::make_pair(clock.localeId(), clock.timeZoneId());
    auto found = formatters.find(key);
    if (found == formatters.end()) {
        std::unique_ptr<icu::DateFormat> formatter(
            icu::DateFormat::createDateInstance(icu::DateFormat::kMedium, icu::Locale(key.first.c_str())));
        if (!formatter) {
            return {};
        }
        formatter->adoptTimeZone(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(key.second)));
        found = formatters.emplace(std::move(key), std::move(formatter)).first;
    }

    icu::UnicodeString text;
    found->second->format(static_cast<UDate>(moment.time_since_epoch().count()), text);
    std::string result;
    text.toUTF8String(result);
    return result;
}

Moment momentOfMinutes(std::uint32_t minutes, const Clock& clock)
{
    if (minutes == 0) {
        return currentMoment(clock);
    }
    return Moment(std::chrono::minutes(minutes));
}

} // namespace

bool ScheduledRoutine::isOneTime() const
{
    return type == "single" || days == oneTimeMask;
}

std::string ScheduledRoutine::routineName() const
{
    return label ? *label : "Routine " + std::to_string(routineId);
}

std::string ScheduledRoutine::timeText() const
{
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%02lld:%02lld", static_cast<long long>(hour), static_cast<long long>(minute));
    return buffer;
}

std::string ScheduledRoutine::daysDescription(const Clock& clock) const
{
    if (type == "single") {
        return mediumDateText(oneTimeDate(clock), clock);
    }
    switch (days) {
    case 0:
    case everyDayMask:
        return "Every day";
    case weekdaysMask:
        return "Weekdays";
    case weekendMask:
        return "Weekend";
    case oneTimeMask:
        return mediumDateText(oneTimeDate(clock), clock);
    default:
        break;
    }
    std::string text;
    for (int index = 0; index < 7; ++index) {
        if ((days >> index) & 1) {
            if (!text.empty()) {
                text += ", ";
            }
            text += dayNames[static_cast<std::size_t>(index)];
        }
    }
    return text.empty() ? std::string("(none)") : text;
}

std::set<int> ScheduledRoutine::daySet() const
{
    std::set<int> result;
    if (type == "single" || days == oneTimeMask) {
        return result;
    }
    const std::int64_t mask = days == 0 ? everyDayMask : days;
    for (int index = 0; index < 7; ++index) {
        if ((mask >> index) & 1) {
            result.insert(index);
        }
    }
    return result;
}

Moment ScheduledRoutine::oneTimeDate(const Clock& clock) const
{
    if (year && month && day) {
        const DateComponents components { clock.localeId(), clock.timeZoneId(), *year, *month, *day, hour, minute, 0 };
        if (const std::optional<Moment> date = components.date()) {
            return *date;
        }
    }
    if (runAt) {
        return momentOfMinutes(*runAt, clock);
    }
    if (lastRun) {
        return momentOfMinutes(*lastRun, clock);
    }
    return currentMoment(clock);
}

bool ScheduledRoutine::isEmptyPlaceholder() const
{
    return id == 0 && routineId == 0 && hour == 0 && minute == 0 && days == 0 && !enabled && lastRun.value_or(0) == 0
        && !type && !runAt;
}

std::int64_t ScheduledRoutine::syncSignature() const
{
    return makeSyncSignature([&](SyncHasher& hasher) {
        hasher.combine(id);
        hasher.combine(routineId);
        hasher.combine(hour);
        hasher.combine(minute);
        hasher.combine(days);
        hasher.combine(enabled);
        hasher.combine(label);
        hasher.combine(lastRun);
        hasher.combine(type);
        hasher.combine(runAt);
        hasher.combine(year);
        hasher.combine(month);
        hasher.combine(day);
    });
}

Json toJson(const ScheduledRoutine& schedule)
{
    Json object = Json::object();
    object["id"] = schedule.id;
    object["routineId"] = schedule.routineId;
    object["hour"] = schedule.hour;
    object["minute"] = schedule.minute;
    object["days"] = schedule.days;
    object["enabled"] = schedule.enabled ? 1 : 0;
    json::putOptional(object, "label", schedule.label);
    json::putOptional(object, "lastRun", schedule.lastRun);
    json::putOptional(object, "type", schedule.type);
    json::putOptional(object, "runAt", schedule.runAt);
    json::putOptional(object, "year", schedule.year);
    json::putOptional(object, "month", schedule.month);
    json::putOptional(object, "day", schedule.day);
    return object;
}

ScheduledRoutine scheduledRoutineFromJson(const Json& value)
{
    const Json& object = json::requireObject(value, "schedule");
    ScheduledRoutine schedule;
    schedule.id = json::requiredUInt32(object, "id");
    schedule.routineId = json::requiredUInt32(object, "routineId");
    schedule.hour = json::requiredInt(object, "hour");
    schedule.minute = json::requiredInt(object, "minute");
    schedule.days = json::optionalInt(object, "days").value_or(0);
    schedule.enabled = json::optionalInt(object, "enabled").value_or(1) != 0;
    schedule.label = json::optionalString(object, "label");
    schedule.lastRun = json::optionalUInt32(object, "lastRun");
    schedule.type = json::optionalString(object, "type");
    schedule.runAt = json::optionalUInt32(object, "runAt");
    schedule.year = json::optionalInt(object, "year");
    schedule.month = json::optionalInt(object, "month");
    schedule.day = json::optionalInt(object, "day");
    return schedule;
}

Json toJson(const ScheduleDefinition& definition)
{
    Json object = Json::object();
    object["id"] = definition.id;
    object["label"] = definition.label;
    return object;
}

ScheduleDefinition scheduleDefinitionFromJson(const Json& value)
{
    const Json& object = json::requireObject(value, "schedule routine");
    ScheduleDefinition definition;
    definition.id = json::requiredUInt32(object, "id");
    definition.label = json::requiredString(object, "label");
    return definition;
}

Json toJson(const ScheduleEnvelope& envelope)
{
    Json object = Json::object();
    object["type"] = envelope.type;
    json::putOptional(object, "message", envelope.message);
    json::putOptionalArray(object, "routines", envelope.routines);
    json::putOptionalArray(object, "schedules", envelope.schedules);
    return object;
}

ScheduleEnvelope scheduleEnvelopeFromJson(const Json& value)
{
    const Json& object = json::requireObject(value, "schedule message");
    ScheduleEnvelope envelope;
    envelope.type = json::requiredString(object, "type");
    envelope.message = json::optionalString(object, "message");
    envelope.routines = json::optionalArray(
        object, "routines", [](const Json& element) { return scheduleDefinitionFromJson(element); });
    envelope.schedules = json::optionalArray(
        object, "schedules", [](const Json& element) { return scheduledRoutineFromJson(element); });
    return envelope;
}

std::string_view rawValue(ScheduleKind kind)
{
    switch (kind) {
    case ScheduleKind::recurring:
        return "recurring";
    case ScheduleKind::single:
        return "single";
    }
    return "recurring";
}

std::optional<ScheduleKind> scheduleKindFromRawValue(std::string_view text)
{
    for (const ScheduleKind kind : allScheduleKinds) {
        if (rawValue(kind) == text) {
            return kind;
        }
    }
    return std::nullopt;
}

std::string_view label(ScheduleKind kind)
{
    switch (kind) {
    case ScheduleKind::recurring:
        return "Repeats";
    case ScheduleKind::single:
        return "Once";
    }
    return "Repeats";
}

std::string_view emptyStateLabel(ScheduleKind kind)
{
    return rawValue(kind);
}

std::optional<std::string> RoutineSchedulePreview::text(
    std::uint32_t routineId, const std::vector<ScheduledRoutine>& schedules, const Clock& clock)
{
    std::vector<const ScheduledRoutine*> routineSchedules;
    for (const ScheduledRoutine& schedule : schedules) {
        if (schedule.routineId == routineId) {
            routineSchedules.push_back(&schedule);
        }
    }
    return text(routineSchedules, clock);
}

std::optional<std::string> RoutineSchedulePreview::text(
    const std::vector<const ScheduledRoutine*>& routineSchedules, const Clock& clock)
{
    if (routineSchedules.empty()) {
        return std::nullopt;
    }
    std::vector<const ScheduledRoutine*> enabled;
    for (const ScheduledRoutine* schedule : routineSchedules) {
        if (schedule->enabled) {
            enabled.push_back(schedule);
        }
    }
    if (enabled.empty()) {
        return "Schedules off";
    }
    std::string text;
    for (std::size_t index = 0; index < enabled.size() && index < 2; ++index) {
        if (index > 0) {
            text += ", ";
        }
        text += enabled[index]->timeText() + " " + enabled[index]->daysDescription(clock);
    }
    if (enabled.size() > 2) {
        text += " +" + std::to_string(enabled.size() - 2);
    }
    return text;
}

} // namespace tavrik
