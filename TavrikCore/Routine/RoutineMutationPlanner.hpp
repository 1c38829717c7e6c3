#pragma once

#include "TavrikCore/Model/Commands.hpp"
#include "TavrikCore/Model/RoutineModels.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tavrik {

// Turns the steps and groups the device holds into those of an edited routine with one short command
// per change, instead of sending the whole routine again. The routine's name and start tags are the
// caller's business.
class RoutineMutationPlanner {
public:
    RoutineMutationPlanner() = delete;

    struct RoutineNodePersistCommand {
        AtomicCommandChannel channel = AtomicCommandChannel::steps; // steps or groups
        std::string key; // "routineId:nodeId"
        std::string command; // without the channel
        bool debounce = false; // always false: plans are sent without the edit debounce
        std::optional<std::string> attribute; // the edited attribute of an update or move; none otherwise

        friend bool operator==(const RoutineNodePersistCommand&, const RoutineNodePersistCommand&) = default;
    };

    // The ordered plan: group creates, step creates, group updates, step updates, root moves, child
    // moves per group, step deletes, group deletes. Every root entry and every grouped step gets a move,
    // changed or not. `old` is absent for a routine being created; only the steps and groups of the two
    // details are read. Where a detail repeats a node id, its first node with that id stands for it.
    static std::vector<RoutineNodePersistCommand> routineNodeMutationCommands(
        std::uint32_t routineId, const std::optional<RoutineDetailModel>& old, const RoutineDetailModel& updated);

    // Whether `old` already holds exactly the steps and groups of `updated`, places included, compared as
    // the plan compares them (texts canonically) and whatever their list order. A save then sends no step
    // or group command at all, rather than the plan's move per node.
    static bool stepsAndGroupsUnchanged(const RoutineDetailModel& old, const RoutineDetailModel& updated);
};

} // namespace tavrik
