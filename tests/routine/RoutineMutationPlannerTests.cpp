#include "TavrikCore/Routine/RoutineMutationPlanner.hpp"

#include "TavrikCore/Routine/RoutineDraft.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace tavrik {
namespace {

using Step = RoutineStepModel;
using Group = RoutineGroupModel;
constexpr auto timebox = RoutineGroupMode::timebox;
constexpr auto rotation = RoutineGroupMode::rotation;

RoutineDetailModel detail(std::vector<Step> steps, std::vector<Group> groups)
{
    return RoutineDetailModel { 99, "ignored", 0, 0, {}, std::move(steps), std::move(groups), true };
}

// One line per command: channel, key, attribute ("-" when none) and the command text.
std::vector<std::string> plan(
    std::uint32_t routineId, const std::optional<RoutineDetailModel>& old, const RoutineDetailModel& updated)
{
    std::vector<std::string> lines;
    for (const auto& command : RoutineMutationPlanner::routineNodeMutationCommands(routineId, old, updated)) {
        EXPECT_FALSE(command.debounce) << command.command;
        lines.push_back(std::string(rawValue(command.channel)) + " " + command.key + " "
            + command.attribute.value_or("-") + " | " + command.command);
    }
    return lines;
}

TEST(RoutineMutationPlanner, CreateSendsGroupsThenStepsThenEveryMove)
{
    const RoutineDetailModel created
        = detail({ { 8, 0, 7, "12", 45, "Stretch", true }, { 9, 1, 0, "3", 30, "Say \"go\"", false } },
            { { 7, 0, "Warm up", rotation, 600 } });

    const std::vector<std::string> expected {
        R"(groups 3:7 - | add routineId=3 id=7 position=0 label="Warm up" mode=rotation timeLimitSeconds=0)",
        R"(steps 3:9 - | create routineId=3 id=9 parentId=0 position=1 tagId="3" seconds=30 instruction="Say \"go\"" unstoppable=0)",
        R"(steps 3:8 - | create routineId=3 id=8 parentId=7 position=0 tagId="12" seconds=45 instruction="Stretch" unstoppable=1)",
        R"(groups 3:7 position | move routineId=3 id=7 position=0)",
        R"(steps 3:9 position | move routineId=3 id=9 parentId=0 position=1)",
        R"(steps 3:8 position | move routineId=3 id=8 parentId=7 position=0)",
    };
    EXPECT_EQ(plan(3, std::nullopt, created), expected);
}

TEST(RoutineMutationPlanner, TellsUnchangedStepsAndGroups)
{
    const RoutineDetailModel stored
        = detail({ { 1, 0, 0, "4", 30, "Caf\u00e9", false }, { 2, 0, 9, "5", 40, "b", true } },
            { { 9, 1, "Caf\u00e9", rotation, 0 } });

    RoutineDetailModel reordered = stored;
    std::swap(reordered.steps[0], reordered.steps[1]);
    RoutineDetailModel decomposed = stored;
    decomposed.steps[0].instruction = "Cafe\u0301";
    decomposed.groups[0].label = "Cafe\u0301";
    RoutineDetailModel renamed = stored;
    renamed.id = 5;
    renamed.label = "Other";
    renamed.startTagIds = { 3 };
    renamed.expectedStepCount = 7;
    const RoutineDetailModel repeatedIds
        = detail({ { 1, 0, 0, "1", 30, "a", false }, { 1, 1, 0, "1", 40, "b", false } }, {});

    const std::pair<const char*, std::pair<RoutineDetailModel, RoutineDetailModel>> cases[] = {
        { "same details", { stored, stored } },
        { "other list order", { stored, reordered } },
        { "canonically equivalent texts", { stored, decomposed } },
        { "only routine fields differ", { stored, renamed } },
        { "repeated ids in the same order", { repeatedIds, repeatedIds } },
        { "nothing at all", { detail({}, {}), detail({}, {}) } },
    };
    for (const auto& [name, details] : cases) {
        EXPECT_TRUE(RoutineMutationPlanner::stepsAndGroupsUnchanged(details.first, details.second)) << name;
    }

    RoutineDetailModel moved = stored;
    moved.steps[0].position = 1;
    RoutineDetailModel regrouped = stored;
    regrouped.steps[0].parentId = 9;
    RoutineDetailModel edited = stored;
    edited.groups[0].timeLimitSeconds = 5;
    RoutineDetailModel added = stored;
    added.steps.push_back(added.steps[0]);
    added.steps.back().stepId = 3;
    const std::pair<const char*, RoutineDetailModel> changes[] = {
        { "moved", moved },
        { "regrouped", regrouped },
        { "stored limit", edited },
        { "added", added },
    };
    for (const auto& [name, changed] : changes) {
        EXPECT_FALSE(RoutineMutationPlanner::stepsAndGroupsUnchanged(stored, changed)) << name;
        EXPECT_FALSE(RoutineMutationPlanner::stepsAndGroupsUnchanged(changed, stored)) << name;
    }
}

