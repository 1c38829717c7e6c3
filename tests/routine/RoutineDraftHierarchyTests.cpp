#include "TavrikCore/Routine/RoutineDraft.hpp"

#include "tests/routine/RoutineDraftTestSupport.hpp"
#include "tests/support/SequenceRandomSource.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <random>
#include <set>

namespace tavrik {
namespace {

using test::groupDraft;
using test::normalisationFault;
using test::shape;
using test::stepDraft;

std::vector<std::int64_t> stepPositions(const RoutineDraft& draft)
{
    std::vector<std::int64_t> positions;
    for (const RoutineStepDraft& step : draft.steps) {
        positions.push_back(step.position);
    }
    return positions;
}

// Root: s1, g10[s2 s3 s4], s5, g20[s6].
RoutineDraft sampleDraft()
{
    return RoutineDraft(1, "Morning", {},
        { stepDraft(1, 0), stepDraft(2, 0, 10), stepDraft(3, 1, 10), stepDraft(4, 2, 10), stepDraft(5, 2),
            stepDraft(6, 0, 20) },
        { groupDraft(10, 1), groupDraft(20, 3) });
}

TEST(RoutineDraftNormalisation, RepairsParentsAndRenumbers)
{
    RoutineDraft orphan;
    orphan.steps = { stepDraft(1, 0), stepDraft(2, 2, 9) };
    orphan.groups = { groupDraft(5, 1) };
    orphan.normalizeHierarchy();
    EXPECT_EQ(orphan.steps[1].parentId, 0u);
    EXPECT_EQ(shape(orphan), "s1 g5[] s2") << "the orphan keeps its place by its own position";

    RoutineDraft ties;
    ties.steps = { stepDraft(1, 2), stepDraft(3, 2) };
    ties.groups = { groupDraft(6, 2), groupDraft(5, 2) };
    ties.normalizeHierarchy();
    EXPECT_EQ(shape(ties), "s1 s3 g6[] g5[]");
    EXPECT_EQ(stepPositions(ties), (std::vector<std::int64_t> { 0, 1 }));
    EXPECT_EQ(ties.groups[0].position, 2);
    EXPECT_EQ(ties.groups[1].position, 3);

    RoutineDraft children;
    children.steps = { stepDraft(1, 5, 4), stepDraft(2, 5, 4), stepDraft(3, 1, 4) };
    children.groups = { groupDraft(4, 0) };
    children.normalizeHierarchy();
    EXPECT_EQ(stepPositions(children), (std::vector<std::int64_t> { 1, 2, 0 }));

    RoutineDraft spread;
    spread.steps = { stepDraft(1, -1), stepDraft(2, 4), stepDraft(3, 10) };
    spread.groups = { groupDraft(4, 4) };
    spread.normalizeHierarchy();
    EXPECT_EQ(stepPositions(spread), (std::vector<std::int64_t> { 0, 1, 3 }));
    EXPECT_EQ(spread.groups[0].position, 2);
    EXPECT_EQ(normalisationFault(spread), "");

    const RoutineDraft once = spread;
    spread.normalizeHierarchy();
    EXPECT_EQ(spread, once);
    EXPECT_EQ(spread.normalizedHierarchy(), once);
}

TEST(RoutineDraftNormalisation, NormalisedCopyLeavesTheDraftAlone)
{
    RoutineDraft draft;
    draft.steps = { stepDraft(1, 7) };
    const RoutineDraft copy = draft.normalizedHierarchy();
    EXPECT_EQ(copy.steps[0].position, 0);
    EXPECT_EQ(draft.steps[0].position, 7);
}

TEST(RoutineDraftListing, RootNodesAndChildStepsOrderTies)
{
    RoutineDraft draft;
    draft.steps = { stepDraft(10, 0), stepDraft(9, 1), stepDraft(100, 1), stepDraft(3, 0, 20), stepDraft(2, 0, 20),
        stepDraft(4, 0, 77) };
    draft.groups = { groupDraft(20, 0) };
    // Before normalising, ties fall back to the id text: "group:" before "step:", "step:100" before "step:9".
    const std::vector<RoutineDraftRootNode> expected { RoutineDraftRootNode::group(20), RoutineDraftRootNode::step(10),
        RoutineDraftRootNode::step(100), RoutineDraftRootNode::step(9) };
    EXPECT_EQ(draft.rootNodes(), expected) << "orphans are not listed";

    std::vector<std::uint32_t> childIds;
    for (const RoutineStepDraft& child : draft.childSteps(20)) {
        childIds.push_back(child.stepId);
    }
    EXPECT_EQ(childIds, (std::vector<std::uint32_t> { 2, 3 }));
    EXPECT_EQ(draft.childSteps(0).size(), 3u);
    EXPECT_TRUE(draft.childSteps(55).empty());

    draft.normalizeHierarchy();
    // The orphan comes back to the root; children on equal positions keep their list order.
    EXPECT_EQ(shape(draft), "s10 s4 g20[s3 s2] s9 s100");
}

// The emptiness test agrees with the listing, orphans included, without ordering anything.
TEST(RoutineDraftListing, HasRootNodesAgreesWithTheListing)
{
    const struct {
        const char* what;
        std::vector<RoutineStepDraft> steps;
        std::vector<RoutineGroupDraft> groups;
        bool expected;
    } cases[] = {
        { "nothing", {}, {}, false },
        { "only an orphan step", { stepDraft(4, 0, 77) }, {}, false },
        { "a root step", { stepDraft(4, 0, 77), stepDraft(5, 1) }, {}, true },
        { "an empty group", {}, { groupDraft(20, 0) }, true },
        { "a group with a step", { stepDraft(3, 0, 20) }, { groupDraft(20, 0) }, true },
    };
    for (const auto& entry : cases) {
        RoutineDraft draft;
        draft.steps = entry.steps;
        draft.groups = entry.groups;
        EXPECT_EQ(draft.hasRootNodes(), entry.expected) << entry.what;
        EXPECT_EQ(draft.hasRootNodes(), !draft.rootNodes().empty()) << entry.what;
    }
}

TEST(RoutineDraftAppend, NewStepGoesToTheEndOfTheRootWithDefaults)
{
    RoutineDraft empty;
    const RoutineStepDraft first = empty.appendRootStep();
    EXPECT_EQ(first.position, 0);
    EXPECT_EQ(first.parentId, 0u);
    EXPECT_EQ(first.seconds, 60);
    EXPECT_EQ(first.tagId, "");
    EXPECT_EQ(first.instruction, "");
    EXPECT_FALSE(first.unstoppable);
    EXPECT_NE(first.stepId, 0u);
    ASSERT_EQ(empty.steps.size(), 1u);
    EXPECT_EQ(empty.steps[0], first);
    empty.label = "New";
    EXPECT_FALSE(empty.isValid()) << "a new step has no tag yet";

    RoutineDraft draft = sampleDraft();
    const RoutineStepDraft step = draft.appendRootStep();
    EXPECT_EQ(step.position, 4);
    EXPECT_EQ(shape(draft), "s1 g10[s2 s3 s4] s5 g20[s6] s" + std::to_string(step.stepId));
}

TEST(RoutineDraftAppend, NewNodeIdsAvoidEveryStepAndGroupId)
{
    // Draws of 4 and 9 give the taken ids 5 (a step) and 10 (a group); 29 gives the free 30.
    test::SequenceRandomSource source({ 4, 9, 29 });
    ScopedDefaultRandomSource scoped(source);
    RoutineDraft draft = sampleDraft();
    EXPECT_EQ(draft.appendRootStep().stepId, 30u);

    test::SequenceRandomSource groupSource({ 0, 19, 6 });
    ScopedDefaultRandomSource groupScoped(groupSource);
    const RoutineGroupDraft group = draft.appendGroup();
    EXPECT_EQ(group.groupId, 7u);
    EXPECT_EQ(group.label, "Group");
    EXPECT_EQ(group.mode, RoutineGroupMode::timebox);
    EXPECT_EQ(group.timeLimitSeconds, 900);
    EXPECT_EQ(group.position, 5);
    EXPECT_EQ(shape(draft), "s1 g10[s2 s3 s4] s5 g20[s6] s30 g7[]");

    RoutineDraft withGroup = sampleDraft();
    withGroup.appendGroup();
    EXPECT_TRUE(withGroup.isValid()) << "a new group is valid";
}

TEST(RoutineDraftMoveStep, MovesBetweenRootAndGroups)
{
    struct Case {
        std::uint32_t stepId;
        std::uint32_t toParentId;
        std::int64_t position;
        const char* expected;
    };
    const Case cases[] = {
        { 5, 0, 1, "s1 s5 g10[s2 s3 s4] g20[s6]" },
        { 3, 0, 0, "s3 s1 g10[s2 s4] s5 g20[s6]" },
        { 6, 0, 0, "s6 s1 g10[s2 s3 s4] s5 g20[]" },
        { 1, 10, 1, "g10[s2 s1 s3 s4] s5 g20[s6]" },
        { 2, 10, 2, "s1 g10[s3 s4 s2] s5 g20[s6]" },
        { 4, 20, 0, "s1 g10[s2 s3] s5 g20[s4 s6]" },
        { 5, 0, -3, "s5 s1 g10[s2 s3 s4] g20[s6]" },
        { 1, 0, 99, "g10[s2 s3 s4] s5 g20[s6] s1" },
        { 2, 20, std::numeric_limits<std::int64_t>::max(), "s1 g10[s3 s4] s5 g20[s6 s2]" },
        { 3, 10, std::numeric_limits<std::int64_t>::min(), "s1 g10[s3 s2 s4] s5 g20[s6]" },
        { 99, 0, 0, "s1 g10[s2 s3 s4] s5 g20[s6]" },
        { 1, 77, 0, "s1 g10[s2 s3 s4] s5 g20[s6]" },
    };
    for (const Case& move : cases) {
        RoutineDraft draft = sampleDraft();
        draft.moveStep(move.stepId, move.toParentId, move.position);
        EXPECT_EQ(shape(draft), move.expected) << move.stepId << " -> " << move.toParentId << " @" << move.position;
        EXPECT_EQ(normalisationFault(draft), "") << move.stepId;
    }
}

TEST(RoutineDraftMoveRootNode, MovesOnlyRootEntries)
{
    struct Case {
        RoutineDraftRootNode node;
        std::int64_t index;
        const char* expected;
    };
    const Case cases[] = {
        { RoutineDraftRootNode::step(1), 2, "g10[s2 s3 s4] s5 s1 g20[s6]" },
        { RoutineDraftRootNode::group(20), -1, "g20[s6] s1 g10[s2 s3 s4] s5" },
        { RoutineDraftRootNode::group(10), 99, "s1 s5 g20[s6] g10[s2 s3 s4]" },
        { RoutineDraftRootNode::step(3), 0, "s1 g10[s2 s3 s4] s5 g20[s6]" },
        { RoutineDraftRootNode::group(77), 0, "s1 g10[s2 s3 s4] s5 g20[s6]" },
    };
    for (const Case& move : cases) {
        RoutineDraft draft = sampleDraft();
        draft.moveRootNode(move.node, move.index);
        EXPECT_EQ(shape(draft), move.expected) << move.node.id() << " @" << move.index;
    }
}

TEST(RoutineDraftRemoveGroup, ChildrenTakeTheGroupsPlace)
{
    const std::pair<std::uint32_t, const char*> cases[] = {
        { 10, "s1 s2 s3 s4 s5 g20[s6]" },
        { 20, "s1 g10[s2 s3 s4] s5 s6" },
        { 77, "s1 g10[s2 s3 s4] s5 g20[s6]" },
    };
    for (const auto& [groupId, expected] : cases) {
        RoutineDraft draft = sampleDraft();
        draft.removeGroup(groupId);
        EXPECT_EQ(shape(draft), expected) << groupId;
        EXPECT_EQ(draft.steps.size(), 6u) << "no step is deleted";
        EXPECT_EQ(normalisationFault(draft), "") << groupId;
    }

    RoutineDraft emptyLast = sampleDraft();
    emptyLast.appendGroup();
    emptyLast.removeGroup(emptyLast.groups.back().groupId);
    EXPECT_EQ(shape(emptyLast), "s1 g10[s2 s3 s4] s5 g20[s6]");
    EXPECT_EQ(emptyLast.groups.size(), 2u);
}

TEST(RoutineDraftEditing, OperationsOnMissingNodesStillNormalise)
{
    const std::pair<const char*, std::function<void(RoutineDraft&)>> operations[] = {
        { "moveStep of an unknown step", [](RoutineDraft& d) { d.moveStep(99, 0, 0); } },
        { "moveStep into an unknown group", [](RoutineDraft& d) { d.moveStep(1, 77, 0); } },
        { "moveRootNode of a grouped step", [](RoutineDraft& d) { d.moveRootNode(RoutineDraftRootNode::step(3), 0); } },
        { "removeGroup of an unknown group", [](RoutineDraft& d) { d.removeGroup(77); } },
    };
    for (const auto& [name, operation] : operations) {
        RoutineDraft draft = sampleDraft();
        // Direct field edits, as an editor makes them: the step's group vanishes, positions gap.
        draft.groups.pop_back();
        draft.steps[4].position = 40;
        operation(draft);
        EXPECT_EQ(shape(draft), "s1 s6 g10[s2 s3 s4] s5") << name;
        EXPECT_EQ(normalisationFault(draft), "") << name;
    }
}

TEST(RoutineDraftEditing, ApplyRootOrderLeavesTheDraftNormalised)
{
    RoutineDraft full = sampleDraft();
    full.applyRootOrder({ RoutineDraftRootNode::group(20), RoutineDraftRootNode::step(5),
        RoutineDraftRootNode::group(10), RoutineDraftRootNode::step(1) });
    EXPECT_EQ(shape(full), "g20[s6] s5 g10[s2 s3 s4] s1");

    // A partial list that takes a grouped step out of its group, with an id the draft does not hold:
    // unlisted entries keep their places by the tie rule and the group closes up.
    RoutineDraft partial = sampleDraft();
    partial.applyRootOrder(
        { RoutineDraftRootNode::step(5), RoutineDraftRootNode::step(3), RoutineDraftRootNode::step(99) });
    EXPECT_EQ(shape(partial), "s1 s5 s3 g10[s2 s4] g20[s6]");
    EXPECT_EQ(normalisationFault(partial), "");
}

// Any sequence of edits keeps the draft normalised and loses no step.
TEST(RoutineDraftEditing, RandomEditSequencesStayNormalised)
{
    test::SequenceRandomSource ids;
    ScopedDefaultRandomSource scoped(ids);
    std::mt19937 random(20240611);
    const auto pick = [&](std::int64_t lower, std::int64_t upper) {
        return std::uniform_int_distribution<std::int64_t>(lower, upper)(random);
    };

    RoutineDraft draft = sampleDraft();
    std::multiset<std::uint32_t> expectedSteps { 1, 2, 3, 4, 5, 6 };
    for (int round = 0; round < 400; ++round) {
        const auto anyStep = [&]() -> std::uint32_t {
            return draft.steps.empty() || pick(0, 9) == 0 ? 999 : draft.steps[pick(0, draft.steps.size() - 1)].stepId;
        };
        const auto anyGroup = [&]() -> std::uint32_t {
            return draft.groups.empty() || pick(0, 9) == 0 ? 888 : draft.groups[pick(0, draft.groups.size() - 1)].groupId;
        };
        std::string operation;
        switch (pick(0, 5)) {
        case 0:
            operation = "appendRootStep";
            expectedSteps.insert(draft.appendRootStep().stepId);
            break;
        case 1:
            operation = "appendGroup";
            draft.appendGroup();
            break;
        case 2: {
            const std::uint32_t step = anyStep();
            const std::uint32_t parent = pick(0, 2) == 0 ? 0 : anyGroup();
            operation = "moveStep " + std::to_string(step) + " to " + std::to_string(parent);
            draft.moveStep(step, parent, pick(-2, 8));
            break;
        }
        case 3: {
            const auto nodes = draft.rootNodes();
            const RoutineDraftRootNode node
                = nodes.empty() ? RoutineDraftRootNode::step(999) : nodes[pick(0, nodes.size() - 1)];
            operation = "moveRootNode " + node.id();
            draft.moveRootNode(node, pick(-2, 8));
            break;
        }
        case 4:
            operation = "removeGroup";
            if (pick(0, 2) == 0) {
                draft.removeGroup(anyGroup());
            }
            break;
        default:
            operation = "direct edit";
            if (!draft.steps.empty()) {
                RoutineStepDraft& step = draft.steps[pick(0, draft.steps.size() - 1)];
                step.position = pick(-3, 12);
                step.parentId = static_cast<std::uint32_t>(pick(0, 1)) * anyGroup();
            }
            draft.normalizeHierarchy();
            break;
        }
        ASSERT_EQ(normalisationFault(draft), "") << "round " << round << ": " << operation;
        std::multiset<std::uint32_t> held;
        for (const RoutineStepDraft& step : draft.steps) {
            held.insert(step.stepId);
        }
        ASSERT_EQ(held, expectedSteps) << "round " << round << ": " << operation;
    }
}

} // namespace
} // namespace tavrik
