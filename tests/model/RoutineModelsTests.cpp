#include "TavrikCore/Model/RoutineModels.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

namespace tavrik {
namespace {

RoutineStepPayload stepPayload(std::uint32_t id, std::int64_t position = 0, std::string instruction = "Step")
{
    return { id, position, 0, "1", 30, std::move(instruction), 0 };
}

std::vector<std::uint32_t> stepIds(const RoutineDetailModel& detail)
{
    std::vector<std::uint32_t> ids;
    for (const RoutineStepModel& step : detail.steps) {
        ids.push_back(step.stepId);
    }
    return ids;
}

RoutineDetailModel detailWithSteps(std::vector<std::uint32_t> ids, std::int64_t expectedStepCount = 0)
{
    RoutineDetailModel detail { 1, "Morning", expectedStepCount, 0, {}, {}, {}, false };
    for (std::size_t index = 0; index < ids.size(); ++index) {
        detail.steps.emplace_back(ids[index], static_cast<std::int64_t>(index), 0, "1", 30, "Held", false);
    }
    return detail;
}

// A routine with two root steps, a group holding one step, and two start tags.
RoutineDetailModel sampleDetail()
{
    return RoutineDetailModel { 7, "Morning", 3, 1, { 4, 2 },
        { { 10, 0, 0, "4", 60, "Brush teeth", false }, { 11, 1, 0, "2", 30, "Wash", true },
            { 12, 0, 20, "4", 45, "Stretch", false } },
        { { 20, 2, "Chores", RoutineGroupMode::timebox, 900 } }, true };
}

TEST(RoutineStepModel, EqualityAndSignatureIgnoreTheListIdentity)
{
    const RoutineStepPayload entry { 3, 1, 2, "7", 30, "Wash", 1 };
    RoutineDetailModel first;
    first.appendSteps(0, { entry });
    RoutineDetailModel second;
    second.appendSteps(0, { entry });
    ASSERT_EQ(first.steps.size(), 1u);
    EXPECT_NE(first.steps[0].id, second.steps[0].id);
    EXPECT_EQ(first.steps[0], second.steps[0]);
    EXPECT_EQ(first.steps[0].syncSignature(), second.steps[0].syncSignature());
    EXPECT_EQ(first, second);

    const RoutineStepModel copy = first.steps[0];
    EXPECT_EQ(copy.id, first.steps[0].id);

    const RoutineGroupModel group { 5, 0, "G", RoutineGroupMode::rotation, 0 };
    const RoutineGroupModel rebuilt { 5, 0, "G", RoutineGroupMode::rotation, 0 };
    EXPECT_NE(group.id, rebuilt.id);
    EXPECT_EQ(group, rebuilt);
    EXPECT_EQ(group.syncSignature(), rebuilt.syncSignature());
}

TEST(RoutineStepModel, EveryDeviceFieldTakesPartInEqualityAndSignature)
{
    const RoutineStepModel base { 1, 2, 3, "4", 5, "six", false };
    std::vector<RoutineStepModel> variants(7, base);
    variants[0].stepId = 9;
    variants[1].position = 9;
    variants[2].parentId = 9;
    variants[3].tagId = "9";
    variants[4].seconds = 9;
    variants[5].instruction = "nine";
    variants[6].unstoppable = true;
    for (std::size_t index = 0; index < variants.size(); ++index) {
        EXPECT_NE(variants[index], base) << index;
        EXPECT_NE(variants[index].syncSignature(), base.syncSignature()) << index;
    }

    const RoutineGroupModel group { 1, 2, "G", RoutineGroupMode::timebox, 60 };
    std::vector<RoutineGroupModel> groupVariants(5, group);
    groupVariants[0].groupId = 9;
    groupVariants[1].position = 9;
    groupVariants[2].label = "H";
    groupVariants[3].mode = RoutineGroupMode::rotation;
    groupVariants[4].timeLimitSeconds = 61;
    for (std::size_t index = 0; index < groupVariants.size(); ++index) {
        EXPECT_NE(groupVariants[index], group) << index;
        EXPECT_NE(groupVariants[index].syncSignature(), group.syncSignature()) << index;
    }
}

TEST(RoutineDetailModel, PageTrimsFromItsStartIndex)
{
    struct Case {
        std::int64_t start;
        std::vector<std::uint32_t> expected;
    };
    // Held steps 1...5; the page brings id 50.
    const Case cases[] = {
        { 0, { 50 } },
        { 3, { 1, 2, 3, 50 } },
        { 5, { 1, 2, 3, 4, 5, 50 } },
        { 7, { 1, 2, 3, 4, 5, 50 } },
        { -2, { 50 } },
    };
    for (const Case& c : cases) {
        RoutineDetailModel detail = detailWithSteps({ 1, 2, 3, 4, 5 });
        detail.appendSteps(c.start, { stepPayload(50) });
        EXPECT_EQ(stepIds(detail), c.expected) << c.start;
    }

    RoutineDetailModel emptied = detailWithSteps({ 1, 2 });
    emptied.appendSteps(0, {});
    EXPECT_TRUE(emptied.steps.empty());
    EXPECT_TRUE(emptied.isComplete());
}

TEST(RoutineDetailModel, PageGivesEveryAddedStepAFreeNonZeroId)
{
    struct Case {
        const char* name;
        std::vector<std::uint32_t> held;
        std::int64_t start;
        std::vector<std::uint32_t> page;
        std::vector<std::uint32_t> expected;
    };
    const Case cases[] = {
        { "zeros and repeats on empty", {}, 0, { 0, 0, 7, 7 }, { 1, 2, 7, 8 } },
        { "id of a kept step", { 4, 9 }, 2, { 4, 0 }, { 4, 9, 10, 11 } },
        { "kept zero stays zero", { 0, 3 }, 2, { 0 }, { 0, 3, 4 } },
        { "trimmed ids are free again", { 1, 2, 3 }, 1, { 3, 2 }, { 1, 3, 2 } },
        { "free id skips later page ids", {}, 0, { 0, 2, 0, 0 }, { 1, 2, 3, 4 } },
        { "largest id wraps to 1", { 4294967295u }, 1, { 0, 0 }, { 4294967295u, 1, 2 } },
        { "page reaches the top", { 2 }, 1, { 4294967295u, 0, 0 }, { 2, 4294967295u, 1, 3 } },
    };
    for (const Case& c : cases) {
        RoutineDetailModel detail = detailWithSteps(c.held);
        std::vector<RoutineStepPayload> page;
        for (const std::uint32_t id : c.page) {
            page.push_back(stepPayload(id));
        }
        detail.appendSteps(c.start, page);
        EXPECT_EQ(stepIds(detail), c.expected) << c.name;
    }
}

TEST(RoutineDetailModel, PageCopiesTheEntryFields)
{
    RoutineDetailModel detail;
    detail.appendSteps(0, { { 6, 3, 20, "12", 90, "Pack bag", 2 }, { 7, 4, 0, "", 1, "", 0 } });
    ASSERT_EQ(detail.steps.size(), 2u);
    EXPECT_EQ(detail.steps[0], (RoutineStepModel { 6, 3, 20, "12", 90, "Pack bag", true }));
    EXPECT_EQ(detail.steps[1], (RoutineStepModel { 7, 4, 0, "", 1, "", false }));
}

TEST(RoutineDetailModel, CompletionFollowsTheAnnouncedCount)
{
    RoutineDetailModel detail = detailWithSteps({}, 3);
    detail.appendSteps(0, { stepPayload(1), stepPayload(2) });
    EXPECT_FALSE(detail.isComplete());
    EXPECT_EQ(detail.loadingProgressDescription(), "Loading steps (2/3)");
    detail.appendSteps(2, { stepPayload(3) });
    EXPECT_TRUE(detail.isComplete());

    // A later, shorter page does not make a complete detail load again.
    detail.appendSteps(0, { stepPayload(1) });
    EXPECT_TRUE(detail.isComplete());

    RoutineDetailModel forced = detailWithSteps({ 1, 2 }, 3);
    forced.refreshCompletionState();
    EXPECT_FALSE(forced.isComplete());
    forced.forceMarkComplete();
    EXPECT_TRUE(forced.isComplete());
    EXPECT_EQ(forced.expectedStepCount, 3);

    RoutineDetailModel unannounced = detailWithSteps({ 1, 2, 3, 4 }, 0);
    unannounced.forceMarkComplete();
    EXPECT_EQ(unannounced.expectedStepCount, 4);

    RoutineDetailModel nothingAnnounced = detailWithSteps({ 1 }, 0);
    nothingAnnounced.refreshCompletionState();
    EXPECT_TRUE(nothingAnnounced.isComplete());
}

TEST(RoutineDetailModel, LoadingProgressDescription)
{
    struct Case {
        std::int64_t expected;
        std::size_t held;
        std::string text;
    };
    const Case cases[] = {
        // One ellipsis character (U+2026), not three dots.
        { 0, 0, "Loading steps\xE2\x80\xA6" },
        { 0, 5, "Loading steps\xE2\x80\xA6" },
        { -1, 2, "Loading steps\xE2\x80\xA6" },
        { 120, 40, "Loading steps (40/120)" },
        { 10, 12, "Loading steps (10/10)" },
        { 1, 0, "Loading steps (0/1)" },
    };
    for (const Case& c : cases) {
        RoutineDetailModel detail = detailWithSteps(std::vector<std::uint32_t>(c.held, 1), c.expected);
        EXPECT_EQ(detail.loadingProgressDescription(), c.text) << c.expected << " " << c.held;
    }
}

TEST(RoutineDetailModel, SignaturesIgnoreArrivalOrderButNotEquality)
{
    const RoutineDetailModel detail = sampleDetail();
    RoutineDetailModel reordered = detail;
    std::swap(reordered.steps[0], reordered.steps[2]);
    std::swap(reordered.startTagIds[0], reordered.startTagIds[1]);
    reordered.groups.insert(
        reordered.groups.begin(), RoutineGroupModel { 21, 3, "Later", RoutineGroupMode::rotation, 0 });
    RoutineDetailModel withSecondGroup = detail;
    withSecondGroup.groups.push_back(RoutineGroupModel { 21, 3, "Later", RoutineGroupMode::rotation, 0 });

    EXPECT_NE(reordered, withSecondGroup);
    EXPECT_EQ(reordered.syncSignature(), withSecondGroup.syncSignature());
    EXPECT_EQ(reordered.stepsSyncSignature(), withSecondGroup.stepsSyncSignature());

    RoutineDetailModel rebuilt = sampleDetail();
    EXPECT_EQ(rebuilt, detail);
    EXPECT_NE(rebuilt.steps[0].id, detail.steps[0].id);
    EXPECT_EQ(rebuilt.syncSignature(), detail.syncSignature());
}

TEST(RoutineDetailModel, StepsSignatureKeepsRoutineMetadataOut)
{
    const RoutineDetailModel detail = sampleDetail();
    struct Case {
        const char* name;
        void (*edit)(RoutineDetailModel&);
        bool stepsSignatureChanges;
    };
    const Case cases[] = {
        { "id", [](RoutineDetailModel& d) { d.id = 8; }, false },
        { "label", [](RoutineDetailModel& d) { d.label = "Evening"; }, false },
        { "start tags", [](RoutineDetailModel& d) { d.startTagIds.push_back(9); }, false },
        { "completion", [](RoutineDetailModel& d) { d.hasReceivedAllSteps = false; }, false },
        { "expected steps", [](RoutineDetailModel& d) { d.expectedStepCount = 4; }, true },
        { "expected groups", [](RoutineDetailModel& d) { d.expectedGroupCount = 2; }, true },
        { "step instruction", [](RoutineDetailModel& d) { d.steps[1].instruction = "Rinse"; }, true },
        { "step moved", [](RoutineDetailModel& d) { d.steps[2].parentId = 0; }, true },
        { "step removed", [](RoutineDetailModel& d) { d.steps.pop_back(); }, true },
        { "group mode", [](RoutineDetailModel& d) { d.groups[0].mode = RoutineGroupMode::rotation; }, true },
    };
    for (const Case& c : cases) {
        RoutineDetailModel edited = detail;
        c.edit(edited);
        EXPECT_NE(edited.syncSignature(), detail.syncSignature()) << c.name;
        EXPECT_EQ(edited.stepsSyncSignature() != detail.stepsSyncSignature(), c.stepsSignatureChanges) << c.name;
    }
}

// The routine draft signs its content with the same node feed; a detail whose expected counts match
// its lists and that has all its steps must give the very same value.
TEST(RoutineDetailModel, NodeFeedIsSharedWithOtherStepTypes)
{
    struct Step {
        std::uint32_t stepId;
        std::int64_t position;
        std::uint32_t parentId;
        std::string tagId;
        std::int64_t seconds;
        std::string instruction;
        bool unstoppable;

        auto fields() const { return std::tie(stepId, position, parentId, tagId, seconds, instruction, unstoppable); }
    };
    struct Group {
        std::uint32_t groupId;
        std::int64_t position;
        std::string label;
        RoutineGroupMode mode;
        std::int64_t timeLimitSeconds;
    };
    const RoutineDetailModel detail = sampleDetail();
    std::vector<Step> steps;
    for (const RoutineStepModel& step : detail.steps) {
        steps.push_back(
            { step.stepId, step.position, step.parentId, step.tagId, step.seconds, step.instruction, step.unstoppable });
    }
    std::reverse(steps.begin(), steps.end());
    const std::vector<Group> groups { { 20, 2, "Chores", RoutineGroupMode::timebox, 900 } };

    const std::int64_t draftLike = makeSyncSignature([&](SyncHasher& hasher) {
        hasher.combine(std::uint32_t { 7 });
        hasher.combine("Morning");
        hasher.combine(steps.size());
        hasher.combine(groups.size());
        hasher.combine(std::vector<std::uint32_t> { 2, 4 });
        hasher.combine(steps.size());
        hasher.combine(groups.size());
        hasher.combine(true);
        combineRoutineNodes(hasher, steps, groups);
    });
    EXPECT_EQ(draftLike, detail.syncSignature());
}

TEST(ActiveRoutineContext, FormattedStepTitle)
{
    struct Case {
        std::int64_t stepIndex;
        std::optional<std::int64_t> stepCount;
        std::string title;
    };
    const Case cases[] = {
        { 1, 5, "Step 2/5" },
        { 9, 5, "Step 5/5" },
        { 0, 1, "Step 1/1" },
        { 2, std::nullopt, "Step 3" },
        { 0, std::nullopt, "Step 1" },
        { 0, 0, "Step 1" },
        { 4, -3, "Step 5" },
        // An absurd index from the device must not overflow.
        { std::numeric_limits<std::int64_t>::max(), std::nullopt, "Step 9223372036854775807" },
        { std::numeric_limits<std::int64_t>::max(), 3, "Step 3/3" },
    };
    for (const Case& c : cases) {
        const ActiveRoutineContext context { 1, "Morning", c.stepIndex, c.stepCount, std::nullopt, std::nullopt, true };
        EXPECT_EQ(context.formattedStepTitle(), c.title) << c.stepIndex;
    }
}

} // namespace
} // namespace tavrik
