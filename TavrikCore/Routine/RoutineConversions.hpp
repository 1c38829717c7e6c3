#pragma once

#include "TavrikCore/Model/RoutineModels.hpp"
#include "TavrikCore/Model/RoutinePayloads.hpp"
#include "TavrikCore/Model/ScheduleModels.hpp"
#include "TavrikCore/Routine/RoutineDraft.hpp"
#include "TavrikCore/Support/Clock.hpp"
#include "TavrikCore/Support/RandomSource.hpp"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tavrik {

// Steps as a device message sends them, made safe to edit: a step id that is 0 or repeats gets the
// lowest free id counting up from one past the largest taken so far, a negative position becomes the
// step's list index, and tag texts lose surrounding blanks. Each gets a fresh list id from `random`.
std::vector<RoutineStepModel> receivedRoutineStepModels(
    const std::vector<RoutineStepPayload>& steps, RandomSource& random);

// A whole routine of sync data as a complete detail, its steps made safe as above.
RoutineDetailModel receivedRoutineDetail(const RoutinePayload& routine, RandomSource& random);

// The form in which an edited routine is stored and sent. The draft is normalised first; groups,
// then steps, keep their node id unless it is 0 or already taken (groups and steps share one id
// space), and steps follow their group to its kept or new id. Group labels and tag texts are
// trimmed, the routine's label is kept as given, and start tags are sorted.
RoutineDetailModel savedRoutineDetail(
    std::uint32_t id, const std::string& label, const RoutineDraft& draft, RandomSource& random);

// The routines as JSON payloads, one per summary in list order. A routine whose detail is not loaded
// is written with its summary's label and empty lists; a rotation group always carries 0 seconds.
std::vector<RoutinePayload> routinePayloads(
    const std::vector<RoutineSummary>& summaries, const std::map<std::uint32_t, RoutineDetailModel>& details);

// The routine list for pickers: by label in the clock's locale without regard to case, routines with
// equal labels in list order.
std::vector<ScheduleDefinition> sortedRoutineDefinitions(
    const std::vector<RoutineSummary>& summaries, const Clock& clock);

} // namespace tavrik
