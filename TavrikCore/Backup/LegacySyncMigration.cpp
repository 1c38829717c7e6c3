#include "TavrikCore/Backup/LegacySyncMigration.hpp"

#include "TavrikCore/Support/Text.hpp"

#include <limits>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace tavrik {

namespace {

// The device holds at most 24 tags: a recovered tag fits only while the list has 23 or fewer.
constexpr std::size_t recoverableTagListSize = 23;
constexpr std::size_t maximumTagNameBytes = 23;
constexpr std::uint32_t maximumId = std::numeric_limits<std::uint32_t>::max();

struct LegacyRoutinePayload {
    std::uint32_t id = 0;
    std::optional<std::string> key;
    std::string label;
    std::vector<RoutineStepPayload> steps;
    std::vector<RoutineGroupPayload> groups;
};

struct LegacyScheduledRoutinePayload {
    std::uint32_t id = 0;
    std::optional<std::uint32_t> routineId;
    std::optional<std::string> key;
    std::int64_t hour = 0;
    std::int64_t minute = 0;
    std::int64_t days = 0;
    bool enabled = true;
    std::optional<std::string> label;
    std::optional<std::uint32_t> lastRun;
    std::optional<std::string> type;
    std::optional<std::uint32_t> runAt;
    std::optional<std::int64_t> year;
    std::optional<std::int64_t> month;
    std::optional<std::int64_t> day;

    bool isEmptyPlaceholder() const;
};

struct LegacySyncDataEnvelope {
    std::string type;
    std::optional<std::int64_t> dataVersion;
    std::optional<std::string> firmwareVersion;
    std::optional<std::string> hardwareTarget;
    std::optional<SyncSettingsPayload> settings;
    std::optional<StoreSnapshotPayload> storeSnapshot;
    std::optional<WifiCapabilityPayload> wifi;
    std::optional<DeviceClockSnapshot> clock;
    std::vector<LegacyScheduledRoutinePayload> schedules;
    std::vector<TagInfo> tags;
    std::vector<LegacyRoutinePayload> routines;
};

bool isBlank(const std::optional<std::string>& value)
{
    return !value || text::trimmed(*value, text::TrimSet::whitespaces).empty();
}

template <class T>
bool isAbsentOrZero(const std::optional<T>& value)
{
    return !value || *value == 0;
}

bool LegacyScheduledRoutinePayload::isEmptyPlaceholder() const
{
    return id == 0 && isAbsentOrZero(routineId) && isBlank(key) && isBlank(label) && isBlank(type) && hour == 0
        && minute == 0 && days == 0 && !enabled && isAbsentOrZero(lastRun) && isAbsentOrZero(runAt)
        && isAbsentOrZero(year) && isAbsentOrZero(month) && isAbsentOrZero(day);
}

LegacyRoutinePayload legacyRoutineFromJson(const Json& object)
{
    json::requireObject(object, "LegacyRoutinePayload");
    LegacyRoutinePayload routine;
    routine.id = json::requiredUInt32(object, "id");
    routine.key = json::optionalString(object, "key");
    routine.label = json::requiredString(object, "label");
    routine.steps = json::arrayOrEmpty(object, "steps", routineStepPayloadFromJson);
    routine.groups = json::arrayOrEmpty(object, "groups", routineGroupPayloadFromJson);
    return routine;
}

LegacyScheduledRoutinePayload legacyScheduleFromJson(const Json& object)
{
    json::requireObject(object, "LegacyScheduledRoutinePayload");
    LegacyScheduledRoutinePayload schedule;
    schedule.id = json::requiredUInt32(object, "id");
    schedule.routineId = json::optionalUInt32(object, "routineId");
    schedule.key = json::optionalString(object, "key");
    schedule.hour = json::requiredInt(object, "hour");
    schedule.minute = json::requiredInt(object, "minute");
    schedule.days = json::optionalInt(object, "days").value_or(0);
    // Older firmware wrote 0/1, some tools wrote booleans.
    if (const Json* enabled = json::member(object, "enabled")) {
        schedule.enabled
            = json::isInteger(*enabled) ? json::asInt(*enabled, "enabled") != 0 : json::asBool(*enabled, "enabled");
    }
    schedule.label = json::optionalString(object, "label");
    schedule.lastRun = json::optionalUInt32(object, "lastRun");
    schedule.type = json::optionalString(object, "type");
    schedule.runAt = json::optionalUInt32(object, "runAt");
    schedule.year = json::optionalInt(object, "year");
    schedule.month = json::optionalInt(object, "month");
    schedule.day = json::optionalInt(object, "day");
    return schedule;
}

LegacySyncDataEnvelope legacyEnvelopeFromJson(const Json& object)
{
    json::requireObject(object, "LegacySyncDataEnvelope");
    LegacySyncDataEnvelope envelope;
    envelope.type = json::requiredString(object, "type");
    envelope.dataVersion = json::optionalInt(object, "dataVersion");
    envelope.firmwareVersion = json::optionalString(object, "firmwareVersion");
    envelope.hardwareTarget = json::optionalString(object, "hardwareTarget");
    if (const Json* settings = json::member(object, "settings")) {
        envelope.settings = syncSettingsPayloadFromJson(*settings);
    }
    if (const Json* snapshot = json::member(object, "storeSnapshot")) {
        envelope.storeSnapshot = storeSnapshotPayloadFromJson(*snapshot);
    }
    if (const Json* wifi = json::member(object, "wifi")) {
        envelope.wifi = wifiCapabilityPayloadFromJson(*wifi);
    }
    if (const Json* clock = json::member(object, "clock")) {
        envelope.clock = deviceClockSnapshotFromJson(*clock);
    }
    envelope.schedules = json::arrayOrEmpty(object, "schedules", legacyScheduleFromJson);
    envelope.tags = json::arrayOrEmpty(object, "tags", tagInfoFromJson);
    envelope.routines = json::arrayOrEmpty(object, "routines", legacyRoutineFromJson);
    return envelope;
}

// Lookups by text ignore surrounding blanks and line breaks and letter case, and texts that are
// canonically equivalent (a precomposed "é" and "e" with a combining accent) find each other.
std::string referenceKey(std::string_view value)
{
    return text::canonicalForm(text::lowercased(text::trimmed(value, text::TrimSet::whitespacesAndNewlines)));
}

// Hands out the smallest free non-zero id from a counter that stays above every id handed out or
// kept so far.
class IdAllocator {
public:
    explicit IdAllocator(std::unordered_set<std::uint32_t>& used)
        : used(used)
    {
    }

