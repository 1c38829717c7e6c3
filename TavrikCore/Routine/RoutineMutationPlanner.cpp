#include "TavrikCore/Routine/RoutineMutationPlanner.hpp"

#include "TavrikCore/Support/Text.hpp"

#include <algorithm>
#include <concepts>
#include <cstddef>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <utility>

namespace tavrik {

namespace {

using Command = RoutineMutationPlanner::RoutineNodePersistCommand;

template <class Node>
using NodesById = std::unordered_map<std::uint32_t, const Node*>;

NodesById<RoutineStepModel> stepsById(const std::vector<RoutineStepModel>& steps)
{
    NodesById<RoutineStepModel> index;
    index.reserve(steps.size());
    for (const RoutineStepModel& step : steps) {
        index.emplace(step.stepId, &step);
    }
    return index;
}

NodesById<RoutineGroupModel> groupsById(const std::vector<RoutineGroupModel>& groups)
{
    NodesById<RoutineGroupModel> index;
    index.reserve(groups.size());
    for (const RoutineGroupModel& group : groups) {
        index.emplace(group.groupId, &group);
    }
    return index;
}

std::uint32_t nodeIdOf(const RoutineStepModel& step)
{
    return step.stepId;
}

std::uint32_t nodeIdOf(const RoutineGroupModel& group)
{
    return group.groupId;
}

template <class Node>
const Node* lookUp(const NodesById<Node>& index, std::uint32_t id)
{
    const auto found = index.find(id);
    return found == index.end() ? nullptr : found->second;
}

// Appends pieces and decimal numbers to one command text.
class CommandText {
public:
    CommandText& operator<<(std::string_view piece)
    {
        text += piece;
        return *this;
    }
    CommandText& operator<<(const char* piece) { return *this << std::string_view(piece); }
    CommandText& operator<<(const std::string& piece) { return *this << std::string_view(piece); }
    CommandText& operator<<(std::int64_t number)
    {
        text += std::to_string(number);
        return *this;
    }
    CommandText& operator<<(std::uint32_t number)
    {
        text += std::to_string(number);
        return *this;
    }
    std::string take() { return std::move(text); }

private:
    std::string text;
};

std::string nodeKey(std::uint32_t routineId, std::uint32_t nodeId)
{
    return std::to_string(routineId) + ":" + std::to_string(nodeId);
}

Command makeCommand(AtomicCommandChannel channel, std::uint32_t routineId, std::uint32_t nodeId, std::string command,
    std::optional<std::string> attribute = std::nullopt)
{
    return { channel, nodeKey(routineId, nodeId), std::move(command), false, std::move(attribute) };
}

std::string groupCreateCommand(std::uint32_t routineId, const RoutineGroupModel& group)
{
    return (CommandText() << "add routineId=" << routineId << " id=" << group.groupId << " position=" << group.position
                          << " label=" << quotedCommandValue(group.label) << " mode=" << rawValue(group.mode)
                          << " timeLimitSeconds=" << canonicalTimeLimit(group.mode, group.timeLimitSeconds))
        .take();
}

// A step's fields after its id and its place (position, parent) are its content: a create carries
// them all, an update sends each changed one on its own. The place travels in moves.
constexpr std::size_t firstStepContentField = 3;
static_assert(routineStepFieldNames[0] == "id" && routineStepFieldNames[1] == "position"
    && routineStepFieldNames[2] == "parentId");

std::string commandValue(const std::string& value)
{
    return quotedCommandValue(value);
}

std::string commandValue(bool value)
{
    return value ? "1" : "0";
}

std::string commandValue(std::integral auto value)
{
    return std::to_string(value);
}

bool sameText(std::string_view lhs, std::string_view rhs)
{
    return lhs == rhs || text::canonicallyEqual(lhs, rhs);
}

// Texts compare canonically, so a device that stores another normal form is not sent an update.
bool sameValue(const std::string& lhs, const std::string& rhs)
{
    return sameText(lhs, rhs);
}

template <class Value>
bool sameValue(const Value& lhs, const Value& rhs)
{
    return lhs == rhs;
}

// Calls visit(index, name, lhsValue, rhsValue) for each field of two steps, in field order.
template <class Visit>
void forEachStepFieldPair(const RoutineStepModel& lhs, const RoutineStepModel& rhs, Visit&& visit)
{
    const auto lhsFields = lhs.fields();
    const auto rhsFields = rhs.fields();
    [&]<std::size_t... Index>(std::index_sequence<Index...>)
    {
        (visit(Index, routineStepFieldNames[Index], std::get<Index>(lhsFields), std::get<Index>(rhsFields)), ...);
    }
    (std::make_index_sequence<std::tuple_size_v<decltype(lhsFields)>>());
}

std::string stepCreateCommand(std::uint32_t routineId, const RoutineStepModel& step)
{
    CommandText command;
    command << "create routineId=" << routineId << " id=" << step.stepId << " parentId=" << step.parentId
            << " position=" << step.position;
    forEachStepFieldPair(step, step, [&](std::size_t index, std::string_view name, const auto& value, const auto&) {
        if (index >= firstStepContentField) {
            command << " " << name << "=" << commandValue(value);
        }
    });
    return command.take();
}

Command stepUpdateCommand(
    std::uint32_t routineId, std::uint32_t stepId, std::string_view attribute, std::string_view value)
{
    std::string command
        = (CommandText() << "update routineId=" << routineId << " id=" << stepId << " " << attribute << "=" << value).take();
    return makeCommand(AtomicCommandChannel::steps, routineId, stepId, std::move(command), std::string(attribute));
}

// Stable sort by position of pointers into a model list; equal positions keep their given order.
template <class Node>
void sortByPosition(std::vector<const Node*>& nodes)
{
    std::stable_sort(
        nodes.begin(), nodes.end(), [](const Node* lhs, const Node* rhs) { return lhs->position < rhs->position; });
}

// Compared as the plan compares them, plus the place: a node whose position or parent changed is not the same.
bool sameNode(const RoutineStepModel& lhs, const RoutineStepModel& rhs)
{
    bool same = true;
    forEachStepFieldPair(lhs, rhs, [&](std::size_t, std::string_view, const auto& left, const auto& right) {
        same = same && sameValue(left, right);
    });
    return same;
}

bool sameNode(const RoutineGroupModel& lhs, const RoutineGroupModel& rhs)
{
    return lhs.groupId == rhs.groupId && lhs.position == rhs.position && lhs.mode == rhs.mode
        && lhs.timeLimitSeconds == rhs.timeLimitSeconds && sameText(lhs.label, rhs.label);
}

// Whether the device already holds exactly these nodes, whatever their list order. With a repeated id
// the lists must match in order, since the first node with an id would otherwise stand for the others.
template <class Node>
bool sameNodes(const std::vector<Node>& oldNodes, const NodesById<Node>& oldIndex, const std::vector<Node>& newNodes,
    const NodesById<Node>& newIndex)
{
    if (oldNodes.size() != newNodes.size()) {
        return false;
    }
    if (oldIndex.size() != oldNodes.size() || newIndex.size() != newNodes.size()) {
        return std::equal(oldNodes.begin(), oldNodes.end(), newNodes.begin(),
            [](const Node& lhs, const Node& rhs) { return sameNode(lhs, rhs); });
    }
    return std::all_of(newNodes.begin(), newNodes.end(), [&](const Node& node) {
        const auto found = oldIndex.find(nodeIdOf(node));
        return found != oldIndex.end() && sameNode(*found->second, node);
    });
}

} // namespace

bool RoutineMutationPlanner::stepsAndGroupsUnchanged(const RoutineDetailModel& old, const RoutineDetailModel& updated)
{
    return sameNodes(old.steps, stepsById(old.steps), updated.steps, stepsById(updated.steps))
        && sameNodes(old.groups, groupsById(old.groups), updated.groups, groupsById(updated.groups));
}

std::vector<Command> RoutineMutationPlanner::routineNodeMutationCommands(
    std::uint32_t routineId, const std::optional<RoutineDetailModel>& old, const RoutineDetailModel& updated)
{
    static const std::vector<RoutineStepModel> noSteps;
    static const std::vector<RoutineGroupModel> noGroups;
    const std::vector<RoutineStepModel>& oldSteps = old ? old->steps : noSteps;
    const std::vector<RoutineGroupModel>& oldGroups = old ? old->groups : noGroups;
    const std::vector<RoutineStepModel>& newSteps = updated.steps;
    const std::vector<RoutineGroupModel>& newGroups = updated.groups;

    const auto oldStepIndex = stepsById(oldSteps);
    const auto newStepIndex = stepsById(newSteps);
    const auto oldGroupIndex = groupsById(oldGroups);
    const auto newGroupIndex = groupsById(newGroups);

    std::vector<Command> commands;
    commands.reserve(2 * (newSteps.size() + newGroups.size()) + oldSteps.size() + oldGroups.size());

    // Groups are created before any step that may name one as its parent.
    std::vector<const RoutineGroupModel*> groupsByPosition;
    groupsByPosition.reserve(newGroups.size());
    for (const RoutineGroupModel& group : newGroups) {
        groupsByPosition.push_back(&group);
    }
    sortByPosition(groupsByPosition);
    for (const RoutineGroupModel* group : groupsByPosition) {
        if (!oldGroupIndex.contains(group->groupId)) {
            commands.push_back(makeCommand(
                AtomicCommandChannel::groups, routineId, group->groupId, groupCreateCommand(routineId, *group)));
        }
    }

    // Root steps first, then the children of the group with the smallest id, and so on.
    std::vector<const RoutineStepModel*> stepsByParent;
    stepsByParent.reserve(newSteps.size());
    for (const RoutineStepModel& step : newSteps) {
        stepsByParent.push_back(&step);
    }
    std::stable_sort(
        stepsByParent.begin(), stepsByParent.end(), [](const RoutineStepModel* lhs, const RoutineStepModel* rhs) {
            return lhs->parentId != rhs->parentId ? lhs->parentId < rhs->parentId : lhs->position < rhs->position;
        });
    for (const RoutineStepModel* step : stepsByParent) {
        if (!oldStepIndex.contains(step->stepId)) {
            commands.push_back(
                makeCommand(AtomicCommandChannel::steps, routineId, step->stepId, stepCreateCommand(routineId, *step)));
        }
    }

    for (const RoutineGroupModel& group : newGroups) {
        const RoutineGroupModel* previous = lookUp(oldGroupIndex, group.groupId);
        if (previous == nullptr) {
            continue;
        }
        if (!sameText(group.label, previous->label)) {
            commands.push_back(makeCommand(AtomicCommandChannel::groups, routineId, group.groupId,
                (CommandText() << "update routineId=" << routineId << " id=" << group.groupId
                               << " label=" << quotedCommandValue(group.label))
                    .take(),
                "label"));
        }
        // Mode and limit travel together; the stored values decide, the canonical limit is sent.
        if (group.mode != previous->mode || group.timeLimitSeconds != previous->timeLimitSeconds) {
            commands.push_back(makeCommand(AtomicCommandChannel::groups, routineId, group.groupId,
                (CommandText() << "update routineId=" << routineId << " id=" << group.groupId
                               << " mode=" << rawValue(group.mode)
                               << " timeLimitSeconds=" << canonicalTimeLimit(group.mode, group.timeLimitSeconds))
                    .take(),
                "modeAndTimeLimit"));
        }
    }

    // Position and parent changes are carried by the moves below.
    for (const RoutineStepModel& step : newSteps) {
        const RoutineStepModel* previous = lookUp(oldStepIndex, step.stepId);
        if (previous == nullptr) {
            continue;
        }
        forEachStepFieldPair(step, *previous,
            [&](std::size_t index, std::string_view name, const auto& value, const auto& previousValue) {
                if (index >= firstStepContentField && !sameValue(value, previousValue)) {
                    commands.push_back(stepUpdateCommand(routineId, step.stepId, name, commandValue(value)));
                }
            });
    }

    // Every root entry gets its move, by its index in the root order rather than its stored position.
    struct RootNode {
        const RoutineStepModel* step;
        const RoutineGroupModel* group;
        std::int64_t position;
    };
    std::vector<RootNode> root;
    root.reserve(newSteps.size() + newGroups.size());
    for (const RoutineStepModel& step : newSteps) {
        if (step.parentId == 0) {
            root.push_back({ &step, nullptr, step.position });
        }
    }
    for (const RoutineGroupModel& group : newGroups) {
        root.push_back({ nullptr, &group, group.position });
    }
    std::stable_sort(
        root.begin(), root.end(), [](const RootNode& lhs, const RootNode& rhs) { return lhs.position < rhs.position; });
    for (std::size_t index = 0; index < root.size(); ++index) {
        const auto place = static_cast<std::int64_t>(index);
        if (root[index].group != nullptr) {
            const std::uint32_t groupId = root[index].group->groupId;
            commands.push_back(makeCommand(AtomicCommandChannel::groups, routineId, groupId,
                (CommandText() << "move routineId=" << routineId << " id=" << groupId << " position=" << place).take(),
                "position"));
        } else {
            const std::uint32_t stepId = root[index].step->stepId;
            commands.push_back(makeCommand(AtomicCommandChannel::steps, routineId, stepId,
                (CommandText() << "move routineId=" << routineId << " id=" << stepId << " parentId=0 position=" << place)
                    .take(),
                "position"));
        }
    }

    // A step whose parent names no group of the new routine gets no move.
    std::unordered_map<std::uint32_t, std::vector<const RoutineStepModel*>> childrenByParent;
    for (const RoutineStepModel& step : newSteps) {
        if (step.parentId != 0) {
            childrenByParent[step.parentId].push_back(&step);
        }
    }
    for (const RoutineGroupModel& group : newGroups) {
        const auto found = childrenByParent.find(group.groupId);
        if (found == childrenByParent.end()) {
            continue;
        }
        std::vector<const RoutineStepModel*> children = found->second;
        sortByPosition(children);
        for (std::size_t index = 0; index < children.size(); ++index) {
            const std::uint32_t stepId = children[index]->stepId;
            commands.push_back(makeCommand(AtomicCommandChannel::steps, routineId, stepId,
                (CommandText() << "move routineId=" << routineId << " id=" << stepId << " parentId=" << group.groupId
                               << " position=" << static_cast<std::int64_t>(index))
                    .take(),
                "position"));
        }
    }

    for (const RoutineStepModel& step : oldSteps) {
        if (!newStepIndex.contains(step.stepId)) {
            commands.push_back(makeCommand(AtomicCommandChannel::steps, routineId, step.stepId,
                (CommandText() << "delete routineId=" << routineId << " id=" << step.stepId).take()));
        }
    }
    for (const RoutineGroupModel& group : oldGroups) {
        if (!newGroupIndex.contains(group.groupId)) {
            commands.push_back(makeCommand(AtomicCommandChannel::groups, routineId, group.groupId,
                (CommandText() << "delete routineId=" << routineId << " id=" << group.groupId).take()));
        }
    }
    return commands;
}

} // namespace tavrik
