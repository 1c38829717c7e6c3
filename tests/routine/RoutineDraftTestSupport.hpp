#pragma once

#include "TavrikCore/Routine/RoutineDraft.hpp"

#include <algorithm>
#include <string>
#include <vector>

namespace tavrik::test {

inline RoutineStepDraft stepDraft(std::uint32_t stepId, std::int64_t position, std::uint32_t parentId = 0)
{
    RoutineStepDraft step;
    step.stepId = stepId;
    step.position = position;
    step.parentId = parentId;
    step.tagId = "1";
    step.seconds = 30;
    step.instruction = "Step " + std::to_string(stepId);
    return step;
}

inline RoutineGroupDraft groupDraft(std::uint32_t groupId, std::int64_t position)
{
    return RoutineGroupDraft(
        Uuid::make(), groupId, position, "Group " + std::to_string(groupId), RoutineGroupMode::timebox, 900);
}

// The hierarchy as the editor lists it, e.g. "s1 g7[s2 s3] s4".
inline std::string shape(const RoutineDraft& draft)
{
    std::string text;
    for (const RoutineDraftRootNode& node : draft.rootNodes()) {
        if (!text.empty()) {
            text += " ";
        }
        if (node.kind == RoutineDraftRootNode::Kind::step) {
            text += "s" + std::to_string(node.nodeId);
            continue;
        }
        text += "g" + std::to_string(node.nodeId) + "[";
        bool first = true;
        for (const RoutineStepDraft& child : draft.childSteps(node.nodeId)) {
            text += (first ? "s" : " s") + std::to_string(child.stepId);
            first = false;
        }
        text += "]";
    }
    return text;
}

// Empty when the draft is normalised; otherwise what is wrong.
inline std::string normalisationFault(const RoutineDraft& draft)
{
    const auto runsFromZero = [](const std::vector<std::int64_t>& positions) {
        std::vector<std::int64_t> sorted = positions;
        std::sort(sorted.begin(), sorted.end());
        for (std::size_t index = 0; index < sorted.size(); ++index) {
            if (sorted[index] != static_cast<std::int64_t>(index)) {
                return false;
            }
        }
        return true;
    };
    std::vector<std::int64_t> root;
    for (const RoutineStepDraft& step : draft.steps) {
        if (step.parentId == 0) {
            root.push_back(step.position);
            continue;
        }
        const bool parentExists = std::any_of(draft.groups.begin(), draft.groups.end(),
            [&](const RoutineGroupDraft& group) { return group.groupId == step.parentId; });
        if (!parentExists) {
            return "step " + std::to_string(step.stepId) + " names a missing group";
        }
    }
    for (const RoutineGroupDraft& group : draft.groups) {
        root.push_back(group.position);
        std::vector<std::int64_t> children;
        for (const RoutineStepDraft& step : draft.steps) {
            if (step.parentId == group.groupId) {
                children.push_back(step.position);
            }
        }
        if (!runsFromZero(children)) {
            return "children of group " + std::to_string(group.groupId) + " are not numbered 0...n-1";
        }
    }
    if (!runsFromZero(root)) {
        return "root entries are not numbered 0...n-1";
    }
    return {};
}

} // namespace tavrik::test