TEST(RoutineMutationPlanner, ChangedPlacesMoveEveryNodeByItsIndex)
{
    // The device holds the routine renumbered; the new one has gaps and a step/group tie, so only places
    // changed: every node gets its move, by its index in the root order rather than its stored position.
    const RoutineDetailModel stored = detail({ { 1, 0, 0, "1", 30, "a", false }, { 2, 1, 0, "1", 30, "b", false },
                                                 { 3, 1, 20, "1", 30, "c", false }, { 4, 0, 20, "1", 30, "d", false } },
        { { 20, 2, "G", timebox, 900 } });
    const RoutineDetailModel routine = detail({ { 1, 0, 0, "1", 30, "a", false }, { 2, 5, 0, "1", 30, "b", false },
                                                  { 3, 4, 20, "1", 30, "c", false }, { 4, 2, 20, "1", 30, "d", false } },
        { { 20, 5, "G", timebox, 900 } });

    const std::vector<std::string> expected {
        "steps 4:1 position | move routineId=4 id=1 parentId=0 position=0",
        "steps 4:2 position | move routineId=4 id=2 parentId=0 position=1",
        "groups 4:20 position | move routineId=4 id=20 position=2",
        "steps 4:4 position | move routineId=4 id=4 parentId=20 position=0",
        "steps 4:3 position | move routineId=4 id=3 parentId=20 position=1",
    };
    EXPECT_EQ(plan(4, stored, routine), expected);
    EXPECT_EQ(plan(4, routine, routine), expected) << "the plan moves every node even when nothing changed";

    // One changed field is enough for the whole set of moves, unchanged nodes included.
    RoutineDetailModel edited = stored;
    edited.steps[1].seconds = 31;
    const std::vector<std::string> editedPlan {
        "steps 4:2 seconds | update routineId=4 id=2 seconds=31",
        "steps 4:1 position | move routineId=4 id=1 parentId=0 position=0",
        "steps 4:2 position | move routineId=4 id=2 parentId=0 position=1",
        "groups 4:20 position | move routineId=4 id=20 position=2",
        "steps 4:4 position | move routineId=4 id=4 parentId=20 position=0",
        "steps 4:3 position | move routineId=4 id=3 parentId=20 position=1",
    };
    EXPECT_EQ(plan(4, stored, edited), editedPlan);
}

