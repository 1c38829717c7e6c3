#include "TavrikLink/Views/GroupEditorSheetPresenter.hpp"
#include "TavrikLink/Views/StepEditorSheetPresenter.hpp"
#include "TavrikLink/Views/TagReferenceLookup.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace tavrik {
namespace {

const std::vector<TagInfo> savedTags { { 12, "04A1", "Kitchen" }, { 40, "04B2", "Desk" } };

TEST(TagReferenceTests, ReadsUnsignedThirtyTwoBitDecimalsOnly)
{
    const struct {
        const char* text;
        std::optional<std::uint32_t> value;
    } cases[] = {
        { "42", 42 },
        { "+42", 42 },
        { "007", 7 },
        { "-0", 0 },
        { "-1", std::nullopt },
        { "4294967295", 4294967295U },
        { "4294967296", std::nullopt },
        { " 42", std::nullopt },
        { "4x", std::nullopt },
        { "+", std::nullopt },
        { "", std::nullopt },
        { "\xD9\xA4", std::nullopt },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseTagReference(c.text), c.value) << '"' << c.text << '"';
    }
}

TEST(StepEditorSheetTests, TagRulesWithAndWithoutSavedTags)
{
    const struct {
        bool withTags;
        const char* tagId;
        std::optional<std::string> message;
        const char* label;
    } cases[] = {
        { false, "", "Enter a tag ID.", "Select Tag" },
        { false, " \n", "Enter a tag ID.", "Unlinked tag" },
        { false, "4x", "Enter a numeric tag ID.", "Unlinked tag" },
        { false, "4294967296", "Enter a numeric tag ID.", "Unlinked tag" },
        { false, " 42 ", std::nullopt, "Unlinked tag" },
        { false, "+42", std::nullopt, "Unlinked tag" },
        { true, "", "Select a tag.", "Select Tag" },
        { true, "abc", "Select a tag.", "Unlinked tag" },
        { true, "99", "Select a tag.", "Unlinked tag" },
        { true, " 40", std::nullopt, "Unlinked tag" },
        { true, "40", std::nullopt, "Desk" },
        { true, "+12", std::nullopt, "Kitchen" },
    };
    for (const auto& c : cases) {
        const std::vector<TagInfo> tags = c.withTags ? savedTags : std::vector<TagInfo> {};
        EXPECT_EQ(StepEditorSheetPresenter::tagValidationMessage(c.tagId, tags), c.message) << '"' << c.tagId << '"';
        EXPECT_EQ(StepEditorSheetPresenter::tagLabel(c.tagId, tags), c.label) << '"' << c.tagId << '"';
    }
}

struct StepSheet {
    explicit StepSheet(std::string tagId, std::vector<TagInfo> tags = {})
        : sheet(
            makeStep(std::move(tagId)), std::move(tags), [this] { ++closes; }, [this] { ++deletes; }, false)
    {
    }

    static RoutineStepDraft makeStep(std::string tagId)
    {
        RoutineStepDraft step;
        step.stepId = 5;
        step.seconds = 60;
        step.tagId = std::move(tagId);
        return step;
    }

    int closes = 0;
    int deletes = 0;
    StepEditorSheetPresenter sheet;
};

TEST(StepEditorSheetTests, MessagesWaitForTheFirstDoneThenFollowEdits)
{
    StepSheet host("4x");
    host.sheet.setTagId("");
    EXPECT_FALSE(host.sheet.shownTagValidationMessage());
    EXPECT_FALSE(host.sheet.requestDismiss());

    host.sheet.done();
    EXPECT_EQ(host.closes, 0);
    EXPECT_EQ(host.sheet.shownTagValidationMessage(), "Enter a tag ID.");
    host.sheet.setTagId("4x");
    EXPECT_EQ(host.sheet.shownTagValidationMessage(), "Enter a numeric tag ID.");

    host.sheet.setTagId(" 42 ");
    EXPECT_FALSE(host.sheet.shownTagValidationMessage());
    host.sheet.done();
    EXPECT_EQ(host.closes, 1);
    // The typed blanks stay.
    EXPECT_EQ(host.sheet.step().tagId, " 42 ");
}

