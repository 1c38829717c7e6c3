#include "TavrikCore/Backup/BackupMigrationError.hpp"

#include <utility>

namespace tavrik {

BackupMigrationError::BackupMigrationError(
    Kind kind, std::string message, std::int64_t version, const std::string& description)
    : std::runtime_error(description)
    , kind_(kind)
    , message_(std::move(message))
    , version_(version)
{
}

BackupMigrationError BackupMigrationError::invalid(std::string message)
{
    const std::string description = message;
    return BackupMigrationError(Kind::invalid, std::move(message), 0, description);
}

BackupMigrationError BackupMigrationError::unsupportedVersion(std::int64_t version)
{
    return BackupMigrationError(Kind::unsupportedVersion, {}, version,
        "Tavrik backup schema v" + std::to_string(version) + " was never supported");
}

BackupMigrationError BackupMigrationError::newerVersion(std::int64_t version)
{
    return BackupMigrationError(Kind::newerVersion, {}, version,
        "Tavrik backup schema v" + std::to_string(version) + " requires a newer Tavrik Link");
}

} // namespace tavrik
