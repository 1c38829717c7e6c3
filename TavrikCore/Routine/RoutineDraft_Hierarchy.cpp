#include "TavrikCore/Routine/RoutineDraft.hpp"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace tavrik {

namespace {

using IndexById = std::unordered_map<std::uint32_t, std::size_t>;

// Writes go to the first node in list order with an id; later duplicates are left alone.
IndexById firstStepIndices(const std::vector<RoutineStepDraft>& steps)
{
    IndexById indices;
    indices.reserve(steps.size());
    for (std::size_t index = 0; index < steps.size(); ++index) {
        indices.emplace(steps[index].stepId, index);
    }
    return indices;
}

IndexById firstGroupIndices(const std::vector<RoutineGroupDraft>& groups)
{
    IndexById indices;
    indices.reserve(groups.size());
    for (std::size_t index = 0; index < groups.size(); ++index) {
        indices.emplace(groups[index].groupId, index);
    }
    return indices;
}

// Gives the listed root entries positions 0, 1, 2, ... (a listed step is put at the root); ids that are
// not in the draft are skipped and children are not touched.
void assignRootOrder(std::vector<RoutineStepDraft>& steps, std::vector<RoutineGroupDraft>& groups,
    const std::vector<RoutineDraftRootNode>& nodes)
{
    const IndexById stepIndex = firstStepIndices(steps);
    const IndexById groupIndex = firstGroupIndices(groups);
    for (std::size_t index = 0; index < nodes.size(); ++index) {
        const auto position = static_cast<std::int64_t>(index);
        const RoutineDraftRootNode& node = nodes[index];
        if (node.kind == RoutineDraftRootNode::Kind::group) {
            if (const auto found = groupIndex.find(node.nodeId); found != groupIndex.end()) {
                groups[found->second].position = position;
            }
        } else if (const auto found = stepIndex.find(node.nodeId); found != stepIndex.end()) {
            steps[found->second].parentId = 0;
            steps[found->second].position = position;
        }
    }
}

template <class T>
void insertClamped(std::vector<T>& list, std::int64_t position, T value)
{
    const auto count = static_cast<std::int64_t>(list.size());
    const std::int64_t index = std::clamp<std::int64_t>(position, 0, count);
    list.insert(list.begin() + static_cast<std::ptrdiff_t>(index), std::move(value));
}

} // namespace

void RoutineDraft::normalizeHierarchy()
{
    std::unordered_set<std::uint32_t> groupIds;
    groupIds.reserve(groups.size());
    for (const RoutineGroupDraft& group : groups) {
        groupIds.insert(group.groupId);
    }
    for (RoutineStepDraft& step : steps) {
        if (step.parentId != 0 && !groupIds.contains(step.parentId)) {
            step.parentId = 0;
        }
    }

    const IndexById stepIndex = firstStepIndices(steps);
    const IndexById groupIndex = firstGroupIndices(groups);

    struct RootIdentity {
        bool isGroup;
        std::uint32_t nodeId;
        std::int64_t position;
        std::size_t order;
    };
    std::vector<RootIdentity> root;
    root.reserve(steps.size() + groups.size());
    for (std::size_t index = 0; index < steps.size(); ++index) {
        if (steps[index].parentId == 0) {
            root.push_back({ false, steps[index].stepId, steps[index].position, index });
        }
    }
    for (std::size_t index = 0; index < groups.size(); ++index) {
        root.push_back({ true, groups[index].groupId, groups[index].position, steps.size() + index });
    }
    // Groups are ordered after every step, so on equal positions a root step comes first.
    std::sort(root.begin(), root.end(), [](const RootIdentity& lhs, const RootIdentity& rhs) {
        return lhs.position != rhs.position ? lhs.position < rhs.position : lhs.order < rhs.order;
    });
    for (std::size_t index = 0; index < root.size(); ++index) {
        const auto position = static_cast<std::int64_t>(index);
        if (root[index].isGroup) {
            groups[groupIndex.at(root[index].nodeId)].position = position;
        } else {
            steps[stepIndex.at(root[index].nodeId)].position = position;
        }
    }

    std::unordered_map<std::uint32_t, std::vector<std::size_t>> childrenByParent;
    for (std::size_t index = 0; index < steps.size(); ++index) {
        if (steps[index].parentId != 0) {
            childrenByParent[steps[index].parentId].push_back(index);
        }
    }
    for (const RoutineGroupDraft& group : groups) {
        const auto found = childrenByParent.find(group.groupId);
        if (found == childrenByParent.end()) {
            continue;
        }
        std::vector<std::pair<std::int64_t, std::size_t>> children;
        children.reserve(found->second.size());
        for (const std::size_t index : found->second) {
            children.emplace_back(steps[index].position, index);
        }
        std::sort(children.begin(), children.end());
        for (std::size_t place = 0; place < children.size(); ++place) {
            steps[stepIndex.at(steps[children[place].second].stepId)].position = static_cast<std::int64_t>(place);
        }
    }
}

