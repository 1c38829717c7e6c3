#pragma once

#include "TavrikCore/Model/RoutinePayloads.hpp"
#include "TavrikCore/Model/ScheduleModels.hpp"

#include <vector>

namespace tavrik {

// The schedules as a backup or restore writes them: blank placeholders dropped, every other one
// labelled with its routine's current label. Throws SyncImportError for a schedule whose routine is
// not among `routines` or whose id is 0.
std::vector<ScheduledRoutine> schedulesResolvedForBackup(
    const std::vector<ScheduledRoutine>& schedules, const std::vector<RoutineSummary>& routines);

} // namespace tavrik
