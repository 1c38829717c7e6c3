#include "TavrikLink/Views/TagEditorPresenter.hpp"

#include <gtest/gtest.h>

namespace tavrik::test {
namespace {

// The sheet over plain values: it shows what it last observed and redraws only on a real change.
TEST(TagEditorPresenterTest, ShowsWhatItObservedAndRedrawsOnlyOnAChange)
{
    ContentViewPresenter window({});
    window.modify([](ContentViewPresenter::State& state) {
        state.tagMode = ContentViewPresenter::TagEditorCreate {};
        state.tagDraftUid = "04 77";
        state.tagDraftName = "Garage";
    });
    std::vector<std::string> calls;
    TagEditorPresenter editor(window, {}, { [&] { calls.push_back("save"); }, [&] { calls.push_back("cancel"); } });
    int redraws = 0;
    QObject::connect(&editor, &TagEditorPresenter::changed, [&] { ++redraws; });
    EXPECT_EQ(editor.createContent(), TagEditorPresenter::CreateContent::nameEntry);
    EXPECT_TRUE(editor.canSave());

    // The same reading again is no change.
    editor.observe({});
    EXPECT_EQ(redraws, 0);

    // Another tag takes the name: the sheet says so and holds the save back.
    editor.observe({ { { 9, "04 10", "garage" } }, std::nullopt });
    EXPECT_EQ(redraws, 1);
    EXPECT_TRUE(editor.nameValidationMessage());
    EXPECT_FALSE(editor.canSave());

    // The device reports the scanned tag as saved already.
    editor.observe({ {}, TagScanResult { "04 77", std::nullopt, "Fob" } });
    EXPECT_EQ(redraws, 2);
    EXPECT_EQ(editor.createContent(), TagEditorPresenter::CreateContent::alreadySaved);
    EXPECT_EQ(editor.alreadySavedText(), "This tag is currently saved as \"Fob\".");

    editor.save();
    editor.cancel();
    EXPECT_EQ(calls, (std::vector<std::string> { "save", "cancel" }));
}

} // namespace
} // namespace tavrik::test
