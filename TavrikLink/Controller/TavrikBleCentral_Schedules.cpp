#include "TavrikLink/Controller/TavrikBleCentral.hpp"

#include "TavrikCore/Model/LocalIds.hpp"
#include "TavrikCore/Model/ScheduleCalendar.hpp"
#include "TavrikCore/Model/ScheduleResolution.hpp"
#include "TavrikCore/Model/SyncImportError.hpp"
#include "TavrikCore/Support/Json.hpp"
#include "TavrikCore/Support/Text.hpp"

#include <algorithm>
#include <limits>

namespace tavrik {

namespace {

constexpr std::string_view invalidOneTimeDate = "Choose a valid date for this one-time schedule";

// A run minute a schedule can hold: absent stays absent; one past 32 bits is refused, never wrapped.
bool fitsRunAt(const std::optional<std::int64_t>& minute)
{
    return !minute || *minute <= std::int64_t { std::numeric_limits<std::uint32_t>::max() };
}

std::optional<std::uint32_t> narrowedRunAt(const std::optional<std::int64_t>& minute)
{
    if (!minute) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(*minute);
}

void clearOneTimeFields(ScheduledRoutine& schedule)
{
    schedule.lastRun.reset();
    schedule.runAt.reset();
    schedule.year.reset();
    schedule.month.reset();
    schedule.day.reset();
}

} // namespace

void TavrikBleCentral::handleSchedulePayload(const Data& payload)
{
    ScheduleEnvelope envelope;
    try {
        envelope = scheduleEnvelopeFromJson(parseJson(payload));
    } catch (const std::exception&) {
        setScheduleError("Invalid schedule payload");
        return;
    }
    if (envelope.type == "state") {
        if (envelope.routines) {
            std::vector<ScheduleDefinition> routines = std::move(*envelope.routines);
            sortIntoLabelOrder(routines, clock);
            publish(routines_, std::move(routines), &TavrikBleCentral::routinesChanged);
        }
        if (envelope.schedules) {
            keepUnansweredEdits(AtomicCommandChannel::schedule, *envelope.schedules, schedules_);
            publishSchedules(std::move(*envelope.schedules));
            refreshRoutineDefinitions();
        } else {
            commandPath_.answered(AtomicCommandChannel::schedule);
        }
        setScheduleError(std::nullopt);
        renewBaseline();
    } else if (envelope.type == "error") {
        commandPath_.answered(AtomicCommandChannel::schedule);
        setScheduleError(envelope.message.value_or("Schedule error"));
        recordUserInteraction();
        baselineSnapshot_ = currentSnapshot();
        reloadAfterRefusedChange();
    } else {
        appendLog("[ble:data] unhandled schedule payload " + envelope.type, true);
    }
}

void TavrikBleCentral::resetScheduleState()
{
    publish(schedules_, std::vector<ScheduledRoutine> {}, &TavrikBleCentral::schedulesChanged);
    publish(routines_, std::vector<ScheduleDefinition> {}, &TavrikBleCentral::routinesChanged);
    setScheduleError(std::nullopt);
}

std::uint32_t TavrikBleCentral::createSchedule(std::uint32_t routineId)
{
    takeInArrivedData();
    std::vector<std::uint32_t> usedIds;
    usedIds.reserve(schedules_.size());
    for (const ScheduledRoutine& schedule : schedules_) {
        usedIds.push_back(schedule.id);
    }
    const auto used = [&](std::uint32_t id) { return std::find(usedIds.begin(), usedIds.end(), id) != usedIds.end(); };
    // The counter never hands out 0 or an id in use; past the largest id it takes the lowest free one.
    if (nextLocalScheduleId_ == 0 || used(nextLocalScheduleId_)) {
        nextLocalScheduleId_ = nextUnusedId(usedIds).value_or(1);
    }
    const std::uint32_t id = nextLocalScheduleId_;
    usedIds.push_back(id);
    nextLocalScheduleId_ = id + 1;
    if (nextLocalScheduleId_ == 0 || used(nextLocalScheduleId_)) {
        nextLocalScheduleId_ = nextUnusedId(usedIds).value_or(1);
    }

    ScheduledRoutine schedule;
    schedule.id = id;
    schedule.routineId = routineId;
    schedule.hour = 8;
    schedule.minute = 0;
    schedule.days = 127;
    schedule.enabled = true;
    schedule.type = "recurring";
    const auto summary = std::find_if(routineSummaries_.begin(), routineSummaries_.end(),
        [&](const RoutineSummary& routine) { return routine.id == routineId; });
    if (summary != routineSummaries_.end()) {
        schedule.label = summary->label;
    }
    std::vector<ScheduledRoutine> schedules = schedules_;
    schedules.push_back(std::move(schedule));
    publishSchedules(std::move(schedules));

    recordUserInteraction();
    baselineSnapshot_ = currentSnapshot();
    persist(AtomicCommandChannel::schedule, id,
        { "create routineId=" + std::to_string(routineId) + " type=recurring hour=8 minute=0 days=127 enabled=1" },
        false, std::nullopt);
    return id;
}

void TavrikBleCentral::setScheduleHour(std::uint32_t id, std::int64_t hour)
{
    takeInArrivedData();
    const auto stored = std::find_if(
        schedules_.begin(), schedules_.end(), [&](const ScheduledRoutine& schedule) { return schedule.id == id; });
    if (stored == schedules_.end()) {
        return;
    }
    // One-time schedules clamp too: an hour of 25 must not roll the date over to the next day.
    const std::int64_t clamped = std::clamp<std::int64_t>(hour, 0, 23);
    if (stored->isOneTime()) {
        setScheduleStartsAt(id, scheduleDate(*stored, clamped, stored->minute, clock));
        return;
    }
    updateSchedule(id, "hour", std::to_string(clamped), [&](ScheduledRoutine& schedule) { schedule.hour = clamped; });
}

void TavrikBleCentral::setScheduleMinute(std::uint32_t id, std::int64_t minute)
{
    takeInArrivedData();
    const auto stored = std::find_if(
        schedules_.begin(), schedules_.end(), [&](const ScheduledRoutine& schedule) { return schedule.id == id; });
    if (stored == schedules_.end()) {
        return;
    }
    const std::int64_t clamped = std::clamp<std::int64_t>(minute, 0, 59);
    if (stored->isOneTime()) {
        setScheduleStartsAt(id, scheduleDate(*stored, stored->hour, clamped, clock));
        return;
    }
    updateSchedule(id, "minute", std::to_string(clamped), [&](ScheduledRoutine& schedule) { schedule.minute = clamped; });
}

void TavrikBleCentral::setScheduleDays(std::uint32_t id, const std::set<int>& selectedDays)
{
    takeInArrivedData();
    const std::int64_t mask = daysMask(selectedDays);
    updateSchedule(id, "days", std::to_string(mask), [&](ScheduledRoutine& schedule) {
        schedule.days = mask;
        schedule.type = "recurring";
        clearOneTimeFields(schedule);
    });
}

void TavrikBleCentral::setScheduleEnabled(std::uint32_t id, bool enabled)
{
    takeInArrivedData();
    updateSchedule(id, "enabled", enabled ? "1" : "0", [&](ScheduledRoutine& schedule) { schedule.enabled = enabled; });
}

void TavrikBleCentral::setScheduleKind(std::uint32_t id, ScheduleKind kind)
{
    takeInArrivedData();
    if (kind == ScheduleKind::recurring) {
        updateSchedule(id, "type", "recurring", [](ScheduledRoutine& schedule) {
            schedule.type = "recurring";
            // 128 marks a one-time schedule by itself, so it cannot stay either.
            if (schedule.days == 0 || schedule.days == 128) {
                schedule.days = 127;
            }
            clearOneTimeFields(schedule);
        });
        return;
    }
    const auto stored = std::find_if(
        schedules_.begin(), schedules_.end(), [&](const ScheduledRoutine& schedule) { return schedule.id == id; });
    if (stored == schedules_.end()) {
        return;
    }
    const Moment date = stored->oneTimeDate(clock);
    const ScheduleDateParts parts = scheduleDateParts(date, clock);
    const std::optional<std::int64_t> runAt = scheduleRunAtMinute(date, stored->hour, stored->minute, clock);
    if (!fitsRunAt(runAt)) {
        setScheduleError(std::string(invalidOneTimeDate));
        return;
    }
    updateSchedule(id, "type", "single", [&](ScheduledRoutine& schedule) {
        schedule.type = "single";
        schedule.days = 0;
        schedule.year = parts.year;
        schedule.month = parts.month;
        schedule.day = parts.day;
        schedule.runAt = narrowedRunAt(runAt);
        schedule.lastRun.reset();
    });
}

void TavrikBleCentral::setScheduleStartsAt(std::uint32_t id, Moment date)
{
    takeInArrivedData();
    const auto stored = std::find_if(
        schedules_.begin(), schedules_.end(), [&](const ScheduledRoutine& schedule) { return schedule.id == id; });
    if (stored == schedules_.end()) {
        return;
    }
    const ScheduleDateParts parts = scheduleDateParts(date, clock);
    const std::optional<std::int64_t> runAt = scheduleRunAtMinute(date, parts.hour, parts.minute, clock);
    if (!fitsRunAt(runAt)) {
        setScheduleError(std::string(invalidOneTimeDate));
        return;
    }
    updateSchedule(id, "startsAt", startsAtArgument(date, clock), [&](ScheduledRoutine& schedule) {
        schedule.hour = parts.hour;
        schedule.minute = parts.minute;
        schedule.days = 0;
        schedule.type = "single";
        schedule.year = parts.year;
        schedule.month = parts.month;
        schedule.day = parts.day;
        schedule.runAt = narrowedRunAt(runAt);
        schedule.lastRun.reset();
    });
}

void TavrikBleCentral::deleteSchedule(std::uint32_t id)
{
    takeInArrivedData();
    std::vector<ScheduledRoutine> schedules = schedules_;
    std::erase_if(schedules, [&](const ScheduledRoutine& schedule) { return schedule.id == id; });
    publishSchedules(std::move(schedules));
    recordUserInteraction();
    baselineSnapshot_ = currentSnapshot();
    // Sent even for an id the list no longer holds: the device may still have it.
    persist(AtomicCommandChannel::schedule, id, { "delete id=" + std::to_string(id) }, false, std::nullopt);
}

std::vector<ScheduledRoutine> TavrikBleCentral::schedulesResolvedForPersistence() const
{
    return schedulesResolvedForBackup(schedules_, routineSummaries_);
}

void TavrikBleCentral::update(
    AtomicCommandChannel channel, std::uint32_t id, std::string_view attribute, std::string_view value)
{
    const std::string name(attribute);
    persist(channel, id, { "update id=" + std::to_string(id) + " " + name + "=" + std::string(value) }, true, name);
}

void TavrikBleCentral::updateSchedule(std::uint32_t id, std::string_view attribute, std::string_view value,
    const std::function<void(ScheduledRoutine&)>& mutate)
{
    const auto stored = std::find_if(
        schedules_.begin(), schedules_.end(), [&](const ScheduledRoutine& schedule) { return schedule.id == id; });
    if (stored == schedules_.end()) {
        return;
    }
    ScheduledRoutine edited = *stored;
    mutate(edited);
    if (edited.syncSignature() == stored->syncSignature()) {
        return;
    }
    std::vector<ScheduledRoutine> schedules = schedules_;
    schedules[static_cast<std::size_t>(stored - schedules_.begin())] = std::move(edited);
    publishSchedules(std::move(schedules));
    recordUserInteraction();
    baselineSnapshot_ = currentSnapshot();
    update(AtomicCommandChannel::schedule, id, attribute, value);
}

void TavrikBleCentral::publishSchedules(std::vector<ScheduledRoutine> schedules)
{
    sortIntoScheduleOrder(schedules, clock);
    publish(schedules_, std::move(schedules), &TavrikBleCentral::schedulesChanged);
}

} // namespace tavrik