TEST(StepEditorSheetTests, MenuPicksATagAndFieldsWriteTheWorkingCopy)
{
    StepSheet host("99", savedTags);
    EXPECT_TRUE(host.sheet.usesTagMenu());
    EXPECT_EQ(host.sheet.tagMenuLabel(), "Unlinked tag");
    EXPECT_EQ(host.sheet.tagMenuItems(), (QStringList { "Kitchen", "Desk" }));
    host.sheet.done();
    EXPECT_EQ(host.sheet.shownTagValidationMessage(), "Select a tag.");

    host.sheet.chooseTag(1);
    host.sheet.setInstruction("Water plants");
    host.sheet.setUnstoppable(true);
    host.sheet.durationEditor().setFocused(true);
    host.sheet.durationEditor().editText("5");
    EXPECT_EQ(host.sheet.step().tagId, "40");
    EXPECT_EQ(host.sheet.step().seconds, 300);
    EXPECT_EQ(host.sheet.step().instruction, "Water plants");
    EXPECT_TRUE(host.sheet.step().unstoppable);
    host.sheet.done();
    EXPECT_EQ(host.closes, 1);

    host.sheet.deleteStep();
    EXPECT_EQ(host.deletes, 1);
}

TEST(StepEditorSheetTests, DurationBelowOneSecondKeepsTheSheetOpenSilently)
{
    StepSheet host("42");
    RoutineStepDraft zero = StepSheet::makeStep("42");
    zero.seconds = 0;
    StepEditorSheetPresenter sheet(
        zero, {}, [&] { ++host.closes; }, {}, false);
    sheet.done();
    EXPECT_EQ(host.closes, 0);
    EXPECT_FALSE(sheet.shownTagValidationMessage());
}

struct GroupSheet {
    GroupSheet(std::string label, RoutineGroupMode mode, std::int64_t limit)
        : sheet(
            RoutineGroupDraft(Uuid::make(), 100, 0, std::move(label), mode, limit), [this] { ++closes; },
            [this] { ++deletes; })
    {
        sheet.timeLimitEditor().appear();
    }

    int closes = 0;
    int deletes = 0;
    GroupEditorSheetPresenter sheet;
};

TEST(GroupEditorSheetTests, ModeSwitchesSetTheLimitTheModeNeeds)
{
    GroupSheet host("Chores", RoutineGroupMode::timebox, 600);
    EXPECT_TRUE(host.sheet.showsTimeLimit());
    EXPECT_EQ(host.sheet.timeLimitEditor().text(), "10:00");
    host.sheet.setMode(RoutineGroupMode::rotation);
    EXPECT_EQ(host.sheet.group().timeLimitSeconds, 0);
    EXPECT_FALSE(host.sheet.showsTimeLimit());
    EXPECT_EQ(host.sheet.modeDescription(),
        "Tavrik picks the next step in rotation: the least-recently-completed step. After that step finishes, the "
        "routine continues outside this group.");
    host.sheet.setMode(RoutineGroupMode::timebox);
    EXPECT_EQ(host.sheet.group().timeLimitSeconds, 900);
    EXPECT_EQ(host.sheet.timeLimitEditor().text(), "15:00");

    host.sheet.timeLimitEditor().setFocused(true);
    host.sheet.timeLimitEditor().editText("30:00:00");
    EXPECT_EQ(host.sheet.group().timeLimitSeconds, 86400);
}

TEST(GroupEditorSheetTests, DoneNeedsANameAndAFittingLimitAndSavesTheNameTrimmed)
{
    GroupSheet blank("  \n", RoutineGroupMode::timebox, 900);
    EXPECT_FALSE(blank.sheet.shownLabelValidationMessage());
    blank.sheet.done();
    EXPECT_EQ(blank.closes, 0);
    EXPECT_EQ(blank.sheet.shownLabelValidationMessage(), "Enter a group name.");
    blank.sheet.setLabel("  Chores ");
    EXPECT_FALSE(blank.sheet.shownLabelValidationMessage());
    blank.sheet.done();
    EXPECT_EQ(blank.closes, 1);
    EXPECT_EQ(blank.sheet.group().label, "Chores");

    GroupSheet tooLong("Chores", RoutineGroupMode::timebox, 90000);
    tooLong.sheet.done();
    EXPECT_EQ(tooLong.closes, 0);
    EXPECT_FALSE(tooLong.sheet.shownLabelValidationMessage());
    EXPECT_FALSE(tooLong.sheet.requestDismiss());
    tooLong.sheet.deleteGroup();
    EXPECT_EQ(tooLong.deletes, 1);
}

} // namespace
} // namespace tavrik