    std::uint32_t next()
    {
        std::uint32_t candidate = counter;
        while (candidate == 0 || used.contains(candidate)) {
            ++candidate; // wraps to 0, which is skipped
        }
        used.insert(candidate);
        advancePast(candidate);
        return candidate;
    }

    void advancePast(std::uint32_t id)
    {
        if (id >= counter) {
            counter = id == maximumId ? 1 : id + 1;
        }
    }

private:
    std::unordered_set<std::uint32_t>& used;
    std::uint32_t counter = 1;
};

// The ids that tags keep (the first tag with each non-zero id) are reserved before any tag is
// renumbered, so a renumbered tag never takes an id that a later tag keeps and that steps may
// still name.
std::vector<TagInfo> normalizeTags(const std::vector<TagInfo>& tags)
{
    std::unordered_set<std::uint32_t> used;
    std::vector<bool> keeps(tags.size(), false);
    for (std::size_t index = 0; index < tags.size(); ++index) {
        keeps[index] = tags[index].id != 0 && used.insert(tags[index].id).second;
    }
    IdAllocator allocator(used);
    std::vector<TagInfo> normalized;
    normalized.reserve(tags.size());
    for (std::size_t index = 0; index < tags.size(); ++index) {
        TagInfo tag = tags[index];
        if (keeps[index]) {
            allocator.advancePast(tag.id);
        } else {
            tag.id = allocator.next();
        }
        normalized.push_back(std::move(tag));
    }
    return normalized;
}

using ReferenceMap = std::unordered_map<std::string, std::uint32_t>;

ReferenceMap makeTagReferenceMap(const std::vector<TagInfo>& source, const std::vector<TagInfo>& normalized)
{
    ReferenceMap references;
    for (std::size_t index = 0; index < source.size(); ++index) {
        const std::uint32_t id = normalized[index].id;
        if (source[index].id != 0) {
            references.emplace(referenceKey(std::to_string(source[index].id)), id);
        }
        references.emplace(referenceKey(std::to_string(id)), id);
        references.emplace(referenceKey(normalized[index].uid), id);
        references.emplace(referenceKey(normalized[index].name), id);
    }
    return references;
}

std::unordered_set<std::uint32_t> validatedRoutineIds(const std::vector<LegacyRoutinePayload>& routines)
{
    std::unordered_set<std::uint32_t> ids;
    for (const LegacyRoutinePayload& routine : routines) {
        if (routine.id == 0 || !ids.insert(routine.id).second) {
            throw LegacyKeyedBackupMigrationError::invalid("Legacy routines contain an invalid or repeated id");
        }
    }
    return ids;
}

ReferenceMap makeRoutineKeyMap(const std::vector<LegacyRoutinePayload>& routines)
{
    ReferenceMap keys;
    for (const LegacyRoutinePayload& routine : routines) {
        if (routine.key) {
            keys.insert_or_assign(referenceKey(*routine.key), routine.id);
        }
    }
    return keys;
}

// A label shared by two routines cannot tell them apart, so it finds neither.
ReferenceMap makeUniqueRoutineLabelMap(const std::vector<LegacyRoutinePayload>& routines)
{
    ReferenceMap labels;
    std::unordered_set<std::string> repeated;
    for (const LegacyRoutinePayload& routine : routines) {
        std::string key = referenceKey(routine.label);
        if (!labels.emplace(key, routine.id).second) {
            repeated.insert(std::move(key));
        }
    }
    for (const std::string& key : repeated) {
        labels.erase(key);
    }
    return labels;
}

// The longest prefix of whole characters whose UTF-8 length is at most `limit`.
std::string truncatingUTF8(const std::string& value, std::size_t limit)
{
    if (value.size() <= limit) {
        return value;
    }
    std::string fitting;
    for (std::size_t count = 1;; ++count) {
        std::string candidate = text::prefixGraphemes(value, count);
        if (candidate.size() > limit || candidate.size() == fitting.size()) {
            return fitting;
        }
        fitting = std::move(candidate);
    }
}

std::string uniqueTagName(const std::string& base, const std::unordered_set<std::string>& excluded)
{
    std::string candidate = truncatingUTF8(base, maximumTagNameBytes);
    for (std::uint64_t number = 2; excluded.contains(referenceKey(candidate)); ++number) {
        std::string suffix(1, ' ');
        suffix += std::to_string(number);
        candidate = truncatingUTF8(base, maximumTagNameBytes - suffix.size()) + suffix;
    }
    return candidate;
}

TagInfo makeRecoveredTag(const std::string& reference, const std::vector<TagInfo>& existing)
{
    if (existing.size() > recoverableTagListSize) {
        throw LegacyKeyedBackupMigrationError::invalid(
            "Legacy data has missing tag references but the tag list is full");
    }
    std::unordered_set<std::uint32_t> usedIds;
    std::unordered_set<std::string> usedNames;
    std::unordered_set<std::string> usedUids;
    for (const TagInfo& tag : existing) {
        usedIds.insert(tag.id);
        usedNames.insert(referenceKey(tag.name));
        usedUids.insert(referenceKey(tag.uid));
    }

    TagInfo tag;
    tag.id = 1;
    while (usedIds.contains(tag.id)) {
        if (tag.id == maximumId) {
            throw LegacyKeyedBackupMigrationError::invalid("Could not allocate a recovered tag id");
        }
        ++tag.id;
    }

    const std::string trimmedReference = text::trimmed(reference, text::TrimSet::whitespaces);
    tag.name
        = uniqueTagName(trimmedReference.empty() ? "Unlinked legacy tag" : "Unlinked: " + trimmedReference, usedNames);

    const std::string uidBase = "LEGACY-UNLINKED-" + std::to_string(tag.id);
    tag.uid = uidBase;
    for (std::uint64_t number = 2; usedUids.contains(referenceKey(tag.uid)); ++number) {
        tag.uid = uidBase + "-" + std::to_string(number);
    }
    return tag;
}

std::string missingTagWarning(const std::string& routineLabel, std::size_t stepNumber, const std::string& reference,
    const std::string& recoveredName)
{
    return "Routine " + routineLabel + " step " + std::to_string(stepNumber) + " used missing tag '"
        + (reference.empty() ? std::string("(empty)") : reference) + "'. It was preserved as '" + recoveredName
        + "'; reassign it after the upgrade.";
}

class StepConverter {
public:
    StepConverter(const ReferenceMap& tagReferences, std::vector<TagInfo>& tags, std::vector<std::string>& warnings)
        : tagReferences(tagReferences)
        , tags(tags)
        , warnings(warnings)
    {
    }