TEST(RoutineMutationPlanner, UpdatePlanIsOrderedCommandByCommand)
{
    const RoutineDetailModel old = detail(
        {
            { 1, 1, 0, "1", 30, "Stand", false },
            { 2, 0, 10, "2", 60, "Jog", false },
            { 3, 1, 10, "3", 45, "Skip", false },
            { 4, 0, 20, "4", 20, "Plank", false },
            { 5, 0, 30, "5", 60, "Breathe", false },
            { 6, 1, 30, "6", 60, "Stretch", false },
        },
        {
            { 10, 0, "Warm up", timebox, 900 },
            { 20, 2, "Core", rotation, 0 },
            { 30, 3, "Cool down", timebox, 300 },
        });
    const RoutineDetailModel updated = detail(
        {
            { 1, 0, 0, "1", 30, "Stand", false }, // only its place changes
            { 2, 1, 10, "2", 90, "Jog", true }, // seconds and flag change
            { 3, 1, 20, "3", 45, "Skip", false }, // moves to another group
            { 4, 0, 20, "4", 20, "Plank \"hold\" \\ breathe", false }, // new instruction
            { 6, 4, 0, "7", 60, "Stretch", false }, // leaves its deleted group, new tag
            { 7, 0, 40, "8", 15, "Rest", false }, // new, in a new group
            { 8, 0, 10, "9", 10, "Warm", false }, // new, first in an old group
        },
        {
            { 10, 1, "Warm-up", timebox, 600 },
            { 20, 2, "Core", timebox, 300 },
            { 40, 3, "Finish", rotation, 0 },
        });

    const std::vector<std::string> expected {
        R"(groups 12:40 - | add routineId=12 id=40 position=3 label="Finish" mode=rotation timeLimitSeconds=0)",
        R"(steps 12:8 - | create routineId=12 id=8 parentId=10 position=0 tagId="9" seconds=10 instruction="Warm" unstoppable=0)",
        R"(steps 12:7 - | create routineId=12 id=7 parentId=40 position=0 tagId="8" seconds=15 instruction="Rest" unstoppable=0)",
        R"(groups 12:10 label | update routineId=12 id=10 label="Warm-up")",
        R"(groups 12:10 modeAndTimeLimit | update routineId=12 id=10 mode=timebox timeLimitSeconds=600)",
        R"(groups 12:20 modeAndTimeLimit | update routineId=12 id=20 mode=timebox timeLimitSeconds=300)",
        R"(steps 12:2 seconds | update routineId=12 id=2 seconds=90)",
        R"(steps 12:2 unstoppable | update routineId=12 id=2 unstoppable=1)",
        R"(steps 12:4 instruction | update routineId=12 id=4 instruction="Plank \"hold\" \\ breathe")",
        R"(steps 12:6 tagId | update routineId=12 id=6 tagId="7")",
        R"(steps 12:1 position | move routineId=12 id=1 parentId=0 position=0)",
        R"(groups 12:10 position | move routineId=12 id=10 position=1)",
        R"(groups 12:20 position | move routineId=12 id=20 position=2)",
        R"(groups 12:40 position | move routineId=12 id=40 position=3)",
        R"(steps 12:6 position | move routineId=12 id=6 parentId=0 position=4)",
        R"(steps 12:8 position | move routineId=12 id=8 parentId=10 position=0)",
        R"(steps 12:2 position | move routineId=12 id=2 parentId=10 position=1)",
        R"(steps 12:4 position | move routineId=12 id=4 parentId=20 position=0)",
        R"(steps 12:3 position | move routineId=12 id=3 parentId=20 position=1)",
        R"(steps 12:7 position | move routineId=12 id=7 parentId=40 position=0)",
        R"(steps 12:5 - | delete routineId=12 id=5)",
        R"(groups 12:30 - | delete routineId=12 id=30)",
    };
    EXPECT_EQ(plan(12, old, updated), expected);
}

