#pragma once

#include "TavrikCore/Model/ScheduleModels.hpp"

#include <cstdint>

namespace tavrik::test {

// A weekly schedule: `days` is the weekday mask, Sunday the lowest bit.
ScheduledRoutine recurringSchedule(std::uint32_t id, std::uint32_t routineId, std::int64_t hour, std::int64_t minute,
    std::int64_t days, bool enabled = true);
// A one-time schedule on 2026-01-05 at 07:45.
ScheduledRoutine oneTimeSchedule(std::uint32_t id, std::uint32_t routineId);

} // namespace tavrik::test
