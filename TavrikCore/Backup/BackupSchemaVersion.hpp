#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace tavrik {

// Schema versions a backup document may declare. There never was a version 1.
enum class BackupSchemaVersion : int {
    unversioned = 0,
    v2 = 2,
    v3 = 3,
    v4 = 4,
    v5 = 5,
    v6 = 6,
    v7 = 7,
    v8 = 8,
    v9 = 9,
};

inline constexpr BackupSchemaVersion currentBackupSchemaVersion = BackupSchemaVersion::v9;

constexpr int rawValue(BackupSchemaVersion version)
{
    return static_cast<int>(version);
}

// Exactly 0 and 2 to 9 name a version.
std::optional<BackupSchemaVersion> backupSchemaVersionFromRawValue(std::int64_t rawValue);

// Every case in declaration order.
const std::vector<BackupSchemaVersion>& allBackupSchemaVersions();

// The raw values of every case in order: 0, 2, 3, ..., 9.
const std::vector<int>& supportedSourceVersions();

} // namespace tavrik
