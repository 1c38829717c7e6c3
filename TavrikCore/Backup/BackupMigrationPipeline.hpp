#pragma once

#include "TavrikCore/Backup/BackupMigrationError.hpp"
#include "TavrikCore/Backup/BackupMigrationResult.hpp"
#include "TavrikCore/Model/SyncPayloads.hpp"
#include "TavrikCore/Support/Data.hpp"
#include "TavrikCore/Support/Json.hpp"

#include <string_view>

namespace tavrik {

// Every document of device data, a "sync_data" message or a backup file, is read, migrated to the
// current schema, checked and decoded here. Pure functions; any thread may call them.
class BackupMigrationPipeline {
public:
    BackupMigrationPipeline() = delete;

    // Throws BackupMigrationError, or SyncImportError from the store-snapshot check unchanged.
    static BackupMigrationResult migrate(const Data& bytes);
    static BackupMigrationResult migrate(std::string_view text);
    // The same for a document already parsed (a device message read once): it is migrated in place.
    static BackupMigrationResult migrateParsed(Json document);

    // Checks the envelope, then writes it with sorted keys (indented when `prettyPrinted`).
    // Writes nothing when the check fails; text that is not UTF-8 throws std::runtime_error.
    static Data encodeCurrent(const SyncDataEnvelope& envelope, bool prettyPrinted);

    // The rules every current envelope obeys: identity and references across tags, routines,
    // groups, steps, start tags and schedules. Throws BackupMigrationError::invalid (or
    // SyncImportError for the store snapshot) at the first broken rule.
    static void validateCurrentEnvelope(const SyncDataEnvelope& envelope);
};

} // namespace tavrik
