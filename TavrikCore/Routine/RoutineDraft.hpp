#pragma once

#include "TavrikCore/Model/RoutineGroupMode.hpp"
#include "TavrikCore/Model/RoutineModels.hpp"
#include "TavrikCore/Support/RandomSource.hpp"
#include "TavrikCore/Support/Uuid.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace tavrik {

// A random id in 1...4294967295 for a step or group made in the application (0 stands for the root).
// It is not checked against any draft.
std::uint32_t makeLocalRoutineNodeId(RandomSource& random = defaultRandomSource());

// One editable step. `id` is the row identity of lists and drag and drop; it is never sent.
struct RoutineStepDraft {
    Uuid id = Uuid::make();
    std::uint32_t stepId = 0;
    std::int64_t position = 0; // among the siblings under the same parent, 0 first
    std::uint32_t parentId = 0; // 0: at the routine's root; otherwise a groupId
    std::string tagId; // empty while no tag is chosen
    std::int64_t seconds = 0;
    std::string instruction;
    bool unstoppable = false;

    // The device fields, as every step record lists them; the row identity is not one of them.
    auto fields() { return std::tie(stepId, position, parentId, tagId, seconds, instruction, unstoppable); }
    auto fields() const { return std::tie(stepId, position, parentId, tagId, seconds, instruction, unstoppable); }

    friend bool operator==(const RoutineStepDraft&, const RoutineStepDraft&) = default;
};

static_assert(
    std::tuple_size_v<decltype(std::declval<const RoutineStepDraft&>().fields())> == routineStepFieldNames.size());

// One editable group; `id` behaves as for steps.
struct RoutineGroupDraft {
    Uuid id = Uuid::make();
    std::uint32_t groupId = 0;
    std::int64_t position = 0; // among the root entries
    std::string label;
    RoutineGroupMode mode = RoutineGroupMode::timebox;
    std::int64_t timeLimitSeconds = 0;

    RoutineGroupDraft() = default;
    // Stores the limit the mode actually keeps: a rotation group always gets 0.
    RoutineGroupDraft(Uuid id, std::uint32_t groupId, std::int64_t position, std::string label, RoutineGroupMode mode,
        std::int64_t timeLimitSeconds);

    friend bool operator==(const RoutineGroupDraft&, const RoutineGroupDraft&) = default;
};

// One entry of a draft's root: a root step or a group, by node id.
struct RoutineDraftRootNode {
    enum class Kind {
        step,
        group,
    };

    Kind kind = Kind::step;
    std::uint32_t nodeId = 0;

    static RoutineDraftRootNode step(std::uint32_t stepId) { return { Kind::step, stepId }; }
    static RoutineDraftRootNode group(std::uint32_t groupId) { return { Kind::group, groupId }; }

    // "step:42" or "group:7".
    std::string id() const;

    friend bool operator==(const RoutineDraftRootNode&, const RoutineDraftRootNode&) = default;
};

// An editable copy of one routine. The hierarchy has two levels: the root holds steps (parentId 0) and
// groups in one position sequence; each group holds steps in a sequence of its own. Every constructor
// and every editing operation leaves the draft normalised; code that writes the fields directly calls
// normalizeHierarchy() afterwards.
//
// Where an operation writes to the node with id n it writes to the first step (or group) in list order
// with that id.
struct RoutineDraft {
    std::optional<std::uint32_t> id; // absent for a routine that is not on the device yet
    std::string label;
    std::vector<std::uint32_t> startTagIds;
    std::vector<RoutineStepDraft> steps; // root steps and group children together
    std::vector<RoutineGroupDraft> groups;

    RoutineDraft() = default;
    RoutineDraft(std::optional<std::uint32_t> id, std::string label, std::vector<std::uint32_t> startTagIds,
        std::vector<RoutineStepDraft> steps, std::vector<RoutineGroupDraft> groups);
    // A draft of a loaded routine with fresh row identities, drawn from `random`.
    explicit RoutineDraft(const RoutineDetailModel& detail, RandomSource& random = defaultRandomSource());
    // A draft of a reloaded routine: steps and groups whose node ids stand in `previous` keep that
    // draft's row identities, so the rows a list shows survive a reload.
    RoutineDraft(const RoutineDetailModel& detail, const RoutineDraft& previous);

    // Whether the draft may be saved; read as it stands, without normalising.
    bool isValid() const;
    // The content signature, equal to RoutineDetailModel::syncSignature of the same saved content.
    std::int64_t syncSignature() const;
    // Changes with a rename or a change of start tags only.
    std::int64_t metadataSignature() const;

    // Moves steps whose group is gone to the root and renumbers the root and every group's children
    // 0, 1, 2, ... (on equal positions a root step comes before a group, otherwise list order holds).
    void normalizeHierarchy();
    RoutineDraft normalizedHierarchy() const;

    // The root steps and groups ordered by position; does not normalise and leaves out orphan steps.
    std::vector<RoutineDraftRootNode> rootNodes() const;
    // Whether rootNodes() would list anything, without ordering them.
    bool hasRootNodes() const;
    // The steps whose parentId is `groupId`, by position, then by stepId; 0 lists the root steps.
    std::vector<RoutineStepDraft> childSteps(std::uint32_t groupId) const;

    // Adds a 60-second step without tag at the end of the root; its node id is unique in the draft.
    // The node id and the row identity are drawn from `random`.
    RoutineStepDraft appendRootStep(RandomSource& random = defaultRandomSource());
    // Adds a 900-second timebox group labelled "Group" at the end of the root; draws like appendRootStep.
    RoutineGroupDraft appendGroup(RandomSource& random = defaultRandomSource());
    // Moves a step to the root (toParentId 0) or into a group, to `position` among its new siblings
    // (clamped to the ends). An unknown step or group only normalises.
    void moveStep(std::uint32_t stepId, std::uint32_t toParentId, std::int64_t position);
    // Moves a root entry to `index` among the root entries (clamped); a node not at the root stays put.
    void moveRootNode(const RoutineDraftRootNode& node, std::int64_t index);
    // Deletes a group; its steps take its place at the root, in their order.
    void removeGroup(std::uint32_t groupId);
    // Gives the listed root entries positions 0, 1, 2, ... in list order (a listed step is put at the
    // root); ids that are not in the draft are skipped. Does not normalise first but does after, so even
    // a partial list leaves the draft normalised.
    void applyRootOrder(const std::vector<RoutineDraftRootNode>& nodes);

    friend bool operator==(const RoutineDraft&, const RoutineDraft&) = default;
};

} // namespace tavrik

template <>
struct std::hash<tavrik::RoutineDraftRootNode> {
    std::size_t operator()(const tavrik::RoutineDraftRootNode& node) const noexcept
    {
        const std::uint64_t kindIndex = node.kind == tavrik::RoutineDraftRootNode::Kind::step ? 0 : 1;
        return std::hash<std::uint64_t> {}((kindIndex << 32) | node.nodeId);
    }
};