RoutineDraft RoutineDraft::normalizedHierarchy() const
{
    RoutineDraft copy = *this;
    copy.normalizeHierarchy();
    return copy;
}

std::vector<RoutineDraftRootNode> RoutineDraft::rootNodes() const
{
    struct Entry {
        RoutineDraftRootNode node;
        std::int64_t position;
        std::string idText;
    };
    std::vector<Entry> entries;
    entries.reserve(steps.size() + groups.size());
    for (const RoutineStepDraft& step : steps) {
        if (step.parentId == 0) {
            const auto node = RoutineDraftRootNode::step(step.stepId);
            entries.push_back({ node, step.position, node.id() });
        }
    }
    for (const RoutineGroupDraft& group : groups) {
        const auto node = RoutineDraftRootNode::group(group.groupId);
        entries.push_back({ node, group.position, node.id() });
    }
    // Ties (only possible before normalising) fall back to the id text, so "group:" sorts before "step:".
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& lhs, const Entry& rhs) {
        return lhs.position != rhs.position ? lhs.position < rhs.position : lhs.idText < rhs.idText;
    });
    std::vector<RoutineDraftRootNode> nodes;
    nodes.reserve(entries.size());
    for (const Entry& entry : entries) {
        nodes.push_back(entry.node);
    }
    return nodes;
}

bool RoutineDraft::hasRootNodes() const
{
    return !groups.empty()
        || std::any_of(steps.begin(), steps.end(), [](const RoutineStepDraft& step) { return step.parentId == 0; });
}

std::vector<RoutineStepDraft> RoutineDraft::childSteps(std::uint32_t groupId) const
{
    std::vector<RoutineStepDraft> children;
    for (const RoutineStepDraft& step : steps) {
        if (step.parentId == groupId) {
            children.push_back(step);
        }
    }
    std::stable_sort(children.begin(), children.end(), [](const RoutineStepDraft& lhs, const RoutineStepDraft& rhs) {
        return lhs.position != rhs.position ? lhs.position < rhs.position : lhs.stepId < rhs.stepId;
    });
    return children;
}

void RoutineDraft::applyRootOrder(const std::vector<RoutineDraftRootNode>& nodes)
{
    assignRootOrder(steps, groups, nodes);
    // Callers outside the draft may list only some entries or take a step out of its group; the draft
    // must still leave here normalised.
    normalizeHierarchy();
}

namespace {

// Draws until the id names no step and no group of the draft.
std::uint32_t unusedNodeId(
    const std::vector<RoutineStepDraft>& steps, const std::vector<RoutineGroupDraft>& groups, RandomSource& random)
{
    std::unordered_set<std::uint32_t> used;
    used.reserve(steps.size() + groups.size());
    for (const RoutineStepDraft& step : steps) {
        used.insert(step.stepId);
    }
    for (const RoutineGroupDraft& group : groups) {
        used.insert(group.groupId);
    }
    std::uint32_t candidate = makeLocalRoutineNodeId(random);
    while (used.contains(candidate)) {
        candidate = makeLocalRoutineNodeId(random);
    }
    return candidate;
}

std::int64_t rootCount(const std::vector<RoutineStepDraft>& steps, const std::vector<RoutineGroupDraft>& groups)
{
    const auto rootSteps
        = std::count_if(steps.begin(), steps.end(), [](const RoutineStepDraft& step) { return step.parentId == 0; });
    return static_cast<std::int64_t>(rootSteps) + static_cast<std::int64_t>(groups.size());
}

} // namespace

