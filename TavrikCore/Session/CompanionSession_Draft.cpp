#include "TavrikCore/Session/CompanionSession.hpp"

#include "TavrikCore/Model/SyncImportError.hpp"
#include "TavrikCore/Routine/RoutineDraft.hpp"

#include <algorithm>
#include <limits>

namespace tavrik {

namespace {

// Asks the draft for "the end"; it holds positions to its valid range.
constexpr std::int64_t lastPosition = std::numeric_limits<std::int64_t>::max();

std::string_view textOf(CompanionSession::Bytes bytes)
{
    return { reinterpret_cast<const char*>(bytes.data()), bytes.size() };
}

// A value of the wrong type counts as absent.
std::optional<std::int64_t> integerValue(const Json* value)
{
    if (!value || !value->is_number() || !json::isInteger(*value)) {
        return std::nullopt;
    }
    return json::asInt(*value);
}

// A host may send any direction; the sum is held to the Int range instead of overflowing.
std::int64_t heldSum(std::int64_t base, std::int64_t offset)
{
    std::int64_t sum = 0;
    if (__builtin_add_overflow(base, offset, &sum)) {
        return offset > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
    }
    return sum;
}

RoutineStepDraft* firstStep(RoutineDraft& draft, std::uint32_t stepId)
{
    const auto found = std::find_if(
        draft.steps.begin(), draft.steps.end(), [&](const RoutineStepDraft& step) { return step.stepId == stepId; });
    return found == draft.steps.end() ? nullptr : &*found;
}

bool hasGroup(const RoutineDraft& draft, std::uint32_t groupId)
{
    return std::any_of(draft.groups.begin(), draft.groups.end(),
        [&](const RoutineGroupDraft& group) { return group.groupId == groupId; });
}

std::optional<std::int64_t> rootIndex(const RoutineDraft& draft, const RoutineDraftRootNode& node)
{
    const std::vector<RoutineDraftRootNode> nodes = draft.rootNodes();
    const auto found = std::find(nodes.begin(), nodes.end(), node);
    if (found == nodes.end()) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(found - nodes.begin());
}

void dropStep(RoutineDraft& draft, std::uint32_t stepId, std::uint32_t parentId, std::int64_t position)
{
    const RoutineStepDraft* step = firstStep(draft, stepId);
    if (!step || (parentId != 0 && !hasGroup(draft, parentId))) {
        throw SyncImportError("Invalid step destination");
    }
    // Leaving its old place opens a gap in front of the drop point.
    const std::int64_t target = step->parentId == parentId && step->position < position ? position - 1 : position;
    draft.moveStep(stepId, parentId, target);
}

void dropGroup(RoutineDraft& draft, std::uint32_t groupId, std::uint32_t parentId, std::int64_t position)
{
    const RoutineDraftRootNode group = RoutineDraftRootNode::group(groupId);
    const std::optional<std::int64_t> index = rootIndex(draft, group);
    if (parentId != 0 || !index) {
        throw SyncImportError("Groups must stay outside other groups");
    }
    draft.normalizeHierarchy();
    std::vector<RoutineDraftRootNode> nodes = draft.rootNodes();
    const auto found = std::find(nodes.begin(), nodes.end(), group);
    if (found == nodes.end()) {
        return;
    }
    nodes.erase(found);
    const std::int64_t target = std::clamp<std::int64_t>(
        *index < position ? position - 1 : position, 0, static_cast<std::int64_t>(nodes.size()));
    nodes.insert(nodes.begin() + static_cast<std::ptrdiff_t>(target), group);
    draft.applyRootOrder(nodes);
    draft.normalizeHierarchy();
}

void moveNode(RoutineDraft& draft, std::string_view kind, std::uint32_t nodeId, std::int64_t direction)
{
    if (kind == "steps") {
        if (const RoutineStepDraft* step = firstStep(draft, nodeId); step && step->parentId != 0) {
            draft.moveStep(nodeId, step->parentId, heldSum(step->position, direction));
            return;
        }
    }
    const RoutineDraftRootNode node
        = kind == "groups" ? RoutineDraftRootNode::group(nodeId) : RoutineDraftRootNode::step(nodeId);
    if (const std::optional<std::int64_t> index = rootIndex(draft, node)) {
        draft.moveRootNode(node, heldSum(*index, direction));
    }
}

RoutinePayload payloadOf(const RoutinePayload& source, const RoutineDraft& draft)
{
    RoutinePayload routine;
    routine.id = source.id;
    routine.label = source.label;
    routine.startTagIds = source.startTagIds;
    routine.steps.reserve(draft.steps.size());
    for (const RoutineStepDraft& step : draft.steps) {
        routine.steps.emplace_back().fields() = step.fields();
    }
    routine.groups.reserve(draft.groups.size());
    for (const RoutineGroupDraft& group : draft.groups) {
        routine.groups.push_back({
            .id = group.groupId,
            .position = group.position,
            .label = group.label,
            .mode = group.mode,
            .timeLimitSeconds = group.mode == RoutineGroupMode::rotation ? 0 : group.timeLimitSeconds,
        });
    }
    return routine;
}

} // namespace

void CompanionSession::editRoutineDraft(const Json& request, Bytes payload)
{
    const RoutinePayload routine = routinePayloadFromJson(parseJson(textOf(payload)));
    // New node ids and row identities come from the session's own source, like every other draw.
    RoutineDraft draft(detail(routine), random);

    const Json* kindValue = json::member(request, "kind");
    const std::string kind = kindValue && kindValue->is_string() ? kindValue->get<std::string>() : "steps";
    const auto readNodeId = [&](std::string_view key) -> std::uint32_t {
        const std::optional<std::uint64_t> value = readUInt64(json::member(request, key));
        return value && *value <= std::numeric_limits<std::uint32_t>::max() ? static_cast<std::uint32_t>(*value) : 0;
    };
    const std::uint32_t nodeId = readNodeId("nodeId");
    const Json* operationValue = json::member(request, "operation");
    const std::string operation
        = operationValue && operationValue->is_string() ? operationValue->get<std::string>() : std::string();

    if (operation == "appendStep") {
        const std::uint32_t stepId = draft.appendRootStep(random).stepId;
        if (device && !device->tags.empty()) {
            if (RoutineStepDraft* step = firstStep(draft, stepId)) {
                step->tagId = std::to_string(device->tags.front().id);
            }
        }
        if (const std::uint32_t parentId = readNodeId("parentId"); parentId != 0) {
            if (!hasGroup(draft, parentId)) {
                throw SyncImportError("Group not found");
            }
            draft.moveStep(stepId, parentId, lastPosition);
        }
    } else if (operation == "appendGroup") {
        draft.appendGroup(random);
    } else if (operation == "removeGroup") {
        draft.removeGroup(nodeId);
    } else if (operation == "removeStep") {
        std::erase_if(draft.steps, [&](const RoutineStepDraft& step) { return step.stepId == nodeId; });
        draft.normalizeHierarchy();
    } else if (operation == "parent") {
        draft.moveStep(nodeId, readNodeId("parentId"), lastPosition);
    } else if (operation == "drop") {
        const std::optional<std::int64_t> position = integerValue(json::member(request, "position"));
        if (!position || *position < 0) {
            throw SyncImportError("Invalid drop position");
        }
        const std::uint32_t parentId = readNodeId("parentId");
        if (kind == "steps") {
            dropStep(draft, nodeId, parentId, *position);
        } else if (kind == "groups") {
            dropGroup(draft, nodeId, parentId, *position);
        } else {
            throw SyncImportError("Groups must stay outside other groups");
        }
    } else if (operation == "move") {
        moveNode(draft, kind, nodeId, integerValue(json::member(request, "direction")).value_or(0));
    } else {
        throw SyncImportError("Unknown draft operation");
    }

    editedRoutine = payloadOf(routine, draft);
}

} // namespace tavrik
