#include "TavrikCore/Routine/RoutineConversions.hpp"

#include "TavrikCore/Model/ScheduleCalendar.hpp"
#include "TavrikCore/Support/Text.hpp"

#include <algorithm>
#include <limits>
#include <unordered_map>
#include <unordered_set>

namespace tavrik {

namespace {

// Hands out node ids that are never 0 and never repeat: a wanted id when it is free, else the first
// free id from a running counter that wraps past 4294967295 to 1.
class NodeIdAllocator {
public:
    std::uint32_t take(std::uint32_t wanted)
    {
        if (wanted != 0 && !used.contains(wanted)) {
            used.insert(wanted);
            if (wanted >= next) {
                next = after(wanted);
            }
            return wanted;
        }
        std::uint32_t candidate = next;
        while (candidate == 0 || used.contains(candidate)) {
            candidate = after(candidate);
        }
        used.insert(candidate);
        next = after(candidate);
        return candidate;
    }

private:
    static std::uint32_t after(std::uint32_t id)
    {
        return id == std::numeric_limits<std::uint32_t>::max() ? 1 : id + 1;
    }

    std::unordered_set<std::uint32_t> used;
    std::uint32_t next = 1;
};

std::string trimmed(std::string_view value)
{
    return text::trimmed(value, text::TrimSet::whitespacesAndNewlines);
}

} // namespace

std::vector<RoutineStepModel> receivedRoutineStepModels(const std::vector<RoutineStepPayload>& steps, RandomSource& random)
{
    NodeIdAllocator ids;
    std::vector<RoutineStepModel> models;
    models.reserve(steps.size());
    for (std::size_t index = 0; index < steps.size(); ++index) {
        const RoutineStepPayload& step = steps[index];
        RoutineStepModel model;
        model.id = Uuid::random(random);
        model.fields() = step.fields();
        model.stepId = ids.take(step.id);
        if (step.position < 0) {
            model.position = static_cast<std::int64_t>(index);
        }
        model.tagId = trimmed(step.tagId);
        models.push_back(std::move(model));
    }
    return models;
}

RoutineDetailModel receivedRoutineDetail(const RoutinePayload& routine, RandomSource& random)
{
    // The steps are converted here only: their ids are repaired, which the plain model does not do.
    RoutineDetailModel detail;
    detail.id = routine.id;
    detail.label = routine.label;
    detail.expectedStepCount = static_cast<std::int64_t>(routine.steps.size());
    detail.expectedGroupCount = static_cast<std::int64_t>(routine.groups.size());
    detail.startTagIds = routine.startTagIds;
    detail.steps = receivedRoutineStepModels(routine.steps, random);
    detail.groups = routineGroupModels(routine.groups, random);
    detail.hasReceivedAllSteps = true;
    return detail;
}

RoutineDetailModel savedRoutineDetail(
    std::uint32_t id, const std::string& label, const RoutineDraft& draft, RandomSource& random)
{
    const RoutineDraft normalized = draft.normalizedHierarchy();
    NodeIdAllocator ids;
    std::unordered_map<std::uint32_t, std::uint32_t> savedGroupIds;

    RoutineDetailModel detail;
    detail.id = id;
    detail.label = label;
    detail.groups.reserve(normalized.groups.size());
    for (const RoutineGroupDraft& group : normalized.groups) {
        const std::uint32_t groupId = ids.take(group.groupId);
        savedGroupIds[group.groupId] = groupId;
        RoutineGroupModel model(groupId, group.position, trimmed(group.label), group.mode, group.timeLimitSeconds);
        model.id = Uuid::random(random);
        detail.groups.push_back(std::move(model));
    }
    detail.steps.reserve(normalized.steps.size());
    for (const RoutineStepDraft& step : normalized.steps) {
        const std::uint32_t stepId = ids.take(step.stepId);
        std::uint32_t parentId = 0;
        if (step.parentId != 0) {
            if (const auto group = savedGroupIds.find(step.parentId); group != savedGroupIds.end()) {
                parentId = group->second;
            }
        }
        RoutineStepModel model;
        model.id = Uuid::random(random);
        model.fields() = step.fields();
        model.stepId = stepId;
        model.parentId = parentId;
        model.tagId = trimmed(step.tagId);
        detail.steps.push_back(std::move(model));
    }
    detail.expectedStepCount = static_cast<std::int64_t>(detail.steps.size());
    detail.expectedGroupCount = static_cast<std::int64_t>(detail.groups.size());
    detail.startTagIds = normalized.startTagIds;
    std::sort(detail.startTagIds.begin(), detail.startTagIds.end());
    detail.hasReceivedAllSteps = true;
    return detail;
}

std::vector<RoutinePayload> routinePayloads(
    const std::vector<RoutineSummary>& summaries, const std::map<std::uint32_t, RoutineDetailModel>& details)
{
    std::vector<RoutinePayload> payloads;
    payloads.reserve(summaries.size());
    for (const RoutineSummary& summary : summaries) {
        const auto found = details.find(summary.id);
        if (found == details.end()) {
            payloads.push_back({ summary.id, summary.label, {}, {}, {} });
            continue;
        }
        const RoutineDetailModel& detail = found->second;
        RoutinePayload payload { summary.id, detail.label, {}, {}, detail.startTagIds };
        payload.steps.reserve(detail.steps.size());
        for (const RoutineStepModel& step : detail.steps) {
            payload.steps.emplace_back().fields() = step.fields();
        }
        payload.groups.reserve(detail.groups.size());
        for (const RoutineGroupModel& group : detail.groups) {
            const std::int64_t limit = group.mode == RoutineGroupMode::rotation ? 0 : group.timeLimitSeconds;
            payload.groups.push_back({ group.groupId, group.position, group.label, group.mode, limit });
        }
        payloads.push_back(std::move(payload));
    }
    return payloads;
}

std::vector<ScheduleDefinition> sortedRoutineDefinitions(const std::vector<RoutineSummary>& summaries, const Clock& clock)
{
    std::vector<ScheduleDefinition> definitions;
    definitions.reserve(summaries.size());
    for (const RoutineSummary& summary : summaries) {
        definitions.push_back({ summary.id, summary.label });
    }
    sortIntoLabelOrder(definitions, clock);
    return definitions;
}

} // namespace tavrik