TEST(RoutineMutationPlanner, GroupModeAndLimitTravelTogether)
{
    struct Case {
        Group before;
        Group after;
        std::vector<std::string> updates;
    };
    const Case cases[] = {
        { { 5, 0, "G", timebox, 900 }, { 5, 0, "G", rotation, 900 },
            { "groups 1:5 modeAndTimeLimit | update routineId=1 id=5 mode=rotation timeLimitSeconds=0" } },
        { { 5, 0, "G", timebox, 900 }, { 5, 0, "G", timebox, 600 },
            { "groups 1:5 modeAndTimeLimit | update routineId=1 id=5 mode=timebox timeLimitSeconds=600" } },
        // Stored values decide, even when both limits mean 0.
        { { 5, 0, "G", rotation, 5 }, { 5, 0, "G", rotation, 0 },
            { "groups 1:5 modeAndTimeLimit | update routineId=1 id=5 mode=rotation timeLimitSeconds=0" } },
        { { 5, 0, "Warm up", rotation, 0 }, { 5, 0, "Stretch", timebox, 60 },
            { R"(groups 1:5 label | update routineId=1 id=5 label="Stretch")",
                "groups 1:5 modeAndTimeLimit | update routineId=1 id=5 mode=timebox timeLimitSeconds=60" } },
        { { 5, 0, "G", rotation, 0 }, { 5, 0, "G", rotation, 0 }, {} },
    };
    for (const Case& change : cases) {
        std::vector<std::string> expected = change.updates;
        expected.push_back("groups 1:5 position | move routineId=1 id=5 position=0");
        EXPECT_EQ(plan(1, detail({}, { change.before }), detail({}, { change.after })), expected);
    }
}

TEST(RoutineMutationPlanner, TextsCompareCanonically)
{
    // "Café" composed and decomposed are the same text, so the decomposed label is not sent; the real
    // changes are.
    const RoutineDetailModel old
        = detail({ { 1, 0, 0, "4", 30, "Caf\u00e9", false } }, { { 2, 1, "Caf\u00e9", timebox, 60 } });
    const RoutineDetailModel same
        = detail({ { 1, 0, 0, "4", 30, "Cafe\u0301", false } }, { { 2, 1, "Cafe\u0301", timebox, 60 } });
    EXPECT_EQ(plan(1, old, same).size(), 2u) << "only the two moves";
    const RoutineDetailModel changed
        = detail({ { 1, 0, 0, "5", 30, "Cafe", false } }, { { 2, 1, "Cafe\u0301", timebox, 60 } });
    const std::vector<std::string> expected {
        R"(steps 1:1 tagId | update routineId=1 id=1 tagId="5")",
        R"(steps 1:1 instruction | update routineId=1 id=1 instruction="Cafe")",
        "steps 1:1 position | move routineId=1 id=1 parentId=0 position=0",
        "groups 1:2 position | move routineId=1 id=2 position=1",
    };
    EXPECT_EQ(plan(1, old, changed), expected);
}

TEST(RoutineMutationPlanner, DeletesComeLastStepsBeforeGroups)
{
    const RoutineDetailModel old = detail(
        { { 1, 0, 0, "1", 30, "a", false }, { 2, 0, 9, "1", 30, "b", false }, { 3, 1, 9, "1", 30, "c", false } },
        { { 9, 1, "G", timebox, 60 } });
    // Step 1 is replaced by step 4 in the same place; group 9 goes with its children.
    const RoutineDetailModel updated = detail({ { 4, 0, 0, "1", 30, "a", false } }, {});

    const std::vector<std::string> expected {
        R"(steps 5:4 - | create routineId=5 id=4 parentId=0 position=0 tagId="1" seconds=30 instruction="a" unstoppable=0)",
        "steps 5:4 position | move routineId=5 id=4 parentId=0 position=0",
        "steps 5:1 - | delete routineId=5 id=1",
        "steps 5:2 - | delete routineId=5 id=2",
        "steps 5:3 - | delete routineId=5 id=3",
        "groups 5:9 - | delete routineId=5 id=9",
    };
    EXPECT_EQ(plan(5, old, updated), expected);
}

