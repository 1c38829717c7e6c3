#include "TavrikCore/Model/RoutineModels.hpp"

#include <limits>
#include <unordered_set>
#include <utility>

namespace tavrik {

namespace {

constexpr std::uint32_t largestNodeId = std::numeric_limits<std::uint32_t>::max();

// Node ids run 1...4294967295; 0 means "none", so counting wraps past the top to 1.
std::uint32_t nodeIdAfter(std::uint32_t id)
{
    return id == largestNodeId ? 1 : id + 1;
}

} // namespace

RoutineStepModel::RoutineStepModel(std::uint32_t stepId, std::int64_t position, std::uint32_t parentId,
    std::string tagId, std::int64_t seconds, std::string instruction, bool unstoppable)
    : stepId(stepId)
    , position(position)
    , parentId(parentId)
    , tagId(std::move(tagId))
    , seconds(seconds)
    , instruction(std::move(instruction))
    , unstoppable(unstoppable)
{
}

std::int64_t RoutineStepModel::syncSignature() const
{
    return makeSyncSignature([&](SyncHasher& hasher) { combineRoutineStepFields(hasher, *this); });
}

bool operator==(const RoutineStepModel& lhs, const RoutineStepModel& rhs)
{
    return lhs.fields() == rhs.fields();
}

RoutineGroupModel::RoutineGroupModel(std::uint32_t groupId, std::int64_t position, std::string label,
    RoutineGroupMode mode, std::int64_t timeLimitSeconds)
    : groupId(groupId)
    , position(position)
    , label(std::move(label))
    , mode(mode)
    , timeLimitSeconds(timeLimitSeconds)
{
}

std::int64_t RoutineGroupModel::syncSignature() const
{
    return makeSyncSignature([&](SyncHasher& hasher) {
        combineRoutineGroupFields(hasher, groupId, position, label, mode, timeLimitSeconds);
    });
}

bool operator==(const RoutineGroupModel& lhs, const RoutineGroupModel& rhs)
{
    return lhs.groupId == rhs.groupId && lhs.position == rhs.position && lhs.label == rhs.label && lhs.mode == rhs.mode
        && lhs.timeLimitSeconds == rhs.timeLimitSeconds;
}

void combineRoutineGroupFields(SyncHasher& hasher, std::uint32_t groupId, std::int64_t position, std::string_view label,
    RoutineGroupMode mode, std::int64_t timeLimitSeconds)
{
    hasher.combine(groupId);
    hasher.combine(position);
    hasher.combine(label);
    hasher.combine(rawValue(mode));
    hasher.combine(timeLimitSeconds);
}

void RoutineDetailModel::appendSteps(std::int64_t start, const std::vector<RoutineStepPayload>& payload)
{
    // A page sent again from an earlier index replaces everything from there on.
    const auto keep = static_cast<std::uint64_t>(std::max<std::int64_t>(start, 0));
    if (keep < steps.size()) {
        steps.resize(static_cast<std::size_t>(keep));
    }

    std::unordered_set<std::uint32_t> used;
    std::uint32_t largest = 0;
    for (const RoutineStepModel& step : steps) {
        if (step.stepId != 0) {
            used.insert(step.stepId);
            largest = std::max(largest, step.stepId);
        }
    }
    std::uint32_t nextFree = nodeIdAfter(largest);

    // The device may send 0 or repeat an id; such steps get the next free ids so that every added
    // step is addressable on its own. Steps already held keep theirs.
    steps.reserve(steps.size() + payload.size());
    for (const RoutineStepPayload& entry : payload) {
        std::uint32_t chosen = entry.id;
        if (chosen == 0 || used.contains(chosen)) {
            chosen = nextFree;
            while (chosen == 0 || used.contains(chosen)) {
                chosen = nodeIdAfter(chosen);
                nextFree = chosen;
            }
        }
        used.insert(chosen);
        if (chosen >= nextFree) {
            nextFree = nodeIdAfter(chosen);
        }
        steps.emplace_back(chosen, entry.position, entry.parentId, entry.tagId, entry.seconds, entry.instruction,
            entry.unstoppable != 0);
    }

    refreshCompletionState();
}

void RoutineDetailModel::refreshCompletionState()
{
    if (expectedStepCount == 0 || static_cast<std::int64_t>(steps.size()) >= expectedStepCount) {
        hasReceivedAllSteps = true;
    }
}

void RoutineDetailModel::forceMarkComplete()
{
    hasReceivedAllSteps = true;
    if (expectedStepCount == 0) {
        expectedStepCount = static_cast<std::int64_t>(steps.size());
    }
}

std::int64_t RoutineDetailModel::syncSignature() const
{
    return makeSyncSignature([&](SyncHasher& hasher) {
        hasher.combine(id);
        hasher.combine(label);
        hasher.combine(expectedStepCount);
        hasher.combine(expectedGroupCount);
        std::vector<std::uint32_t> sortedTags = startTagIds;
        std::sort(sortedTags.begin(), sortedTags.end());
        hasher.combine(sortedTags.size());
        for (const std::uint32_t tag : sortedTags) {
            hasher.combine(tag);
        }
        hasher.combine(steps.size());
        hasher.combine(groups.size());
        hasher.combine(hasReceivedAllSteps);
        combineRoutineNodes(hasher, steps, groups);
    });
}

std::int64_t RoutineDetailModel::stepsSyncSignature() const
{
    return makeSyncSignature([&](SyncHasher& hasher) {
        hasher.combine(expectedStepCount);
        hasher.combine(expectedGroupCount);
        hasher.combine(steps.size());
        hasher.combine(groups.size());
        combineRoutineNodes(hasher, steps, groups);
    });
}

std::string RoutineDetailModel::loadingProgressDescription() const
{
    if (expectedStepCount < 1) {
        return "Loading steps\u2026";
    }
    const std::int64_t held = std::min(expectedStepCount, static_cast<std::int64_t>(steps.size()));
    return "Loading steps (" + std::to_string(held) + "/" + std::to_string(expectedStepCount) + ")";
}

std::string ActiveRoutineContext::formattedStepTitle() const
{
    // The index comes from the device; the largest one must not overflow.
    const std::int64_t number = stepIndex == std::numeric_limits<std::int64_t>::max() ? stepIndex : stepIndex + 1;
    if (stepCount && *stepCount >= 1) {
        return "Step " + std::to_string(std::min(number, *stepCount)) + "/" + std::to_string(*stepCount);
    }
    return "Step " + std::to_string(number);
}

std::vector<RoutineStepModel> routineStepModels(const std::vector<RoutineStepPayload>& steps, RandomSource& random)
{
    std::vector<RoutineStepModel> models;
    models.reserve(steps.size());
    for (const RoutineStepPayload& step : steps) {
        RoutineStepModel model(
            step.id, step.position, step.parentId, step.tagId, step.seconds, step.instruction, step.unstoppable != 0);
        model.id = Uuid::random(random);
        models.push_back(std::move(model));
    }
    return models;
}

std::vector<RoutineGroupModel> routineGroupModels(const std::vector<RoutineGroupPayload>& groups, RandomSource& random)
{
    std::vector<RoutineGroupModel> models;
    models.reserve(groups.size());
    for (const RoutineGroupPayload& group : groups) {
        RoutineGroupModel model(group.id, group.position, group.label, group.mode, group.timeLimitSeconds);
        model.id = Uuid::random(random);
        models.push_back(std::move(model));
    }
    return models;
}

RoutineDetailModel routineDetailModel(const RoutinePayload& routine, RandomSource& random)
{
    RoutineDetailModel model;
    model.id = routine.id;
    model.label = routine.label;
    model.expectedStepCount = static_cast<std::int64_t>(routine.steps.size());
    model.expectedGroupCount = static_cast<std::int64_t>(routine.groups.size());
    model.startTagIds = routine.startTagIds;
    model.steps = routineStepModels(routine.steps, random);
    model.groups = routineGroupModels(routine.groups, random);
    model.hasReceivedAllSteps = true;
    return model;
}

} // namespace tavrik
