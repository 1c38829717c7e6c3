#include "TavrikCore/Model/RoutineGroupMode.hpp"

#include <string>

namespace tavrik {

std::int64_t defaultTimeLimit(RoutineGroupMode mode)
{
    return mode == RoutineGroupMode::timebox ? 900 : 0;
}

std::string_view rawValue(RoutineGroupMode mode)
{
    switch (mode) {
    case RoutineGroupMode::timebox:
        return "timebox";
    case RoutineGroupMode::rotation:
        return "rotation";
    }
    return {};
}

std::optional<RoutineGroupMode> routineGroupModeFromRawValue(std::string_view text)
{
    for (const RoutineGroupMode mode : allRoutineGroupModes) {
        if (rawValue(mode) == text) {
            return mode;
        }
    }
    return std::nullopt;
}

std::string_view label(RoutineGroupMode mode)
{
    switch (mode) {
    case RoutineGroupMode::timebox:
        return "Timebox";
    case RoutineGroupMode::rotation:
        return "Rotation";
    }
    return {};
}

std::string_view explanation(RoutineGroupMode mode)
{
    switch (mode) {
    case RoutineGroupMode::timebox:
        return "Tavrik repeats the least-recently-completed steps within the time limit. When time is up, the "
               "current step finishes normally before the routine continues.";
    case RoutineGroupMode::rotation:
        return "Tavrik picks the next step in rotation: the least-recently-completed step. After that step "
               "finishes, the routine continues outside this group.";
    }
    return {};
}

bool validTimeLimit(RoutineGroupMode mode, std::int64_t seconds)
{
    switch (mode) {
    case RoutineGroupMode::timebox:
        return seconds >= 1 && seconds <= maximumTimeboxSeconds;
    case RoutineGroupMode::rotation:
        return seconds == 0;
    }
    return false;
}

std::int64_t canonicalTimeLimit(RoutineGroupMode mode, std::int64_t seconds)
{
    return mode == RoutineGroupMode::rotation ? 0 : seconds;
}

Json toJson(RoutineGroupMode mode)
{
    return std::string(rawValue(mode));
}

RoutineGroupMode routineGroupModeFromJson(const Json& value)
{
    const std::string text = json::asString(value, "mode");
    if (const auto mode = routineGroupModeFromRawValue(text)) {
        return *mode;
    }
    throw JsonDecodeError("Cannot initialize RoutineGroupMode from invalid String value " + text);
}

} // namespace tavrik
