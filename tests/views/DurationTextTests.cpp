#include "TavrikLink/Views/DurationEditorPresenter.hpp"
#include "TavrikLink/Views/DurationText.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace tavrik {
namespace {

TEST(DurationTextTests, FormatsRowAndFieldTextsAlike)
{
    const struct {
        std::int64_t seconds;
        const char* text;
    } cases[] = {
        { 0, "0:00" },
        { 5, "0:05" },
        { 59, "0:59" },
        { 60, "1:00" },
        { 65, "1:05" },
        { 3599, "59:59" },
        { 3600, "1:00:00" },
        { 3725, "1:02:05" },
        { 86400, "24:00:00" },
        { 360000, "100:00:00" },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(formattedDuration(c.seconds), c.text) << c.seconds;
        EXPECT_EQ(formattedDurationInput(c.seconds), c.text) << c.seconds;
    }
}

TEST(DurationTextTests, ParsesEveryAcceptedFormAndRefusesTheRest)
{
    const struct {
        const char* text;
        std::optional<std::int64_t> seconds;
    } cases[] = {
        { " 1:30 \n", 90 },
        { "01:02:03", 3723 },
        { "1:5", 65 },
        { "90:00", 5400 },
        { "0:00", 0 },
        { "2:00:00", 7200 },
        { "5", 300 },
        { "+5", 300 },
        { "-5", std::nullopt },
        { "0", std::nullopt },
        { "-0", std::nullopt },
        { "90s", 90 },
        { "0s", 0 },
        { "2 min", 120 },
        { "3mins", 180 },
        { "45 SECONDS", 45 },
        { "1 Minute", 60 },
        { "7\tsec", 7 },
        { "3 hours", std::nullopt },
        { "2h", std::nullopt },
        { "+5s", std::nullopt },
        { "5 s s", std::nullopt },
        { "1:60", std::nullopt },
        { "1:2:60", std::nullopt },
        { "1::", std::nullopt },
        { ":30", std::nullopt },
        { "1:2:3:4", std::nullopt },
        { "+1:30", std::nullopt },
        { "1: 30", std::nullopt },
        { "abc", std::nullopt },
        { "", std::nullopt },
        { "  ", std::nullopt },
        // Arabic-Indic and fullwidth digits are not ASCII digits.
        { "\xD9\xA5", std::nullopt },
        { "\xEF\xBC\x95:00", std::nullopt },
        // Too long for 64 bits, with and without colon or unit, and overflowing products.
        { "99999999999999999999", std::nullopt },
        { "99999999999999999999:00", std::nullopt },
        { "99999999999999999999s", std::nullopt },
        { "9223372036854775807s", 9223372036854775807LL },
        { "9223372036854775807", std::nullopt },
        { "153722867280912931", std::nullopt },
        { "153722867280912930", 9223372036854775800LL },
        { "9223372036854775807 min", std::nullopt },
        { "2562047788015216:00:00", std::nullopt },
        { "2562047788015215:30:07", 9223372036854775807LL },
        { "2562047788015215:30:08", std::nullopt },
        { "153722867280912930:07", 9223372036854775807LL },
        { "153722867280912930:08", std::nullopt },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseDurationInput(c.text), c.seconds) << '"' << c.text << '"';
    }
}

struct DurationField {
    explicit DurationField(std::int64_t start, std::int64_t maximum = 7200, bool commitOnDisappear = false)
        : seconds(start)
        , editor({ [this] { return seconds; },
                     [this](std::int64_t value) {
                         seconds = value;
                         ++writes;
                     } },
              maximum, commitOnDisappear)
    {
        editor.appear();
    }

    std::int64_t seconds;
    int writes = 0;
    DurationEditorPresenter editor;
};

TEST(DurationEditorPresenterTests, FollowsTypingAndShowsCanonicalTextOnlyOnCommit)
{
    DurationField field(60);
    EXPECT_EQ(field.editor.text(), "1:00");
    field.editor.setFocused(true);
    field.editor.editText("5");
    EXPECT_EQ(field.seconds, 300);
    EXPECT_EQ(field.editor.text(), "5");
    field.editor.submit();
    EXPECT_EQ(field.editor.text(), "5:00");

    field.editor.editText("90s");
    EXPECT_EQ(field.seconds, 90);
    field.editor.setFocused(false);
    EXPECT_EQ(field.editor.text(), "1:30");
}

TEST(DurationEditorPresenterTests, ClampsToOneAndTheMaximum)
{
    const struct {
        const char* typed;
        std::int64_t maximum;
        std::int64_t seconds;
        const char* shown;
    } cases[] = {
        { "2:00:00", 7200, 7200, "2:00:00" },
        { "2:00:00", 3600, 3600, "1:00:00" },
        { "0s", 7200, 1, "0:01" },
        { "99999:00:00", 86400, 86400, "24:00:00" },
    };
    for (const auto& c : cases) {
        DurationField field(60, c.maximum);
        field.editor.setFocused(true);
        field.editor.editText(c.typed);
        field.editor.submit();
        EXPECT_EQ(field.seconds, c.seconds) << c.typed;
        EXPECT_EQ(field.editor.text(), c.shown) << c.typed;
    }
}

TEST(DurationEditorPresenterTests, UnparsableTextKeepsTheValueAndSnapsBackOnCommit)
{
    for (const char* typed : { "1:60", "1::", ":30", "1:2:3:4", "abc", "3 hours" }) {
        DurationField field(125);
        field.editor.setFocused(true);
        field.editor.editText(typed);
        EXPECT_EQ(field.editor.text(), typed);
        EXPECT_EQ(field.writes, 0) << typed;
        field.editor.submit();
        EXPECT_EQ(field.seconds, 125);
        EXPECT_EQ(field.editor.text(), "2:05") << typed;
    }
}

TEST(DurationEditorPresenterTests, OutsideChangesAreShownOnlyWhileNotFocused)
{
    DurationField field(60);
    field.seconds = 900;
    field.editor.boundSecondsChanged();
    EXPECT_EQ(field.editor.text(), "15:00");

    field.editor.setFocused(true);
    field.editor.editText("2:3");
    field.seconds = 30;
    field.editor.boundSecondsChanged();
    EXPECT_EQ(field.editor.text(), "2:3");
    // Gaining focus again shows the bound value.
    field.editor.setFocused(false);
    EXPECT_EQ(field.editor.text(), "2:03");
    field.seconds = 30;
    field.editor.setFocused(true);
    EXPECT_EQ(field.editor.text(), "0:30");
}

TEST(DurationEditorPresenterTests, DisappearingCommitsOnlyWhenAsked)
{
    for (const bool commitOnDisappear : { false, true }) {
        DurationField field(60, 7200, commitOnDisappear);
        field.editor.setFocused(true);
        field.editor.editText("xyz");
        field.editor.disappear();
        EXPECT_EQ(field.editor.text(), commitOnDisappear ? "1:00" : "xyz");
    }
}

} // namespace
} // namespace tavrik
