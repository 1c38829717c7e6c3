#include "TavrikCore/Routine/RoutineDraft.hpp"

#include "TavrikCore/Model/SyncSignature.hpp"
#include "TavrikCore/Support/RandomSource.hpp"
#include "TavrikCore/Support/Text.hpp"

#include <algorithm>
#include <limits>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace tavrik {

namespace {

void combineSortedTags(SyncHasher& hasher, const std::vector<std::uint32_t>& startTagIds)
{
    std::vector<std::uint32_t> sorted = startTagIds;
    std::sort(sorted.begin(), sorted.end());
    hasher.combine(sorted.size());
    for (const std::uint32_t tag : sorted) {
        hasher.combine(tag);
    }
}

} // namespace

std::uint32_t makeLocalRoutineNodeId(RandomSource& random)
{
    return static_cast<std::uint32_t>(random.uniform(1, std::numeric_limits<std::uint32_t>::max()));
}

RoutineGroupDraft::RoutineGroupDraft(Uuid id, std::uint32_t groupId, std::int64_t position, std::string label,
    RoutineGroupMode mode, std::int64_t timeLimitSeconds)
    : id(id)
    , groupId(groupId)
    , position(position)
    , label(std::move(label))
    , mode(mode)
    , timeLimitSeconds(canonicalTimeLimit(mode, timeLimitSeconds))
{
}

std::string RoutineDraftRootNode::id() const
{
    return (kind == Kind::step ? "step:" : "group:") + std::to_string(nodeId);
}

RoutineDraft::RoutineDraft(std::optional<std::uint32_t> id, std::string label, std::vector<std::uint32_t> startTagIds,
    std::vector<RoutineStepDraft> steps, std::vector<RoutineGroupDraft> groups)
    : id(id)
    , label(std::move(label))
    , startTagIds(std::move(startTagIds))
    , steps(std::move(steps))
    , groups(std::move(groups))
{
    normalizeHierarchy();
}

RoutineDraft::RoutineDraft(const RoutineDetailModel& detail, RandomSource& random)
    : id(detail.id)
    , label(detail.label)
    , startTagIds(detail.startTagIds)
{
    steps.reserve(detail.steps.size());
    for (const RoutineStepModel& step : detail.steps) {
        // The row identity is given, so none is first drawn from the process-wide source.
        steps.push_back({ .id = Uuid::random(random), .tagId = {}, .instruction = {} });
        steps.back().fields() = step.fields();
    }
    groups.reserve(detail.groups.size());
    for (const RoutineGroupModel& group : detail.groups) {
        groups.emplace_back(
            Uuid::random(random), group.groupId, group.position, group.label, group.mode, group.timeLimitSeconds);
    }
    normalizeHierarchy();
}

RoutineDraft::RoutineDraft(const RoutineDetailModel& detail, const RoutineDraft& previous)
    : RoutineDraft(detail)
{
    // The first row of the previous draft with a node id lends its identity, and only once: a detail
    // that repeats an id must not show two rows with one identity.
    std::unordered_map<std::uint32_t, Uuid> stepIdentities;
    stepIdentities.reserve(previous.steps.size());
    for (const RoutineStepDraft& step : previous.steps) {
        stepIdentities.emplace(step.stepId, step.id);
    }
    for (RoutineStepDraft& step : steps) {
        if (const auto found = stepIdentities.find(step.stepId); found != stepIdentities.end()) {
            step.id = found->second;
            stepIdentities.erase(found);
        }
    }

    std::unordered_map<std::uint32_t, Uuid> groupIdentities;
    groupIdentities.reserve(previous.groups.size());
    for (const RoutineGroupDraft& group : previous.groups) {
        groupIdentities.emplace(group.groupId, group.id);
    }
    for (RoutineGroupDraft& group : groups) {
        if (const auto found = groupIdentities.find(group.groupId); found != groupIdentities.end()) {
            group.id = found->second;
            groupIdentities.erase(found);
        }
    }
}

bool RoutineDraft::isValid() const
{
    if (label.empty()) {
        return false;
    }
    std::unordered_set<std::uint32_t> groupIds;
    groupIds.reserve(groups.size());
    for (const RoutineGroupDraft& group : groups) {
        groupIds.insert(group.groupId);
    }
    for (const RoutineStepDraft& step : steps) {
        if (step.tagId.empty() || step.seconds < 1) {
            return false;
        }
        if (step.parentId != 0 && !groupIds.contains(step.parentId)) {
            return false;
        }
    }
    for (const RoutineGroupDraft& group : groups) {
        if (text::trimmed(group.label, text::TrimSet::whitespacesAndNewlines).empty()) {
            return false;
        }
        if (!validTimeLimit(group.mode, group.timeLimitSeconds)) {
            return false;
        }
    }
    return true;
}

std::int64_t RoutineDraft::syncSignature() const
{
    const RoutineDraft normalized = normalizedHierarchy();
    // The feed of a detail that holds this content and has received all of it.
    return makeSyncSignature([&](SyncHasher& hasher) {
        hasher.combine(normalized.id.value_or(0));
        hasher.combine(normalized.label);
        hasher.combine(normalized.steps.size());
        hasher.combine(normalized.groups.size());
        combineSortedTags(hasher, normalized.startTagIds);
        hasher.combine(normalized.steps.size());
        hasher.combine(normalized.groups.size());
        hasher.combine(true);
        combineRoutineNodes(hasher, normalized.steps, normalized.groups);
    });
}

std::int64_t RoutineDraft::metadataSignature() const
{
    return makeSyncSignature([&](SyncHasher& hasher) {
        hasher.combine(id.value_or(0));
        hasher.combine(label);
        combineSortedTags(hasher, startTagIds);
    });
}

} // namespace tavrik
