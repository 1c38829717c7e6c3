#pragma once

#include "TavrikCore/Backup/BackupSchemaVersion.hpp"
#include "TavrikCore/Model/SyncPayloads.hpp"

#include <string>
#include <vector>

namespace tavrik {

// A document brought to the current schema, decoded and checked.
struct BackupMigrationResult {
    SyncDataEnvelope envelope;
    // What the document declared, before any step.
    BackupSchemaVersion sourceVersion = BackupSchemaVersion::unversioned;
    // Step labels in the order applied; empty for a current document.
    std::vector<std::string> appliedSteps;
    // Only the legacy keyed migration raises warnings.
    std::vector<std::string> warnings;

    friend bool operator==(const BackupMigrationResult&, const BackupMigrationResult&) = default;
};

} // namespace tavrik