RoutineStepDraft RoutineDraft::appendRootStep(RandomSource& random)
{
    normalizeHierarchy();
    const std::uint32_t stepId = unusedNodeId(steps, groups, random);
    // Every member is given, so the row identity is not first drawn from the process-wide source.
    RoutineStepDraft step {
        .id = Uuid::random(random),
        .stepId = stepId,
        .position = rootCount(steps, groups),
        .parentId = 0,
        .tagId = {},
        .seconds = 60,
        .instruction = {},
        .unstoppable = false,
    };
    steps.push_back(step);
    normalizeHierarchy();
    return step;
}

RoutineGroupDraft RoutineDraft::appendGroup(RandomSource& random)
{
    normalizeHierarchy();
    const std::uint32_t groupId = unusedNodeId(steps, groups, random);
    RoutineGroupDraft group(
        Uuid::random(random), groupId, rootCount(steps, groups), "Group", RoutineGroupMode::timebox, 900);
    groups.push_back(group);
    normalizeHierarchy();
    return group;
}

void RoutineDraft::moveStep(std::uint32_t stepId, std::uint32_t toParentId, std::int64_t position)
{
    normalizeHierarchy();
    const IndexById stepIndex = firstStepIndices(steps);
    const auto found = stepIndex.find(stepId);
    if (found == stepIndex.end()) {
        return;
    }
    RoutineStepDraft& step = steps[found->second];

    if (toParentId == 0) {
        std::vector<RoutineDraftRootNode> nodes = rootNodes();
        std::erase(nodes, RoutineDraftRootNode::step(stepId));
        insertClamped(nodes, position, RoutineDraftRootNode::step(stepId));
        step.parentId = 0;
        assignRootOrder(steps, groups, nodes);
    } else {
        const bool groupExists = std::any_of(
            groups.begin(), groups.end(), [&](const RoutineGroupDraft& group) { return group.groupId == toParentId; });
        if (!groupExists) {
            return;
        }
        std::vector<std::uint32_t> siblings;
        for (const RoutineStepDraft& child : childSteps(toParentId)) {
            if (child.stepId != stepId) {
                siblings.push_back(child.stepId);
            }
        }
        insertClamped(siblings, position, stepId);
        step.parentId = toParentId;
        for (std::size_t place = 0; place < siblings.size(); ++place) {
            steps[stepIndex.at(siblings[place])].position = static_cast<std::int64_t>(place);
        }
    }
    // The siblings the step left close up here.
    normalizeHierarchy();
}

void RoutineDraft::moveRootNode(const RoutineDraftRootNode& node, std::int64_t index)
{
    normalizeHierarchy();
    std::vector<RoutineDraftRootNode> nodes = rootNodes();
    if (std::find(nodes.begin(), nodes.end(), node) == nodes.end()) {
        return;
    }
    std::erase(nodes, node);
    insertClamped(nodes, index, node);
    assignRootOrder(steps, groups, nodes);
    normalizeHierarchy();
}

void RoutineDraft::removeGroup(std::uint32_t groupId)
{
    normalizeHierarchy();
    const auto group = std::find_if(
        groups.begin(), groups.end(), [&](const RoutineGroupDraft& candidate) { return candidate.groupId == groupId; });
    if (group == groups.end()) {
        return;
    }
    const std::int64_t groupPosition = group->position;

    std::vector<RoutineDraftRootNode> nodes = rootNodes();
    std::erase(nodes, RoutineDraftRootNode::group(groupId));
    std::vector<RoutineDraftRootNode> children;
    for (const RoutineStepDraft& child : childSteps(groupId)) {
        children.push_back(RoutineDraftRootNode::step(child.stepId));
    }
    const auto at = std::clamp<std::int64_t>(groupPosition, 0, static_cast<std::int64_t>(nodes.size()));
    nodes.insert(nodes.begin() + static_cast<std::ptrdiff_t>(at), children.begin(), children.end());

    std::erase_if(groups, [&](const RoutineGroupDraft& candidate) { return candidate.groupId == groupId; });
    // The group's own steps go to the root, even when an earlier step shares one of their ids.
    for (RoutineStepDraft& step : steps) {
        if (step.parentId == groupId) {
            step.parentId = 0;
        }
    }
    assignRootOrder(steps, groups, nodes);
    normalizeHierarchy();
}

} // namespace tavrik
