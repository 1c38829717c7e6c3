#include "TavrikCore/Routine/RoutineConversions.hpp"
#include "tests/routine/RoutineDraftTestSupport.hpp"
#include "tests/support/ManualClock.hpp"
#include "tests/support/SequenceRandomSource.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace tavrik::test {
namespace {

constexpr std::uint32_t largestId = std::numeric_limits<std::uint32_t>::max();

RoutineStepPayload stepPayload(std::uint32_t id, std::int64_t position, std::string tagId = "1")
{
    return { id, position, 0, std::move(tagId), 30, "Do it", 0 };
}

std::vector<std::uint32_t> stepIds(const std::vector<RoutineStepModel>& steps)
{
    std::vector<std::uint32_t> ids;
    for (const RoutineStepModel& step : steps) {
        ids.push_back(step.stepId);
    }
    return ids;
}

TEST(ReceivedRoutineSteps, RepeatedOrMissingIdsBecomeUniqueAndNonZero)
{
    struct Case {
        std::vector<std::uint32_t> sent;
        std::vector<std::uint32_t> kept;
    };
    const std::vector<Case> cases {
        { { 4, 4, 0 }, { 4, 5, 6 } },
        { { 0, 1 }, { 1, 2 } },
        { { 0, 0, 0 }, { 1, 2, 3 } },
        { { 7, 2, 0, 2 }, { 7, 2, 8, 9 } },
        // Counting wraps past the largest id to the lowest free one.
        { { largestId, 0, 1, 0 }, { largestId, 1, 2, 3 } },
        { { 1, largestId, largestId }, { 1, largestId, 2 } },
    };
    SequenceRandomSource random;
    for (const Case& test : cases) {
        std::vector<RoutineStepPayload> payloads;
        for (const std::uint32_t id : test.sent) {
            payloads.push_back(stepPayload(id, 0));
        }
        EXPECT_EQ(stepIds(receivedRoutineStepModels(payloads, random)), test.kept);
    }
}

TEST(ReceivedRoutineSteps, NegativePositionsTakeTheListIndexAndTagTextsAreTrimmed)
{
    SequenceRandomSource random;
    const auto steps = receivedRoutineStepModels(
        { stepPayload(1, 0, " 12 \n"), stepPayload(2, 5), stepPayload(3, 0), { 4, -1, 9, "\t7", 45, " keep ", 2 } },
        random);
    ASSERT_EQ(steps.size(), 4U);
    EXPECT_EQ(steps[0].tagId, "12");
    EXPECT_EQ(steps[1].position, 5);
    EXPECT_EQ(steps[3], RoutineStepModel(4, 3, 9, "7", 45, " keep ", true));
    EXPECT_NE(steps[0].id, steps[1].id);
}

TEST(ReceivedRoutineDetail, EveryNodeIsConvertedOnce)
{
    SequenceRandomSource random;
    const RoutinePayload routine { 7, "Morning", { stepPayload(1, 0), stepPayload(1, 1), stepPayload(0, -1, " 2 ") },
        { { 10, 0, "Warm up", RoutineGroupMode::timebox, 300 } }, { 4 } };
    const RoutineDetailModel detail = receivedRoutineDetail(routine, random);

    // A node's id is two draws: four nodes, eight draws. A large routine's steps converted twice
    // would cost the window twice the time.
    EXPECT_EQ(random.nextUInt64(), 9U);
    EXPECT_EQ(detail.id, 7U);
    EXPECT_EQ(detail.label, "Morning");
    EXPECT_EQ(detail.expectedStepCount, 3);
    EXPECT_EQ(detail.expectedGroupCount, 1);
    EXPECT_EQ(detail.startTagIds, (std::vector<std::uint32_t> { 4 }));
    EXPECT_TRUE(detail.hasReceivedAllSteps);
    ASSERT_EQ(detail.groups.size(), 1U);
    EXPECT_EQ(detail.groups[0].groupId, 10U);
    EXPECT_EQ(stepIds(detail.steps), (std::vector<std::uint32_t> { 1, 2, 3 }));
    EXPECT_EQ(detail.steps[2].position, 2);
    EXPECT_EQ(detail.steps[2].tagId, "2");
}

TEST(SavedRoutineDetail, KeepsFreeNodeIdsAndRepairsTheRest)
{
    SequenceRandomSource random;
    RoutineDraft draft;
    draft.label = "  Morning ";
    draft.startTagIds = { 9, 3, 9 };
    // Step and group share id 5: the group keeps it, the step takes the next free one.
    RoutineGroupDraft group = groupDraft(5, 1);
    group.label = "\tFocus \n";
    RoutineGroupDraft unnamed = groupDraft(0, 2);
    RoutineStepDraft first = stepDraft(5, 0);
    first.tagId = " 12 ";
    first.instruction = " untouched ";
    RoutineStepDraft child = stepDraft(0, 0, 5);
    RoutineStepDraft childOfUnnamed = stepDraft(40, 0, 0);
    draft.groups = { group, unnamed };
    draft.steps = { first, child, childOfUnnamed };
    draft.steps[2].parentId = 0;
    draft.steps[2].position = 3;

    const RoutineDetailModel detail = savedRoutineDetail(17, draft.label, draft, random);
    EXPECT_EQ(detail.id, 17U);
    EXPECT_EQ(detail.label, "  Morning ");
    EXPECT_EQ(detail.startTagIds, (std::vector<std::uint32_t> { 3, 9, 9 }));
    EXPECT_EQ(detail.expectedStepCount, 3);
    EXPECT_EQ(detail.expectedGroupCount, 2);
    EXPECT_TRUE(detail.hasReceivedAllSteps);
    ASSERT_EQ(detail.groups.size(), 2U);
    EXPECT_EQ(detail.groups[0], RoutineGroupModel(5, 1, "Focus", RoutineGroupMode::timebox, 900));
    EXPECT_EQ(detail.groups[1].groupId, 6U);
    ASSERT_EQ(detail.steps.size(), 3U);
    EXPECT_EQ(detail.steps[0], RoutineStepModel(7, 0, 0, "12", 30, " untouched ", false));
    EXPECT_EQ(detail.steps[1].stepId, 8U);
    EXPECT_EQ(detail.steps[1].parentId, 5U);
    EXPECT_EQ(detail.steps[2].stepId, 40U);
}

TEST(SavedRoutineDetail, OrphanStepsMoveToTheRootAndSignaturesMatchTheDraft)
{
    SequenceRandomSource random;
    RoutineDraft draft;
    draft.label = "Evening";
    draft.groups = { groupDraft(3, 1) };
    draft.steps = { stepDraft(1, 0), stepDraft(2, 0, 3), stepDraft(4, 0, 99) };
    const RoutineDetailModel detail = savedRoutineDetail(2, "Evening", draft, random);
    EXPECT_EQ(detail.steps[2].parentId, 0U);
    RoutineDraft saved = draft.normalizedHierarchy();
    saved.id = 2;
    EXPECT_EQ(detail.syncSignature(), saved.syncSignature());
}

TEST(RoutinePayloads, OnePerSummaryFromItsDetail)
{
    SequenceRandomSource random;
    RoutineDetailModel detail;
    detail.id = 2;
    detail.label = "Loaded label";
    detail.startTagIds = { 4 };
    detail.steps = { RoutineStepModel(1, 0, 7, "12", 60, "Go", true) };
    detail.groups = { RoutineGroupModel(7, 1, "Spin", RoutineGroupMode::rotation, 600),
        RoutineGroupModel(8, 2, "Box", RoutineGroupMode::timebox, 600) };
    // Routine 3 has a detail but no summary and is left out; routine 1 has no detail.
    RoutineDetailModel unlisted = detail;
    unlisted.id = 3;
    const std::vector<RoutineSummary> summaries { { 2, "Summary label", 1, 2, 1 }, { 1, "Bare", 0, 0, 0 } };
    const auto payloads = routinePayloads(summaries, { { 2, detail }, { 3, unlisted } });

    ASSERT_EQ(payloads.size(), 2U);
    EXPECT_EQ(payloads[0],
        (RoutinePayload { 2, "Loaded label", { { 1, 0, 7, "12", 60, "Go", 1 } },
            { { 7, 1, "Spin", RoutineGroupMode::rotation, 0 }, { 8, 2, "Box", RoutineGroupMode::timebox, 600 } },
            { 4 } }));
    EXPECT_EQ(payloads[1], (RoutinePayload { 1, "Bare", {}, {}, {} }));
}

TEST(SortedRoutineDefinitions, ByLabelIgnoringCaseWithTiesInListOrder)
{
    const std::vector<RoutineSummary> summaries { { 1, "beta" }, { 2, "Alpha" }, { 3, "same" }, { 4, "Same" },
        { 5, "SAME" }, { 6, "apple" } };
    const std::vector<ScheduleDefinition> expected { { 2, "Alpha" }, { 6, "apple" }, { 1, "beta" }, { 3, "same" },
        { 4, "Same" }, { 5, "SAME" } };
    test::ManualClock clock;
    for (const std::string locale : { "en_US", "en_US_POSIX" }) {
        clock.locale = locale;
        EXPECT_EQ(sortedRoutineDefinitions(summaries, clock), expected) << locale;
    }
}

} // namespace
} // namespace tavrik::test
