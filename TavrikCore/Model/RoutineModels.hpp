#pragma once

#include "TavrikCore/Model/RoutineGroupMode.hpp"
#include "TavrikCore/Model/RoutinePayloads.hpp"
#include "TavrikCore/Model/SyncSignature.hpp"
#include "TavrikCore/Support/Uuid.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

namespace tavrik {

// The names the device gives a step's fields. Every step record (payload, model, draft) lists the same
// fields in this order through fields(); equality, signatures, conversions and the mutation planner read
// them from there, so a field added to the records reaches each of them or fails to compile.
inline constexpr std::array<std::string_view, 7> routineStepFieldNames { "id", "position", "parentId", "tagId",
    "seconds", "instruction", "unstoppable" };

// One loaded step. `id` is a list/drag identity only: drawn afresh at every construction, never sent,
// and left out of equality and signatures, so a model rebuilt from the same device data equals the old one.
struct RoutineStepModel {
    Uuid id = Uuid::make();
    std::uint32_t stepId = 0;
    std::int64_t position = 0;
    std::uint32_t parentId = 0; // 0: at the routine's root; otherwise a groupId
    std::string tagId;
    std::int64_t seconds = 0;
    std::string instruction;
    bool unstoppable = false;

    RoutineStepModel() = default;
    RoutineStepModel(std::uint32_t stepId, std::int64_t position, std::uint32_t parentId, std::string tagId,
        std::int64_t seconds, std::string instruction, bool unstoppable);

    auto fields() { return std::tie(stepId, position, parentId, tagId, seconds, instruction, unstoppable); }
    auto fields() const { return std::tie(stepId, position, parentId, tagId, seconds, instruction, unstoppable); }

    std::int64_t syncSignature() const;

    friend bool operator==(const RoutineStepModel& lhs, const RoutineStepModel& rhs);
};

static_assert(
    std::tuple_size_v<decltype(std::declval<const RoutineStepPayload&>().fields())> == routineStepFieldNames.size());
static_assert(
    std::tuple_size_v<decltype(std::declval<const RoutineStepModel&>().fields())> == routineStepFieldNames.size());

// One loaded group; `id` behaves as for steps.
struct RoutineGroupModel {
    Uuid id = Uuid::make();
    std::uint32_t groupId = 0;
    std::int64_t position = 0;
    std::string label;
    RoutineGroupMode mode = RoutineGroupMode::timebox;
    std::int64_t timeLimitSeconds = 0;

    RoutineGroupModel() = default;
    RoutineGroupModel(std::uint32_t groupId, std::int64_t position, std::string label, RoutineGroupMode mode,
        std::int64_t timeLimitSeconds);

    std::int64_t syncSignature() const;

    friend bool operator==(const RoutineGroupModel& lhs, const RoutineGroupModel& rhs);
};

// Feeds a step's or group's device fields in signature order. Shared with the routine draft, whose
// signature must match a detail's for the same content.
template <class Step>
void combineRoutineStepFields(SyncHasher& hasher, const Step& step)
{
    std::apply([&](const auto&... field) { (hasher.combine(field), ...); }, step.fields());
}
void combineRoutineGroupFields(SyncHasher& hasher, std::uint32_t groupId, std::int64_t position, std::string_view label,
    RoutineGroupMode mode, std::int64_t timeLimitSeconds);

// Feeds every step in ascending stepId order, then every group in ascending groupId order (stable
// sorts), so arrival order never changes a signature. Works for any step type with fields() and any
// group type with the model's fields.
template <class Step, class Group>
void combineRoutineNodes(SyncHasher& hasher, const std::vector<Step>& steps, const std::vector<Group>& groups)
{
    std::vector<const Step*> sortedSteps;
    sortedSteps.reserve(steps.size());
    for (const Step& step : steps) {
        sortedSteps.push_back(&step);
    }
    std::stable_sort(sortedSteps.begin(), sortedSteps.end(),
        [](const Step* lhs, const Step* rhs) { return lhs->stepId < rhs->stepId; });
    for (const Step* step : sortedSteps) {
        combineRoutineStepFields(hasher, *step);
    }

    std::vector<const Group*> sortedGroups;
    sortedGroups.reserve(groups.size());
    for (const Group& group : groups) {
        sortedGroups.push_back(&group);
    }
    std::stable_sort(sortedGroups.begin(), sortedGroups.end(),
        [](const Group* lhs, const Group* rhs) { return lhs->groupId < rhs->groupId; });
    for (const Group* group : sortedGroups) {
        combineRoutineGroupFields(
            hasher, group->groupId, group->position, group->label, group->mode, group->timeLimitSeconds);
    }
}

// A routine as loaded from the device, filled page by page while the steps arrive.
struct RoutineDetailModel {
    std::uint32_t id = 0;
    std::string label;
    std::int64_t expectedStepCount = 0; // 0: the device announced none
    std::int64_t expectedGroupCount = 0;
    std::vector<std::uint32_t> startTagIds;
    std::vector<RoutineStepModel> steps; // arrival order
    std::vector<RoutineGroupModel> groups;
    bool hasReceivedAllSteps = false;

    // Installs one page of steps beginning at index `start`: everything held from `start` on is
    // replaced (a negative start counts as 0), and every added step gets a non-zero stepId no other
    // step of the detail uses.
    void appendSteps(std::int64_t start, const std::vector<RoutineStepPayload>& payload);
    // Complete once the held steps reach expectedStepCount (at once when none was announced); never
    // turns a complete detail back into a loading one.
    void refreshCompletionState();
    // Complete with whatever has arrived; an unannounced count becomes the number held.
    void forceMarkComplete();
    bool isComplete() const { return hasReceivedAllSteps; }

    std::int64_t syncSignature() const;
    // Leaves out id, label, start tags and completion, so a rename or start-tag change keeps it.
    std::int64_t stepsSyncSignature() const;

    // "Loading steps…" or "Loading steps (held/expected)".
    std::string loadingProgressDescription() const;

    bool operator==(const RoutineDetailModel&) const = default;
};

// The routine running on the device as the window shows it.
struct ActiveRoutineContext {
    std::uint32_t routineId = 0;
    std::string routineName;
    std::int64_t stepIndex = 0; // 0-based
    std::optional<std::int64_t> stepCount;
    std::optional<std::string> stepInstruction;
    std::optional<std::string> stepTag;
    bool isRunning = false;

    // "Step n/count" (n capped at count) when the count is known and at least 1, else "Step n".
    std::string formattedStepTitle() const;

    bool operator==(const ActiveRoutineContext&) const = default;
};

// Models of a routine's steps and groups as loaded from the device, each with a fresh list id from
// `random`, in the payload's order.
std::vector<RoutineStepModel> routineStepModels(const std::vector<RoutineStepPayload>& steps, RandomSource& random);
std::vector<RoutineGroupModel> routineGroupModels(const std::vector<RoutineGroupPayload>& groups, RandomSource& random);
// A complete detail of a whole routine payload.
RoutineDetailModel routineDetailModel(const RoutinePayload& routine, RandomSource& random);

} // namespace tavrik