    RoutinePayload convert(const LegacyRoutinePayload& routine)
    {
        RoutinePayload result;
        result.id = routine.id;
        result.label = routine.label;
        result.groups = routine.groups;

        std::unordered_set<std::uint32_t> usedNodeIds;
        for (const RoutineGroupPayload& group : routine.groups) {
            if (group.id != 0) {
                usedNodeIds.insert(group.id);
            }
        }
        IdAllocator nodeIds(usedNodeIds);

        result.steps.reserve(routine.steps.size());
        for (std::size_t index = 0; index < routine.steps.size(); ++index) {
            RoutineStepPayload step = routine.steps[index];
            if (step.id != 0 && usedNodeIds.insert(step.id).second) {
                nodeIds.advancePast(step.id);
            } else {
                step.id = nodeIds.next();
            }
            step.tagId = resolveTag(routine.label, index + 1, step.tagId);
            result.steps.push_back(std::move(step));
        }
        return result;
    }

private:
    std::string resolveTag(const std::string& routineLabel, std::size_t stepNumber, const std::string& reference)
    {
        std::string key = referenceKey(reference);
        if (const auto found = tagReferences.find(key); found != tagReferences.end()) {
            return std::to_string(found->second);
        }
        std::size_t recoveredIndex = 0;
        if (const auto found = recoveredByKey.find(key); found != recoveredByKey.end()) {
            recoveredIndex = found->second;
        } else {
            tags.push_back(makeRecoveredTag(reference, tags));
            recoveredIndex = tags.size() - 1;
            recoveredByKey.emplace(std::move(key), recoveredIndex);
        }
        // Every step that lands on a placeholder is reported, not only the one that created it.
        const TagInfo& recovered = tags[recoveredIndex];
        warnings.push_back(missingTagWarning(routineLabel, stepNumber, reference, recovered.name));
        return std::to_string(recovered.id);
    }

