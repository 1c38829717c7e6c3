#include "TavrikLink/Controller/TavrikBleCentral.hpp"

#include "TavrikCore/Model/Json.hpp"

namespace tavrik {

void TavrikBleCentral::handleRoutinePayload(const Data& payload)
{
    // Completed with the routine operations; until then only the list and a refusal are taken in.
    try {
        const RoutineEnvelope envelope = routineEnvelopeFromJson(parseJson(payload));
        if (envelope.type == "error") {
            setRoutineError(envelope.message.value_or("Routine update failed"));
        } else if (envelope.type == "routines_state" && envelope.routines) {
            setRoutineSummaries(*envelope.routines);
        }
    } catch (const std::exception&) {
    }
}

void TavrikBleCentral::refreshActiveRoutineContextIfNeeded(std::optional<std::uint32_t>)
{
    // Completed with the routine operations.
}

void TavrikBleCentral::refreshRoutineDefinitions()
{
    // Completed with the routine and schedule operations (the schedules' order).
    std::vector<ScheduleDefinition> definitions;
    definitions.reserve(routineSummaries_.size());
    for (const RoutineSummary& summary : routineSummaries_) {
        definitions.push_back({ summary.id, summary.label });
    }
    publish(routines_, std::move(definitions), &TavrikBleCentral::routinesChanged);
    updateNextLocalIds();
}

std::vector<RoutineStepModel> TavrikBleCentral::routineStepModels(const std::vector<RoutineStepPayload>& steps) const
{
    return tavrik::routineStepModels(steps, random);
}

std::vector<RoutineGroupModel> TavrikBleCentral::routineGroupModels(const std::vector<RoutineGroupPayload>& groups) const
{
    return tavrik::routineGroupModels(groups, random);
}

std::vector<RoutinePayload> TavrikBleCentral::buildRoutinePayloads() const
{
    std::vector<RoutinePayload> payloads;
    payloads.reserve(routineSummaries_.size());
    for (const RoutineSummary& summary : routineSummaries_) {
        RoutinePayload payload { summary.id, summary.label, {}, {}, {} };
        if (const auto detail = routineDetails_.find(summary.id); detail != routineDetails_.end()) {
            for (const RoutineStepModel& step : detail->second.steps) {
                payload.steps.push_back({ step.stepId, step.position, step.parentId, step.tagId, step.seconds,
                    step.instruction, step.unstoppable ? 1 : 0 });
            }
            for (const RoutineGroupModel& group : detail->second.groups) {
                payload.groups.push_back({ group.groupId, group.position, group.label, group.mode, group.timeLimitSeconds });
            }
            payload.startTagIds = detail->second.startTagIds;
        }
        payloads.push_back(std::move(payload));
    }
    return payloads;
}

void TavrikBleCentral::resetRoutineState()
{
    publish(activeRoutineContext_, std::nullopt, &TavrikBleCentral::activeRoutineContextChanged);
    setRoutineError(std::nullopt);
    setRoutineSummaries({});
    publish(routineDetails_, std::map<std::uint32_t, RoutineDetailModel> {}, &TavrikBleCentral::routineDetailsChanged);
}

void TavrikBleCentral::validateRoutineTagReferences(const std::vector<RoutineDetailModel>&) const
{
}

std::optional<std::uint32_t> TavrikBleCentral::createRoutine(const RoutineDraft&)
{
    return std::nullopt;
}

bool TavrikBleCentral::updateRoutine(std::uint32_t, const RoutineDraft&)
{
    return false;
}

void TavrikBleCentral::deleteRoutine(std::uint32_t)
{
}

void TavrikBleCentral::triggerRoutine(std::uint32_t)
{
}

} // namespace tavrik
