#pragma once

#include "TavrikCore/Support/Json.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tavrik {

// How a group of steps runs. The raw value is both the JSON form and the command argument.
enum class RoutineGroupMode {
    timebox,
    rotation,
};

// Picker order.
inline constexpr std::array<RoutineGroupMode, 2> allRoutineGroupModes {
    RoutineGroupMode::timebox,
    RoutineGroupMode::rotation,
};

inline constexpr std::int64_t maximumTimeboxSeconds = 86400;
// What a group read without "timeLimitSeconds" gets: 900 for timebox, 0 for rotation.
std::int64_t defaultTimeLimit(RoutineGroupMode mode);

// "timebox" or "rotation"; also the mode's identity.
std::string_view rawValue(RoutineGroupMode mode);
// Exactly the two raw values, case-sensitive; nothing for any other text.
std::optional<RoutineGroupMode> routineGroupModeFromRawValue(std::string_view text);

// Short title and editor explanation.
std::string_view label(RoutineGroupMode mode);
std::string_view explanation(RoutineGroupMode mode);

// Timebox: 1 to 86400 seconds. Rotation: only 0.
bool validTimeLimit(RoutineGroupMode mode, std::int64_t seconds);
// Rotation always stores 0; a timebox limit is kept as entered (not clamped), so test it with
// validTimeLimit before saving.
std::int64_t canonicalTimeLimit(RoutineGroupMode mode, std::int64_t seconds);

Json toJson(RoutineGroupMode mode);
// Throws JsonDecodeError for anything but one of the two raw value strings.
RoutineGroupMode routineGroupModeFromJson(const Json& value);

} // namespace tavrik
