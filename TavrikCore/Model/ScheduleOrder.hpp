#pragma once

#include "TavrikCore/Model/ScheduleModels.hpp"
#include "TavrikCore/Support/Clock.hpp"

#include <vector>

namespace tavrik {

// The order in which schedules are kept: one-time schedules first, by the moment they run (read in
// the clock's zone), then recurring ones by hour and minute. Schedules that tie keep their order.
void sortIntoScheduleOrder(std::vector<ScheduledRoutine>& schedules, const Clock& clock);

} // namespace tavrik
