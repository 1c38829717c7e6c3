#include "TavrikCore/Backup/BackupSchemaChain.hpp"

#include "TavrikCore/Backup/BackupMigrationError.hpp"
#include "TavrikCore/Backup/LegacySyncMigration.hpp"

#include <algorithm>
#include <utility>

namespace tavrik::backup_chain {

namespace {

constexpr std::string_view timeboxesKey = "timeboxes";
constexpr std::string_view groupsKey = "groups";

bool has(const Json& object, std::string_view key)
{
    return object.find(key) != object.end();
}

bool isArrayOfObjects(const Json& value)
{
    return value.is_array()
        && std::all_of(value.begin(), value.end(), [](const Json& element) { return element.is_object(); });
}

// Routine-level parts of a step run only when "routines" is a list of objects; otherwise the
// typed decoding decides about it later.
template <class Visit>
void forEachRoutine(Json& document, Visit&& visit)
{
    const auto routines = document.find("routines");
    if (routines == document.end() || !isArrayOfObjects(*routines)) {
        return;
    }
    for (Json& routine : *routines) {
        visit(routine);
    }
}

template <class Visit>
void forEachRoutine(const Json& document, Visit&& visit)
{
    const auto routines = document.find("routines");
    if (routines == document.end() || !isArrayOfObjects(*routines)) {
        return;
    }
    for (const Json& routine : *routines) {
        visit(routine);
    }
}

void migrateLegacyKeyedData(Json& document, std::vector<std::string>& warnings)
{
    LegacyKeyedBackupMigrationResult legacy;
    try {
        legacy = LegacyKeyedBackupMigration::migrateDocument(document);
    } catch (const LegacyKeyedBackupMigrationError& error) {
        throw BackupMigrationError::invalid(std::string("Backup could not be decoded as schema v2: ") + error.what());
    } catch (const JsonDecodeError& error) {
        throw BackupMigrationError::invalid(std::string("Backup could not be decoded as schema v2: ") + error.what());
    }

    document = toJson(legacy.envelope);
    // Back into the shape of a v3 document, whose routines call their groups "timeboxes", so the
    // later steps treat it like any other v3 document.
    forEachRoutine(document, [](Json& routine) {
        const auto groups = routine.find(groupsKey);
        if (groups != routine.end()) {
            Json value = std::move(*groups);
            routine.erase(groupsKey);
            routine[std::string(timeboxesKey)] = std::move(value);
        } else {
            routine.erase(timeboxesKey);
        }
    });
    warnings.insert(warnings.end(), legacy.warnings.begin(), legacy.warnings.end());
}

// Data from before hardware targets were recorded came from the first board.
void addHardwareTargetDefault(Json& document)
{
    const auto target = document.find("hardwareTarget");
    if (target == document.end() || target->is_null()) {
        document["hardwareTarget"] = "m5stick-c";
    }
}

void addTimeboxDefaults(Json& document)
{
    forEachRoutine(document, [](Json& routine) {
        if (!has(routine, timeboxesKey)) {
            routine[std::string(timeboxesKey)] = Json::array();
        }
        const auto steps = routine.find("steps");
        if (steps != routine.end() && isArrayOfObjects(*steps)) {
            for (Json& step : *steps) {
                if (!has(step, "parentId")) {
                    step["parentId"] = 0;
                }
            }
        }
    });
}

void rejectUnsupportedV6Names(Json& document)
{
    forEachRoutine(document, [](const Json& routine) {
        if (has(routine, "subroutines")) {
            throw BackupMigrationError::invalid(
                "Backup schema v6 uses the unsupported 'subroutines' field; expected 'timeboxes'");
        }
    });
}

void addRoutineStartTagDefaults(Json& document)
{
    forEachRoutine(document, [](Json& routine) {
        if (!has(routine, "startTagIds")) {
            routine["startTagIds"] = Json::array();
        }
    });
}

void migrateGroups(Json& document)
{
    forEachRoutine(document, [](Json& routine) {
        if (has(routine, groupsKey)) {
            throw BackupMigrationError::invalid("Backup schema v8 requires timeboxes; groups require schema v9");
        }
        Json groups = Json::array();
        const auto timeboxes = routine.find(timeboxesKey);
        if (timeboxes != routine.end()) {
            if (!isArrayOfObjects(*timeboxes)) {
                throw BackupMigrationError::invalid("Legacy timeboxes must be an array of objects");
            }
            groups = std::move(*timeboxes);
            routine.erase(timeboxesKey);
        }
        // Before v9 every group was a timebox, whatever a stray "mode" said.
        for (Json& group : groups) {
            group["mode"] = "timebox";
        }
        routine[std::string(groupsKey)] = std::move(groups);
    });
}

struct SchemaStep {
    BackupSchemaVersion target;
    const char* label;
    void (*apply)(Json& document, std::vector<std::string>& warnings);
};

// Each step leaves the version before it in the list; the first leaves `unversioned`.
const SchemaStep schemaSteps[] = {
    { BackupSchemaVersion::v2, "unversioned \u2192 v2", [](Json&, std::vector<std::string>&) {} },
    { BackupSchemaVersion::v3, "v2 \u2192 v3: numeric routine and tag references", migrateLegacyKeyedData },
    { BackupSchemaVersion::v4, "v3 \u2192 v4: hardware and Wi-Fi capability metadata",
        [](Json& document, std::vector<std::string>&) { addHardwareTargetDefault(document); } },
    { BackupSchemaVersion::v5, "v4 \u2192 v5: kill-switch settings capability", [](Json&, std::vector<std::string>&) {} },
    { BackupSchemaVersion::v6, "v5 \u2192 v6: routine hierarchy",
        [](Json& document, std::vector<std::string>&) { addTimeboxDefaults(document); } },
    { BackupSchemaVersion::v7, "v6 \u2192 v7: device-store snapshots",
        [](Json& document, std::vector<std::string>&) { rejectUnsupportedV6Names(document); } },
    { BackupSchemaVersion::v8, "v7 \u2192 v8: routine start tags",
        [](Json& document, std::vector<std::string>&) { addRoutineStartTagDefaults(document); } },
    { BackupSchemaVersion::v9, "v8 \u2192 v9: groups with timebox mode",
        [](Json& document, std::vector<std::string>&) { migrateGroups(document); } },
};

} // namespace

BackupSchemaVersion schemaVersion(const Json& document)
{
    const auto found = document.find("dataVersion");
    if (found == document.end() || found->is_null()) {
        return BackupSchemaVersion::unversioned;
    }
    // Only a number that is a whole 64-bit integer is a version; 1e300, 9.5, "9" and true are not.
    if (!json::isInteger(*found)) {
        throw BackupMigrationError::invalid("Backup dataVersion must be an integer");
    }
    const std::int64_t number = json::asInt(*found);
    if (const auto version = backupSchemaVersionFromRawValue(number)) {
        return *version;
    }
    if (number < 10) {
        throw BackupMigrationError::unsupportedVersion(number);
    }
    throw BackupMigrationError::newerVersion(number);
}

void migrateToCurrent(Json& document, BackupSchemaVersion source, std::vector<std::string>& appliedSteps,
    std::vector<std::string>& warnings)
{
    for (const SchemaStep& step : schemaSteps) {
        if (rawValue(step.target) <= rawValue(source)) {
            continue;
        }
        step.apply(document, warnings);
        document["dataVersion"] = rawValue(step.target);
        appliedSteps.emplace_back(step.label);
    }
}

void validateGroupRoutine(const Json& routine)
{
    if (has(routine, timeboxesKey)) {
        throw BackupMigrationError::invalid("Backup schema v9 requires groups, not timeboxes");
    }
    const auto groups = routine.find(groupsKey);
    if (groups == routine.end() || !isArrayOfObjects(*groups)) {
        throw BackupMigrationError::invalid("Backup schema v9 requires a groups array of objects");
    }
    for (const Json& group : *groups) {
        const auto mode = group.find("mode");
        if (mode == group.end() || !mode->is_string()
            || (mode->get_ref<const std::string&>() != "timebox" && mode->get_ref<const std::string&>() != "rotation")) {
            throw BackupMigrationError::invalid("Group mode must be timebox or rotation");
        }
        const auto limit = group.find("timeLimitSeconds");
        if (limit == group.end() || !json::isInteger(*limit)) {
            throw BackupMigrationError::invalid("Group timeLimitSeconds must be an integer");
        }
    }
}

void validateGroupDocument(const Json& document)
{
    forEachRoutine(document, [](const Json& routine) { validateGroupRoutine(routine); });
}

} // namespace tavrik::backup_chain
