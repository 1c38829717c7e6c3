#include "TavrikCore/Routine/RoutineDraft.hpp"

#include "tests/routine/RoutineDraftTestSupport.hpp"
#include "tests/support/SequenceRandomSource.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <set>
#include <unordered_set>

namespace tavrik {
namespace {

using test::groupDraft;
using test::shape;
using test::stepDraft;

// Root: step 10 and group 20 both at 0, step 11 at 1; the group holds step 12.
RoutineDetailModel loadedDetail()
{
    return RoutineDetailModel { 7, "Morning", 3, 1, { 4, 2 },
        { { 10, 0, 0, "4", 60, "Brush teeth", false }, { 11, 1, 0, "2", 30, "Wash", true },
            { 12, 0, 20, "4", 45, "Stretch", false } },
        { { 20, 0, "Chores", RoutineGroupMode::rotation, 600 } }, true };
}

TEST(RoutineDraft, FromDetailCopiesTheRoutineAndNormalises)
{
    const RoutineDetailModel detail = loadedDetail();
    const RoutineDraft draft(detail);

    EXPECT_EQ(draft.id, 7u);
    EXPECT_EQ(draft.label, "Morning");
    EXPECT_EQ(draft.startTagIds, (std::vector<std::uint32_t> { 4, 2 }));
    ASSERT_EQ(draft.steps.size(), 3u);
    EXPECT_EQ(draft.steps[1].stepId, 11u);
    EXPECT_EQ(draft.steps[1].tagId, "2");
    EXPECT_EQ(draft.steps[1].seconds, 30);
    EXPECT_EQ(draft.steps[1].instruction, "Wash");
    EXPECT_TRUE(draft.steps[1].unstoppable);
    // The root step wins the tie with the group at position 0.
    EXPECT_EQ(shape(draft), "s10 g20[s12] s11");
    EXPECT_EQ(draft.groups[0].position, 1);
    // A rotation group never carries a limit.
    EXPECT_EQ(draft.groups[0].timeLimitSeconds, 0);
    EXPECT_EQ(draft.groups[0].mode, RoutineGroupMode::rotation);

    std::set<Uuid> rows;
    for (const RoutineStepDraft& step : draft.steps) {
        rows.insert(step.id);
    }
    EXPECT_EQ(rows.size(), 3u);
    EXPECT_NE(RoutineDraft(detail), draft) << "each build draws fresh row identities";
}

TEST(RoutineDraft, TimeboxLimitIsKeptEvenWhenOutOfRange)
{
    RoutineDetailModel detail = loadedDetail();
    detail.groups[0] = { 20, 0, "Chores", RoutineGroupMode::timebox, 100000 };
    const RoutineDraft draft(detail);
    EXPECT_EQ(draft.groups[0].timeLimitSeconds, 100000);
    EXPECT_FALSE(draft.isValid());

    const RoutineGroupDraft rotation(Uuid::make(), 1, 0, "R", RoutineGroupMode::rotation, 900);
    EXPECT_EQ(rotation.timeLimitSeconds, 0);
}

TEST(RoutineDraft, MemberwiseConstructionNormalises)
{
    const RoutineDraft draft(
        std::nullopt, "Evening", {}, { stepDraft(1, 4), stepDraft(2, -1), stepDraft(3, 0, 9) }, { groupDraft(5, 4) });
    EXPECT_EQ(shape(draft), "s2 s3 s1 g5[]");
    EXPECT_EQ(draft.steps[2].parentId, 0u) << "a step whose group is missing moves to the root";
    EXPECT_EQ(test::normalisationFault(draft), "");
    EXPECT_EQ(test::normalisationFault(RoutineDraft()), "");
}

TEST(RoutineDraft, DraftsFromADetailAreNormalised)
{
    // Gaps, a negative position and a step whose group 9 the device no longer lists.
    const RoutineDetailModel detail { 7, "R", 0, 0, {},
        { { 1, 8, 0, "1", 30, "a", false }, { 2, 3, 9, "1", 30, "b", false }, { 3, 4, 5, "1", 30, "c", false },
            { 4, -2, 5, "1", 30, "d", false } },
        { { 5, 6, "G", RoutineGroupMode::timebox, 60 } }, true };
    const RoutineDraft previous(detail);

    const std::pair<const char*, RoutineDraft> drafts[] = {
        { "from a detail", previous },
        { "from a detail keeping rows", RoutineDraft(detail, previous) },
    };
    for (const auto& [name, draft] : drafts) {
        EXPECT_EQ(shape(draft), "s2 g5[s4 s3] s1") << name;
        EXPECT_EQ(draft.steps[1].parentId, 0u) << name;
        EXPECT_EQ(test::normalisationFault(draft), "") << name;
    }
}

TEST(RoutineDraft, ReloadKeepsRowIdentitiesOfKnownNodes)
{
    RoutineDetailModel before { 7, "Old", 0, 0, {},
        { { 5, 0, 0, "1", 30, "a", false }, { 6, 1, 0, "1", 30, "b", false } },
        { { 30, 2, "G", RoutineGroupMode::timebox, 60 }, { 31, 3, "H", RoutineGroupMode::timebox, 60 } }, true };
    const RoutineDraft previous(before);

    RoutineDetailModel after { 7, "New", 0, 0, { 9 },
        { { 7, 0, 0, "1", 30, "c", false }, { 6, 1, 0, "1", 30, "b", false } },
        { { 31, 2, "H", RoutineGroupMode::timebox, 60 }, { 32, 3, "I", RoutineGroupMode::timebox, 60 } }, true };
    const RoutineDraft reloaded(after, previous);

    EXPECT_EQ(reloaded.label, "New");
    EXPECT_EQ(reloaded.startTagIds, std::vector<std::uint32_t> { 9 });
    EXPECT_EQ(reloaded.steps[1].id, previous.steps[1].id);
    EXPECT_NE(reloaded.steps[0].id, previous.steps[0].id);
    EXPECT_NE(reloaded.steps[0].id, previous.steps[1].id);
    EXPECT_EQ(reloaded.groups[0].id, previous.groups[1].id);
    EXPECT_NE(reloaded.groups[1].id, previous.groups[0].id);
    EXPECT_NE(reloaded.groups[1].id, previous.groups[1].id);
}

TEST(RoutineDraft, ReloadWithRepeatedIdsNeverSharesOneRowIdentity)
{
    RoutineDraft previous;
    previous.steps = { stepDraft(5, 0), stepDraft(5, 1) };
    RoutineDetailModel detail { 7, "R", 0, 0, {},
        { { 5, 0, 0, "1", 30, "a", false }, { 5, 1, 0, "1", 30, "b", false } }, {}, true };

    const RoutineDraft reloaded(detail, previous);
    EXPECT_EQ(reloaded.steps[0].id, previous.steps[0].id);
    EXPECT_NE(reloaded.steps[1].id, reloaded.steps[0].id);
}

TEST(RoutineDraft, Validity)
{
    const auto valid = [] {
        RoutineDraft draft(std::nullopt, "Morning", {}, { stepDraft(1, 0), stepDraft(2, 0, 9) }, { groupDraft(9, 1) });
        return draft;
    };
    ASSERT_TRUE(valid().isValid());
    EXPECT_TRUE(RoutineDraft(std::nullopt, "Empty", {}, {}, {}).isValid());

    const std::pair<const char*, std::function<void(RoutineDraft&)>> invalid[] = {
        { "empty label", [](RoutineDraft& d) { d.label.clear(); } },
        { "step without tag", [](RoutineDraft& d) { d.steps[0].tagId.clear(); } },
        { "step of 0 seconds", [](RoutineDraft& d) { d.steps[0].seconds = 0; } },
        { "step of negative seconds", [](RoutineDraft& d) { d.steps[0].seconds = -5; } },
        { "missing parent", [](RoutineDraft& d) { d.steps[0].parentId = 8; } },
        { "blank group label", [](RoutineDraft& d) { d.groups[0].label = " "; } },
        { "group label of Unicode blanks and line breaks", [](RoutineDraft& d) { d.groups[0].label = "\u2003\n\u2029"; } },
        { "timebox limit 0", [](RoutineDraft& d) { d.groups[0].timeLimitSeconds = 0; } },
        { "timebox limit 86401", [](RoutineDraft& d) { d.groups[0].timeLimitSeconds = 86401; } },
        { "rotation limit 1",
            [](RoutineDraft& d) {
                d.groups[0].mode = RoutineGroupMode::rotation;
                d.groups[0].timeLimitSeconds = 1;
            } },
    };
    for (const auto& [name, spoil] : invalid) {
        RoutineDraft draft = valid();
        spoil(draft);
        EXPECT_FALSE(draft.isValid()) << name;
    }

    const std::pair<const char*, std::function<void(RoutineDraft&)>> stillValid[] = {
        { "routine label of one blank", [](RoutineDraft& d) { d.label = " "; } },
        { "timebox limit 86400", [](RoutineDraft& d) { d.groups[0].timeLimitSeconds = 86400; } },
        { "step of a day and more", [](RoutineDraft& d) { d.steps[0].seconds = 100000; } },
        { "rotation limit 0",
            [](RoutineDraft& d) {
                d.groups[0].mode = RoutineGroupMode::rotation;
                d.groups[0].timeLimitSeconds = 0;
            } },
    };
    for (const auto& [name, change] : stillValid) {
        RoutineDraft draft = valid();
        change(draft);
        EXPECT_TRUE(draft.isValid()) << name;
    }
}

TEST(RoutineDraft, SignatureOfAnUneditedDraftIsTheDetailSignature)
{
    RoutineDetailModel detail = loadedDetail();
    // The device's detail is normalised, complete and announced its counts.
    detail.steps[2].position = 0;
    detail.groups[0].position = 1;
    detail.steps[1].position = 2;
    detail.groups[0].timeLimitSeconds = 0;
    const RoutineDraft draft(detail);
    EXPECT_EQ(draft.syncSignature(), detail.syncSignature());

    RoutineDraft edited = draft;
    edited.steps[0].seconds = 61;
    EXPECT_NE(edited.syncSignature(), detail.syncSignature());
}

TEST(RoutineDraft, SignaturesFollowContentNotOrderOrIdentity)
{
    const RoutineDraft base(
        7, "Morning", { 1, 2 }, { stepDraft(1, 0), stepDraft(2, 0, 9), stepDraft(3, 2) }, { groupDraft(9, 1) });

    RoutineDraft reordered = base;
    std::swap(reordered.startTagIds[0], reordered.startTagIds[1]);
    std::swap(reordered.steps[0], reordered.steps[2]);
    EXPECT_EQ(reordered.syncSignature(), base.syncSignature());
    EXPECT_EQ(reordered.metadataSignature(), base.metadataSignature());

    RoutineDraft otherRows = base;
    for (RoutineStepDraft& step : otherRows.steps) {
        step.id = Uuid::make();
    }
    EXPECT_NE(otherRows, base);
    EXPECT_EQ(otherRows.syncSignature(), base.syncSignature());

    // Signatures hash a normalised copy and leave the draft alone.
    RoutineDraft unnormalised = base;
    unnormalised.steps[2].position = 40;
    EXPECT_EQ(unnormalised.syncSignature(), base.syncSignature());
    EXPECT_EQ(unnormalised.steps[2].position, 40);

    RoutineDraft instruction = base;
    instruction.steps[0].instruction = "Other";
    EXPECT_NE(instruction.syncSignature(), base.syncSignature());
    EXPECT_EQ(instruction.metadataSignature(), base.metadataSignature());

    RoutineDraft renamed = base;
    renamed.label = "Evening";
    EXPECT_NE(renamed.syncSignature(), base.syncSignature());
    EXPECT_NE(renamed.metadataSignature(), base.metadataSignature());

    RoutineDraft tagged = base;
    tagged.startTagIds.push_back(3);
    EXPECT_NE(tagged.syncSignature(), base.syncSignature());
    EXPECT_NE(tagged.metadataSignature(), base.metadataSignature());

    RoutineDraft unsaved = base;
    unsaved.id.reset();
    RoutineDraft zero = base;
    zero.id = 0;
    EXPECT_EQ(unsaved.syncSignature(), zero.syncSignature());
    EXPECT_EQ(unsaved.metadataSignature(), zero.metadataSignature());
    EXPECT_NE(unsaved.metadataSignature(), base.metadataSignature());
}

TEST(MakeLocalRoutineNodeId, StaysWithinOneToLargestId)
{
    constexpr std::uint64_t largest = std::numeric_limits<std::uint32_t>::max();
    test::SequenceRandomSource source({ 0, largest - 1, largest, std::numeric_limits<std::uint64_t>::max() - 1 });
    ScopedDefaultRandomSource scoped(source);
    std::vector<std::uint32_t> drawn;
    for (int draw = 0; draw < 4; ++draw) {
        drawn.push_back(makeLocalRoutineNodeId());
    }
    for (const std::uint32_t id : drawn) {
        EXPECT_NE(id, 0u);
    }
    EXPECT_EQ(drawn[0], 1u);
    EXPECT_EQ(drawn[1], largest);
}

TEST(RoutineDraftRootNode, IdTextEqualityAndHash)
{
    EXPECT_EQ(RoutineDraftRootNode::step(42).id(), "step:42");
    EXPECT_EQ(RoutineDraftRootNode::group(7).id(), "group:7");
    EXPECT_NE(RoutineDraftRootNode::group(7), RoutineDraftRootNode::step(7));
    EXPECT_EQ(RoutineDraftRootNode::group(7), RoutineDraftRootNode::group(7));
    const std::unordered_set<RoutineDraftRootNode> nodes { RoutineDraftRootNode::step(7),
        RoutineDraftRootNode::group(7), RoutineDraftRootNode::group(7) };
    EXPECT_EQ(nodes.size(), 2u);
}

} // namespace
} // namespace tavrik
