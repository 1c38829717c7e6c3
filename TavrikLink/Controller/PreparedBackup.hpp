#pragma once

#include "TavrikCore/Backup/BackupMigrationResult.hpp"
#include "TavrikCore/Model/RoutineModels.hpp"
#include "TavrikCore/Model/RoutinePayloads.hpp"

#include <cstdint>
#include <map>
#include <vector>

namespace tavrik {

// A migrated backup whose routines are already in the controller's own form, ready to install. The
// migrated envelope keeps no routines: each is held once, converted.
struct PreparedBackup {
    BackupMigrationResult migration;
    std::vector<RoutineSummary> summaries;
    std::map<std::uint32_t, RoutineDetailModel> details;

    friend bool operator==(const PreparedBackup&, const PreparedBackup&) = default;
};

} // namespace tavrik
