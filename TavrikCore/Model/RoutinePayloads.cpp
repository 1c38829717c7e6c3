#include "TavrikCore/Model/RoutinePayloads.hpp"

namespace tavrik {

namespace {

// The value under `key`, else under the legacy `fallback`; a present primary key is never second-guessed.
const Json* memberOrLegacy(const Json& object, std::string_view key, std::string_view fallback)
{
    if (const Json* value = json::member(object, key)) {
        return value;
    }
    return json::member(object, fallback);
}

std::int64_t intOrZero(const Json& object, std::string_view key)
{
    return json::optionalInt(object, key).value_or(0);
}

} // namespace

Json toJson(const RoutineSummary& summary)
{
    Json result = Json::object();
    result["id"] = summary.id;
    result["label"] = summary.label;
    result["stepCount"] = summary.stepCount;
    result["groupCount"] = summary.groupCount;
    result["startTagCount"] = summary.startTagCount;
    return result;
}

RoutineSummary routineSummaryFromJson(const Json& object)
{
    json::requireObject(object, "RoutineSummary");
    RoutineSummary summary;
    summary.id = json::requiredUInt32(object, "id");
    summary.label = json::requiredString(object, "label");
    summary.stepCount = intOrZero(object, "stepCount");
    if (const Json* groupCount = memberOrLegacy(object, "groupCount", LegacyRoutineKeys::groupCount)) {
        summary.groupCount = json::asInt(*groupCount, "groupCount");
    }
    summary.startTagCount = intOrZero(object, "startTagCount");
    return summary;
}

Json toJson(const RoutineStepPayload& step)
{
    Json result = Json::object();
    result["id"] = step.id;
    result["position"] = step.position;
    result["parentId"] = step.parentId;
    result["tagId"] = step.tagId;
    result["seconds"] = step.seconds;
    result["instruction"] = step.instruction;
    result["unstoppable"] = step.unstoppable;
    return result;
}

RoutineStepPayload routineStepPayloadFromJson(const Json& object)
{
    json::requireObject(object, "RoutineStepPayload");
    RoutineStepPayload step;
    if (const Json* id = memberOrLegacy(object, "id", "stepId")) {
        step.id = json::asUInt32(*id, "id");
    }
    step.position = json::requiredInt(object, "position");
    step.parentId = json::optionalUInt32(object, "parentId").value_or(0);
    if (const Json* tagId = memberOrLegacy(object, "tagId", "tag")) {
        step.tagId = json::asString(*tagId, "tagId");
    }
    step.seconds = json::requiredInt(object, "seconds");
    step.instruction = json::requiredString(object, "instruction");
    step.unstoppable = intOrZero(object, "unstoppable");
    return step;
}

Json toJson(const RoutineGroupPayload& group)
{
    Json result = Json::object();
    result["id"] = group.id;
    result["position"] = group.position;
    result["label"] = group.label;
    result["mode"] = toJson(group.mode);
    result["timeLimitSeconds"] = group.timeLimitSeconds;
    return result;
}

RoutineGroupPayload routineGroupPayloadFromJson(const Json& object)
{
    json::requireObject(object, "RoutineGroupPayload");
    RoutineGroupPayload group;
    group.id = json::requiredUInt32(object, "id");
    group.position = intOrZero(object, "position");
    group.label = json::requiredString(object, "label");
    if (const Json* mode = json::member(object, "mode")) {
        group.mode = routineGroupModeFromJson(*mode);
    }
    // The default limit follows the mode, which is read (or defaulted) first.
    group.timeLimitSeconds = json::optionalInt(object, "timeLimitSeconds").value_or(defaultTimeLimit(group.mode));
    return group;
}

Json toJson(const RoutinePayload& routine)
{
    Json result = Json::object();
    result["id"] = routine.id;
    result["label"] = routine.label;
    result["steps"] = json::arrayOf(routine.steps);
    result["groups"] = json::arrayOf(routine.groups);
    result["startTagIds"] = routine.startTagIds;
    return result;
}

RoutinePayload routinePayloadFromJson(const Json& object)
{
    json::requireObject(object, "RoutinePayload");
    RoutinePayload routine;
    routine.id = json::requiredUInt32(object, "id");
    routine.label = json::requiredString(object, "label");
    if (const Json* steps = json::member(object, "steps")) {
        routine.steps = json::asArray(*steps, "steps", routineStepPayloadFromJson);
    }
    if (const Json* groups = memberOrLegacy(object, "groups", LegacyRoutineKeys::groups)) {
        routine.groups = json::asArray(*groups, "groups", routineGroupPayloadFromJson);
    }
    if (const Json* startTagIds = json::member(object, "startTagIds")) {
        routine.startTagIds = json::asUInt32Array(*startTagIds, "startTagIds");
    }
    return routine;
}

Json toJson(const RoutineActiveState& state)
{
    Json result = Json::object();
    result["id"] = state.id;
    result["step"] = state.step;
    json::putOptional(result, "label", state.label);
    json::putOptional(result, "stepCount", state.stepCount);
    return result;
}

RoutineActiveState routineActiveStateFromJson(const Json& object)
{
    json::requireObject(object, "RoutineActiveState");
    RoutineActiveState state;
    state.id = json::requiredUInt32(object, "id");
    state.step = json::requiredInt(object, "step");
    state.label = json::optionalString(object, "label");
    state.stepCount = json::optionalInt(object, "stepCount");
    return state;
}

Json toJson(const RoutineEnvelope& envelope)
{
    Json result = Json::object();
    result["type"] = envelope.type;
    json::putOptional(result, "message", envelope.message);
    json::putOptionalArray(result, "routines", envelope.routines);
    json::putOptional(result, "id", envelope.id);
    json::putOptional(result, "label", envelope.label);
    json::putOptional(result, "stepCount", envelope.stepCount);
    json::putOptional(result, "groupCount", envelope.groupCount);
    json::putOptional(result, "startTagCount", envelope.startTagCount);
    json::putOptional(result, "index", envelope.index);
    json::putOptionalArray(result, "steps", envelope.steps);
    json::putOptionalArray(result, "groups", envelope.groups);
    json::putOptional(result, "startTagIds", envelope.startTagIds);
    json::putOptional(result, "state", envelope.state);
    json::putOptional(result, "count", envelope.count);
    json::putOptional(result, "event", envelope.event);
    json::putOptional(result, "step", envelope.step);
    if (envelope.active) {
        result["active"] = toJson(*envelope.active);
    }
    return result;
}

RoutineEnvelope routineEnvelopeFromJson(const Json& object)
{
    json::requireObject(object, "RoutineEnvelope");
    RoutineEnvelope envelope;
    envelope.type = json::requiredString(object, "type");
    envelope.message = json::optionalString(object, "message");
    envelope.routines = json::optionalArray(object, "routines", routineSummaryFromJson);
    envelope.id = json::optionalUInt32(object, "id");
    envelope.label = json::optionalString(object, "label");
    envelope.stepCount = json::optionalInt(object, "stepCount");
    if (const Json* groupCount = memberOrLegacy(object, "groupCount", LegacyRoutineKeys::groupCount)) {
        envelope.groupCount = json::asInt(*groupCount, "groupCount");
    }
    envelope.startTagCount = json::optionalInt(object, "startTagCount");
    envelope.index = json::optionalInt(object, "index");
    envelope.steps = json::optionalArray(object, "steps", routineStepPayloadFromJson);
    if (const Json* groups = memberOrLegacy(object, "groups", LegacyRoutineKeys::groups)) {
        envelope.groups = json::asArray(*groups, "groups", routineGroupPayloadFromJson);
    }
    if (const Json* startTagIds = json::member(object, "startTagIds")) {
        envelope.startTagIds = json::asUInt32Array(*startTagIds, "startTagIds");
    }
    envelope.state = json::optionalString(object, "state");
    envelope.count = json::optionalInt(object, "count");
    envelope.event = json::optionalString(object, "event");
    envelope.step = json::optionalInt(object, "step");
    if (const Json* active = json::member(object, "active")) {
        envelope.active = routineActiveStateFromJson(*active);
    }
    return envelope;
}

} // namespace tavrik
