#pragma once

#include "TavrikCore/Model/SyncPayloads.hpp"
#include "TavrikCore/Support/Data.hpp"
#include "TavrikCore/Support/Json.hpp"

#include <stdexcept>
#include <string>
#include <vector>

namespace tavrik {

struct LegacyKeyedBackupMigrationResult {
    SyncDataEnvelope envelope;
    // Step warnings first, then schedule warnings, each in the order raised.
    std::vector<std::string> warnings;

    friend bool operator==(const LegacyKeyedBackupMigrationResult&, const LegacyKeyedBackupMigrationResult&) = default;
};

// Legacy data that cannot be converted; `what()` is the user text.
class LegacyKeyedBackupMigrationError : public std::runtime_error {
public:
    static LegacyKeyedBackupMigrationError invalid(const std::string& message)
    {
        return LegacyKeyedBackupMigrationError(message);
    }

    std::string message() const { return what(); }

    friend bool operator==(const LegacyKeyedBackupMigrationError& left, const LegacyKeyedBackupMigrationError& right)
    {
        return std::string_view(left.what()) == right.what();
    }

private:
    explicit LegacyKeyedBackupMigrationError(const std::string& message)
        : std::runtime_error(message)
    {
    }
};

// Converts schema v2 data, where schedules find their routine by key or label and steps name their
// tag by free text, into numeric references. An unresolved tag becomes a recovered placeholder tag
// and an unresolved schedule is dropped; both are reported as warnings.
class LegacyKeyedBackupMigration {
public:
    LegacyKeyedBackupMigration() = delete;

    // Throws JsonDecodeError for data that does not decode, LegacyKeyedBackupMigrationError otherwise.
    static LegacyKeyedBackupMigrationResult migrate(const Data& bytes);
    // The same on a document already parsed.
    static LegacyKeyedBackupMigrationResult migrateDocument(const Json& document);
};

} // namespace tavrik
