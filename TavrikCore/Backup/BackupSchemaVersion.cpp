#include "TavrikCore/Backup/BackupSchemaVersion.hpp"

namespace tavrik {

std::optional<BackupSchemaVersion> backupSchemaVersionFromRawValue(std::int64_t rawValue)
{
    if (rawValue == 0 || (rawValue >= 2 && rawValue <= 9)) {
        return static_cast<BackupSchemaVersion>(rawValue);
    }
    return std::nullopt;
}

const std::vector<BackupSchemaVersion>& allBackupSchemaVersions()
{
    static const std::vector<BackupSchemaVersion> versions = {
        BackupSchemaVersion::unversioned,
        BackupSchemaVersion::v2,
        BackupSchemaVersion::v3,
        BackupSchemaVersion::v4,
        BackupSchemaVersion::v5,
        BackupSchemaVersion::v6,
        BackupSchemaVersion::v7,
        BackupSchemaVersion::v8,
        BackupSchemaVersion::v9,
    };
    return versions;
}

const std::vector<int>& supportedSourceVersions()
{
    static const std::vector<int> versions = [] {
        std::vector<int> raw;
        for (const BackupSchemaVersion version : allBackupSchemaVersions()) {
            raw.push_back(rawValue(version));
        }
        return raw;
    }();
    return versions;
}

} // namespace tavrik