    const ReferenceMap& tagReferences;
    std::vector<TagInfo>& tags;
    std::vector<std::string>& warnings;
    std::unordered_map<std::string, std::size_t> recoveredByKey;
};

ScheduledRoutine convertSchedule(const LegacyScheduledRoutinePayload& schedule, std::uint32_t routineId)
{
    ScheduledRoutine result;
    result.id = schedule.id;
    result.routineId = routineId;
    result.hour = schedule.hour;
    result.minute = schedule.minute;
    result.days = schedule.days;
    result.enabled = schedule.enabled;
    result.label = schedule.label;
    result.lastRun = schedule.lastRun;
    result.type = schedule.type;
    result.runAt = schedule.runAt;
    result.year = schedule.year;
    result.month = schedule.month;
    result.day = schedule.day;
    return result;
}

} // namespace

LegacyKeyedBackupMigrationResult LegacyKeyedBackupMigration::migrate(const Data& bytes)
{
    return migrateDocument(parseJson(bytes));
}

LegacyKeyedBackupMigrationResult LegacyKeyedBackupMigration::migrateDocument(const Json& document)
{
    const LegacySyncDataEnvelope legacy = legacyEnvelopeFromJson(document);
    if (legacy.type != "sync_data") {
        throw LegacyKeyedBackupMigrationError::invalid("Legacy backup is not Tavrik sync data");
    }

    std::vector<TagInfo> tags = normalizeTags(legacy.tags);
    const ReferenceMap tagReferences = makeTagReferenceMap(legacy.tags, tags);
    const std::unordered_set<std::uint32_t> routineIds = validatedRoutineIds(legacy.routines);
    const ReferenceMap routineKeys = makeRoutineKeyMap(legacy.routines);
    const ReferenceMap routineLabels = makeUniqueRoutineLabelMap(legacy.routines);

    LegacyKeyedBackupMigrationResult result;
    SyncDataEnvelope& envelope = result.envelope;

    StepConverter steps(tagReferences, tags, result.warnings);
    envelope.routines.reserve(legacy.routines.size());
    for (const LegacyRoutinePayload& routine : legacy.routines) {
        envelope.routines.push_back(steps.convert(routine));
    }

    for (const LegacyScheduledRoutinePayload& schedule : legacy.schedules) {
        if (schedule.isEmptyPlaceholder()) {
            continue;
        }
        std::optional<std::uint32_t> routineId;
        if (schedule.routineId && routineIds.contains(*schedule.routineId)) {
            routineId = schedule.routineId;
        } else {
            if (schedule.key) {
                if (const auto found = routineKeys.find(referenceKey(*schedule.key)); found != routineKeys.end()) {
                    routineId = found->second;
                }
            }
            if (!routineId && schedule.label) {
                if (const auto found = routineLabels.find(referenceKey(*schedule.label)); found != routineLabels.end()) {
                    routineId = found->second;
                }
            }
        }
        if (!routineId) {
            result.warnings.push_back("Schedule " + std::to_string(schedule.id)
                + " referenced a missing routine and was omitted from the migration backup.");
            continue;
        }
        envelope.schedules.push_back(convertSchedule(schedule, *routineId));
    }

    envelope.type = legacy.type;
    envelope.dataVersion = legacy.dataVersion;
    envelope.firmwareVersion = legacy.firmwareVersion;
    envelope.hardwareTarget = legacy.hardwareTarget;
    envelope.settings = legacy.settings;
    envelope.storeSnapshot = legacy.storeSnapshot;
    envelope.wifi = legacy.wifi;
    envelope.clock = legacy.clock;
    envelope.tags = std::move(tags);
    return result;
}

} // namespace tavrik
