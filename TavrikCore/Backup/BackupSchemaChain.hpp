#pragma once

#include "TavrikCore/Backup/BackupSchemaVersion.hpp"
#include "TavrikCore/Support/Json.hpp"

#include <string>
#include <vector>

// The schema steps work on the generic JSON tree of a backup document; only BackupMigrationPipeline
// uses them.
namespace tavrik::backup_chain {

// The version "dataVersion" declares; throws BackupMigrationError for a refused or unreadable one.
BackupSchemaVersion schemaVersion(const Json& document);

// Brings `document` in place from `source` to the current schema, appending step labels and warnings.
void migrateToCurrent(Json& document, BackupSchemaVersion source, std::vector<std::string>& appliedSteps,
    std::vector<std::string>& warnings);

// The shape every current document has: routines carry "groups", never "timeboxes", and each group
// a known mode and an integer time limit.
void validateGroupDocument(const Json& document);
// The same for one routine object of a current document.
void validateGroupRoutine(const Json& routine);

} // namespace tavrik::backup_chain
