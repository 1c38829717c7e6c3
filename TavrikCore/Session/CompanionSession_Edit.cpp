#include "TavrikCore/Session/CompanionSession.hpp"
#include "TavrikCore/Session/SessionRequest.hpp"

#include "TavrikCore/Backup/BackupMigrationPipeline.hpp"
#include "TavrikCore/Model/Commands.hpp"
#include "TavrikCore/Model/LocalIds.hpp"
#include "TavrikCore/Model/SyncImportError.hpp"
#include "TavrikCore/Routine/RoutineDraft.hpp"
#include "TavrikCore/Routine/RoutineMutationPlanner.hpp"
#include "TavrikCore/Support/Text.hpp"

#include <unicode/gregocal.h>
#include <unicode/timezone.h>
#include <unicode/ucal.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <memory>
#include <utility>

namespace tavrik {

namespace {

std::string_view textOf(CompanionSession::Bytes bytes)
{
    return { reinterpret_cast<const char*>(bytes.data()), bytes.size() };
}

Json payloadDocument(CompanionSession::Bytes payload)
{
    return parseJson(textOf(payload));
}

std::string trimmedText(std::string_view value)
{
    return text::trimmed(value, text::TrimSet::whitespacesAndNewlines);
}

// Whether a step's tag text names the tag: plain decimal, an optional "+" and leading zeros allowed.
bool namesTag(std::string_view tagText, std::uint32_t tagId)
{
    if (!tagText.empty() && tagText.front() == '+') {
        tagText.remove_prefix(1);
    }
    if (tagText.empty()) {
        return false;
    }
    std::uint64_t value = 0;
    for (const char character : tagText) {
        if (character < '0' || character > '9') {
            return false;
        }
        value = value * 10 + static_cast<std::uint64_t>(character - '0');
        if (value > std::numeric_limits<std::uint32_t>::max()) {
            return false;
        }
    }
    return value == tagId;
}

std::string joinedIds(const std::vector<std::uint32_t>& ids)
{
    std::string text;
    for (const std::uint32_t id : ids) {
        if (!text.empty()) {
            text += ',';
        }
        text += std::to_string(id);
    }
    return text;
}

} // namespace

void CompanionSession::performEdit(std::string_view action, const Json& request, Bytes payload)
{
    requireDevice();
    if (action == "saveTag") {
        saveTag(payload);
    } else if (action == "deleteTag") {
        deleteTag(request);
    } else if (action == "saveRoutine") {
        saveRoutine(payload);
    } else if (action == "deleteRoutine") {
        deleteRoutine(request);
    } else if (action == "saveSchedule") {
        saveSchedule(payload);
    } else if (action == "deleteSchedule") {
        const std::uint32_t scheduleId = id(request);
        command("schedule", "delete id=" + std::to_string(scheduleId));
    } else if (action == "settings") {
        changeSettings(request);
    } else if (action == "scanTag") {
        scanTag(request);
    } else if (action == "cancelScan") {
        cancelScan();
    } else if (action == "triggerRoutine") {
        triggerRoutine(request);
    } else if (action == "stopRoutine") {
        command("routine", "stop");
    } else if (action == "clock") {
        setDeviceClock(request);
    } else if (action == "wifi") {
        wifiAction(request);
    } else {
        throw SyncImportError("Unsupported edit");
    }
}

std::uint32_t CompanionSession::id(const Json& request) const
{
    const std::optional<std::uint64_t> value = readUInt64(json::member(request, "id"));
    if (!value || *value == 0 || *value > std::numeric_limits<std::uint32_t>::max()) {
        throw SyncImportError("Choose a saved item first");
    }
    return static_cast<std::uint32_t>(*value);
}

std::uint32_t CompanionSession::nextID(const std::vector<std::uint32_t>& ids)
{
    if (const std::optional<std::uint32_t> next = nextUnusedId(ids)) {
        return *next;
    }
    throw SyncImportError("No unused identifiers remain");
}

void CompanionSession::saveTag(Bytes payload)
{
    const TagInfo tag = tagInfoFromJson(payloadDocument(payload));
    const std::vector<TagInfo>& tags = device->tags;
    std::uint32_t tagId = tag.id;
    if (tagId == 0) {
        std::vector<std::uint32_t> ids;
        ids.reserve(tags.size());
        for (const TagInfo& existing : tags) {
            ids.push_back(existing.id);
        }
        tagId = nextID(ids);
    }
    const std::string name = trimmedText(tag.name);
    const std::string uid = tagUidKey(tag.uid);
    if (name.empty() || uid.empty()) {
        throw SyncImportError("Tag name and UID are required");
    }
    bool exists = false;
    for (const TagInfo& other : tags) {
        if (other.id == tagId) {
            exists = true;
        } else if (text::equalIgnoringCase(other.name, name) || tagUidKey(other.uid) == uid) {
            throw SyncImportError("A tag with that name or UID already exists");
        }
    }
    // The device answers with its tag list; the session's copy waits for that.
    command("tag",
        std::string(exists ? "update" : "create") + " id=" + std::to_string(tagId) + " uid=" + quotedCommandValue(uid)
            + " name=" + quotedCommandValue(name));
}

void CompanionSession::deleteTag(const Json& request)
{
    const std::uint32_t tagId = id(request);
    for (const RoutinePayload& routine : device->routines) {
        const bool startsRoutine
            = std::find(routine.startTagIds.begin(), routine.startTagIds.end(), tagId) != routine.startTagIds.end();
        const bool usedByStep = std::any_of(routine.steps.begin(), routine.steps.end(),
            [&](const RoutineStepPayload& step) { return namesTag(step.tagId, tagId); });
        if (startsRoutine || usedByStep) {
            throw SyncImportError("Remove this tag from routine steps and start tags before deleting it");
        }
    }
    command("tag", "delete id=" + std::to_string(tagId));
}

void CompanionSession::saveRoutine(Bytes payload)
{
    RoutinePayload routine = routinePayloadFromJson(payloadDocument(payload));
    const std::vector<RoutinePayload>& routines = device->routines;
    if (routine.id == 0) {
        std::vector<std::uint32_t> ids;
        ids.reserve(routines.size());
        for (const RoutinePayload& existing : routines) {
            ids.push_back(existing.id);
        }
        routine.id = nextID(ids);
    }
    routine.label = trimmedText(routine.label);
    if (routine.label.empty()) {
        throw SyncImportError("Routine title is required");
    }
    for (const RoutinePayload& other : routines) {
        if (other.id != routine.id && text::equalIgnoringCase(other.label, routine.label)) {
            throw SyncImportError("Routine title already exists");
        }
    }
    std::optional<RoutinePayload> old;
    if (const auto found = std::find_if(routines.begin(), routines.end(),
            [&](const RoutinePayload& existing) { return existing.id == routine.id; });
        found != routines.end()) {
        old = *found;
    }

    const std::int64_t schema = capabilities.schemaVersion;
    const bool touchesGroups = !routine.groups.empty() || (old && !old->groups.empty());
    if ((schema < 9 && touchesGroups) || (schema < 8 && !routine.startTagIds.empty())) {
        throw SyncImportError("Update Tavrik firmware before editing groups or start tags");
    }

    const RoutineDetailModel updated = detail(routine);
    const bool durationsFit = std::all_of(routine.steps.begin(), routine.steps.end(),
        [](const RoutineStepPayload& step) { return step.seconds >= 1 && step.seconds <= 65535; });
    if (!durationsFit || !RoutineDraft(updated, random).isValid()) {
        throw SyncImportError(
            "Each step needs a tag and a duration of 1–65535 seconds; groups need a name and valid time limit");
    }

    std::vector<RoutinePayload> updatedRoutines;
    updatedRoutines.reserve(routines.size() + 1);
    for (const RoutinePayload& existing : routines) {
        if (existing.id != routine.id) {
            updatedRoutines.push_back(existing);
        }
    }
    updatedRoutines.push_back(routine);
    // The whole data set must still be valid before the device hears of the change.
    if (const std::optional<SyncDataEnvelope> trial = replaceDevice({ .routines = updatedRoutines })) {
        BackupMigrationPipeline::encodeCurrent(*trial, false);
    }

    std::string line = std::string(old ? "update" : "create") + " id=" + std::to_string(routine.id)
        + " label=" + quotedCommandValue(routine.label);
    if (schema >= 8) {
        line += " startTagIds=" + quotedCommandValue(joinedIds(routine.startTagIds));
    }
    command("routine", line);

    const std::optional<RoutineDetailModel> previous = old ? std::optional(detail(*old)) : std::nullopt;
    // A rename or start-tag change alone would otherwise resend a move for every node.
    if (!previous || !RoutineMutationPlanner::stepsAndGroupsUnchanged(*previous, updated)) {
        for (const auto& planned : RoutineMutationPlanner::routineNodeMutationCommands(routine.id, previous, updated)) {
            command(rawValue(planned.channel), planned.command);
        }
    }

    pendingRoutines[routine.id] = routine;
    device = replaceDevice({ .routines = std::move(updatedRoutines) });
}

void CompanionSession::deleteRoutine(const Json& request)
{
    const std::uint32_t routineId = id(request);
    command("routine", "delete id=" + std::to_string(routineId));
    std::vector<ScheduledRoutine> schedules;
    for (const ScheduledRoutine& schedule : device->schedules) {
        if (schedule.routineId != routineId) {
            schedules.push_back(schedule);
        }
    }
    std::vector<RoutinePayload> routines;
    for (const RoutinePayload& routine : device->routines) {
        if (routine.id != routineId) {
            routines.push_back(routine);
        }
    }
    device = replaceDevice({ .schedules = std::move(schedules), .routines = std::move(routines) });
}

void CompanionSession::saveSchedule(Bytes payload)
{
    const ScheduledRoutine schedule = scheduledRoutineFromJson(payloadDocument(payload));
    const bool routineExists = std::any_of(device->routines.begin(), device->routines.end(),
        [&](const RoutinePayload& routine) { return routine.id == schedule.routineId; });
    const bool oneTime = schedule.type == "single" || schedule.days == 128;
    // A negative mask has no meaning on the device.
    if (!routineExists || schedule.hour < 0 || schedule.hour > 23 || schedule.minute < 0 || schedule.minute > 59
        || schedule.days < 0 || (schedule.days > 127 && !oneTime)) {
        throw SyncImportError("Choose a routine, valid time and weekdays");
    }

    std::string tail;
    if (oneTime) {
        if (!schedule.year || !schedule.month || !schedule.day || *schedule.month < 1 || *schedule.month > 12
            || *schedule.day < 1 || *schedule.day > 31 || *schedule.year < 2020 || *schedule.year > 2099) {
            throw SyncImportError("Choose a valid date for this one-time schedule");
        }
        char date[64];
        std::snprintf(date, sizeof date, " type=single startsAt=%04lld-%02lld-%02lldT%02lld:%02lld",
            static_cast<long long>(*schedule.year), static_cast<long long>(*schedule.month),
            static_cast<long long>(*schedule.day), static_cast<long long>(schedule.hour),
            static_cast<long long>(schedule.minute));
        tail = date;
    } else {
        tail = " type=recurring hour=" + std::to_string(schedule.hour) + " minute=" + std::to_string(schedule.minute)
            + " days=" + std::to_string(schedule.days);
    }
    // A new schedule's id is chosen by the device.
    const std::string head = schedule.id == 0 ? "create " : "update id=" + std::to_string(schedule.id) + " ";
    command("schedule",
        head + "routineId=" + std::to_string(schedule.routineId) + " enabled=" + (schedule.enabled ? "1" : "0") + tail);
}

void CompanionSession::changeSettings(const Json& request)
{
    if (const Json* mute = json::member(request, "mute"); mute && mute->is_boolean()) {
        const bool muted = mute->get<bool>();
        command("settings", muted ? "update muteNonAlarmSounds=1" : "update muteNonAlarmSounds=0");
        std::optional<std::string> killSwitchUid = device->settings ? device->settings->killSwitchUid : std::nullopt;
        device = replaceDevice({ .settings = SyncSettingsPayload(muted, std::move(killSwitchUid)) });
    }
    if (const Json* uid = json::member(request, "killSwitchUid"); uid && uid->is_string()) {
        if (!capabilities.killSwitch) {
            throw SyncImportError("Kill switch is unavailable on this firmware");
        }
        // Sent as given: an empty text clears the kill switch.
        const std::string& killSwitchUid = uid->get_ref<const std::string&>();
        command("settings", "update killSwitchUid=" + quotedCommandValue(killSwitchUid));
        const bool muted = device->settings && device->settings->muteNonAlarmSounds != 0;
        device = replaceDevice({ .settings = SyncSettingsPayload(muted, killSwitchUid) });
    }
}

void CompanionSession::scanTag(const Json& request)
{
    const Json* killSwitch = json::member(request, "killSwitch");
    const bool enrolment = killSwitch && killSwitch->is_boolean() && killSwitch->get<bool>();
    if (enrolment && !(capabilities.killSwitch && !capabilities.simulator)) {
        throw SyncImportError("Kill-switch enrollment is unavailable for this connection");
    }
    scanResult.reset();
    scanPurposeKillSwitch = enrolment;
    scanActive = true;
    lastProgress = uptimeNow();
    command("tag", tavrik::command(enrolment ? TagScanPurpose::killSwitch : TagScanPurpose::generic));
}

void CompanionSession::cancelScan()
{
    scanActive = false;
    scanPurposeKillSwitch = false;
    command("tag", "cancel");
}

void CompanionSession::triggerRoutine(const Json& request)
{
    const std::uint32_t routineId = id(request);
    const bool exists = std::any_of(device->routines.begin(), device->routines.end(),
        [&](const RoutinePayload& routine) { return routine.id == routineId; });
    if (!exists) {
        throw SyncImportError("Routine not found");
    }
    command("routine", "trigger id=" + std::to_string(routineId));
}

void CompanionSession::setDeviceClock(const Json& request)
{
    clockNotice.reset();
    const std::string zoneId = knownZoneOrSystem(session::stringMember(request, "timeZone"));
    std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(zoneId)));
    UErrorCode status = U_ZERO_ERROR;
    icu::GregorianCalendar calendar(zone.release(), status);
    const auto milliseconds = std::chrono::floor<std::chrono::milliseconds>(clock.now().time_since_epoch()).count();
    calendar.setTime(static_cast<UDate>(milliseconds), status);
    const auto field = [&](UCalendarDateFields which) { return std::to_string(calendar.get(which, status)); };
    const std::string year = field(UCAL_YEAR);
    const std::string month = std::to_string(calendar.get(UCAL_MONTH, status) + 1);
    const std::string day = field(UCAL_DATE);
    const std::string hour = field(UCAL_HOUR_OF_DAY);
    const std::string minute = field(UCAL_MINUTE);
    const std::string second = field(UCAL_SECOND);
    if (U_FAILURE(status)) {
        throw SyncImportError("Could not read the current time");
    }
    command("clock",
        "set year=" + year + " month=" + month + " day=" + day + " hour=" + hour + " minute=" + minute
            + " second=" + second);
}

} // namespace tavrik