TEST(RoutineMutationPlanner, StepWithoutItsGroupIsCreatedButNotMoved)
{
    const RoutineDetailModel updated = detail({ { 1, 0, 77, "1", 30, "a", false } }, {});
    const std::vector<std::string> expected {
        R"(steps 2:1 - | create routineId=2 id=1 parentId=77 position=0 tagId="1" seconds=30 instruction="a" unstoppable=0)",
    };
    EXPECT_EQ(plan(2, std::nullopt, updated), expected);
}

TEST(RoutineMutationPlanner, NegativeValuesAndRepeatedIdsStillGiveAPlan)
{
    // The first node with a repeated id stands for it.
    const RoutineDetailModel old = detail({ { 1, 0, 0, "1", 30, "a", false }, { 1, 1, 0, "1", 40, "b", false } }, {});
    const RoutineDetailModel updated = detail({ { 1, 0, 0, "1", -5, "a", false }, { 1, 1, 0, "1", 40, "b", false } }, {});
    const std::vector<std::string> expected {
        "steps 6:1 seconds | update routineId=6 id=1 seconds=-5",
        "steps 6:1 seconds | update routineId=6 id=1 seconds=40",
        R"(steps 6:1 instruction | update routineId=6 id=1 instruction="b")",
        "steps 6:1 position | move routineId=6 id=1 parentId=0 position=0",
        "steps 6:1 position | move routineId=6 id=1 parentId=0 position=1",
    };
    EXPECT_EQ(plan(6, old, updated), expected);
}

// The detail the controller saves: built from the normalised draft.
RoutineDetailModel savedDetail(const RoutineDraft& draft)
{
    RoutineDetailModel saved = detail({}, {});
    for (const RoutineStepDraft& step : draft.steps) {
        saved.steps.emplace_back(
            step.stepId, step.position, step.parentId, step.tagId, step.seconds, step.instruction, step.unstoppable);
    }
    for (const RoutineGroupDraft& group : draft.groups) {
        saved.groups.emplace_back(group.groupId, group.position, group.label, group.mode, group.timeLimitSeconds);
    }
    return saved;
}

TEST(RoutineMutationPlanner, PlansAnEditedDraft)
{
    const RoutineDetailModel stored = detail(
        { { 1, 0, 0, "1", 30, "a", false }, { 2, 0, 9, "1", 30, "b", false }, { 3, 1, 9, "1", 30, "c", false } },
        { { 9, 1, "G", timebox, 60 } });
    RoutineDraft draft(stored);
    EXPECT_TRUE(RoutineMutationPlanner::stepsAndGroupsUnchanged(stored, savedDetail(draft))) << "saved without edits";

    RoutineDraft renamed = draft;
    renamed.label = "Renamed";
    renamed.startTagIds = { 4 };
    EXPECT_TRUE(RoutineMutationPlanner::stepsAndGroupsUnchanged(stored, savedDetail(renamed)))
        << "name and tags are the caller's";

    draft.moveStep(3, 0, 0);
    draft.removeGroup(9);
    const std::vector<std::string> expected {
        "steps 8:3 position | move routineId=8 id=3 parentId=0 position=0",
        "steps 8:1 position | move routineId=8 id=1 parentId=0 position=1",
        "steps 8:2 position | move routineId=8 id=2 parentId=0 position=2",
        "groups 8:9 - | delete routineId=8 id=9",
    };
    EXPECT_EQ(plan(8, stored, savedDetail(draft)), expected);

    // A device copy with gaps in its positions is renumbered by the save of the normalised draft.
    RoutineDetailModel gapped = stored;
    gapped.groups[0].position = 4;
    const std::vector<std::string> renumbered {
        "steps 8:1 position | move routineId=8 id=1 parentId=0 position=0",
        "groups 8:9 position | move routineId=8 id=9 position=1",
        "steps 8:2 position | move routineId=8 id=2 parentId=9 position=0",
        "steps 8:3 position | move routineId=8 id=3 parentId=9 position=1",
    };
    EXPECT_EQ(plan(8, gapped, savedDetail(RoutineDraft(gapped))), renumbered);
}

} // namespace
} // namespace tavrik
