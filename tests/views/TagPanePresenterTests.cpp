#include "TavrikLink/Views/TagEditorPresenter.hpp"
#include "TavrikLink/Views/TagPanePresenter.hpp"
#include "tests/controller/ControllerTestSupport.hpp"

namespace tavrik::test {
namespace {

using Mode = ContentViewPresenter::TagEditorMode;
using Create = ContentViewPresenter::TagEditorCreate;
using Rename = ContentViewPresenter::TagEditorRename;

// A loaded device with three saved tags, the window's presenter and the tag pane over both.
class TagPaneTest : public ControllerTest {
protected:
    std::unique_ptr<ContentViewPresenter> window;
    std::unique_ptr<TagPanePresenter> pane;

    void SetUp() override
    {
        addDevice();
        device->data.tags = {
            { 3, "04 1A 22 33", "Kitchen" },
            { 5, "04 AA BB CC", "Desk" },
            // Stored by the device with a trailing blank.
            { 7, "04 01 02 03 ", "Door" },
        };
        device->data.routines = { RoutinePayload { 1, "Morning", { { 1, 0, 0, "7", 30, "Step", 0 } }, {}, {} } };
        loadFromDevice();
        ASSERT_TRUE(controller->hasLoadedData());
        ContentViewPresenter::Actions actions;
        actions.defer
            = [this](std::function<void()> work) { scheduler.schedule(std::chrono::milliseconds(0), std::move(work)); };
        window = std::make_unique<ContentViewPresenter>(std::move(actions));
        TagPanePresenter::installWindowActions(*window, *controller);
        pane = std::make_unique<TagPanePresenter>(*controller, *window);
        device->answerCommand = [](const std::string&, const std::string&) { return std::vector<Json> {}; };
    }

    void TearDown() override
    {
        pane.reset();
        window.reset();
    }

    // Lets the debounce run out so the device has read every command.
    std::vector<std::string> sentCommands()
    {
        scheduler.advance(std::chrono::milliseconds(500));
        settle();
        return device->receivedCommands();
    }

    void select(std::uint32_t id)
    {
        const auto& tags = controller->tags();
        const auto found = std::find_if(tags.begin(), tags.end(), [&](const TagInfo& tag) { return tag.id == id; });
        ASSERT_NE(found, tags.end());
        TagPanePresenter::selectTag(*controller, *window, *found);
        settle();
    }
};

TEST_F(TagPaneTest, SelectionFollowsTheListAndFillsTheFieldsWithoutSendingARename)
{
    struct Case {
        const char* name;
        std::optional<std::uint32_t> selectedBefore;
        std::vector<TagInfo> tags;
        std::optional<std::uint32_t> selectedAfter;
        std::string fieldName;
        std::string fieldUid;
    };
    const std::vector<Case> cases {
        { "no selection picks the first tag", std::nullopt, {}, 3, "Kitchen", "04 1A 22 33" },
        { "a valid selection stays", 7, {}, 7, "Door", "04 01 02 03 " },
        { "a vanished selection moves to the first", 42, {}, 3, "Kitchen", "04 1A 22 33" },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        window->modify([&](ContentViewPresenter::State& state) { state.selectedTagId = test.selectedBefore; });
        TagPanePresenter::syncTagSelection(*controller, *window);
        settle();
        EXPECT_EQ(window->state().selectedTagId, test.selectedAfter);
        EXPECT_EQ(pane->name(), test.fieldName);
        EXPECT_EQ(pane->uid(), test.fieldUid);
        EXPECT_FALSE(window->state().isSyncingTagEditor) << "the flag is reset on the next turn";
    }
    EXPECT_TRUE(sentCommands().empty()) << "filling the fields is not an edit";
}

TEST_F(TagPaneTest, DeletingMovesTheSelectionAndAnEmptyListLeavesNone)
{
    select(3);
    for (std::uint32_t id : { 3u, 5u }) {
        ASSERT_TRUE(TagPanePresenter::confirmDeleteTag(
            *controller, *window, *controller->tagForIdReference(std::to_string(id))));
    }
    EXPECT_EQ(window->state().selectedTagId, 7u) << "deleting the selected tag selects the first remaining one";
    EXPECT_EQ(pane->name(), "Door");
    // Tag 7 is used by a routine: the controller refuses and nothing moves.
    EXPECT_FALSE(TagPanePresenter::confirmDeleteTag(*controller, *window, controller->tags().front()));
    EXPECT_EQ(window->state().selectedTagId, 7u);
    EXPECT_TRUE(controller->tagError().has_value());

    window->modify([](ContentViewPresenter::State& state) { state.selectedTagId = 99; });
    EXPECT_FALSE(pane->selectedTag().has_value()) << "until the next sync the pane shows the prompt";
    EXPECT_EQ(pane->uid(), "");

    device->send({ { "type", "tags_state" }, { "tags", Json::array() } });
    settle();
    TagPanePresenter::syncTagSelection(*controller, *window);
    settle();
    EXPECT_FALSE(window->state().selectedTagId.has_value());
    EXPECT_EQ(pane->name(), "");
    EXPECT_EQ(TagPanePresenter::emptyPrompt, "Select a tag from the sidebar or add a new one.");
}

TEST_F(TagPaneTest, NameEditsAreSentOnlyWhenUniqueAndNotEmpty)
{
    select(3);
    struct Case {
        std::string typed;
        std::optional<std::string> message;
        std::string storedName;
    };
    const std::vector<Case> cases {
        { " desk ", "A tag with this title already exists.", "Kitchen" },
        { "DOOR", "A tag with this title already exists.", "Kitchen" },
        { "", std::nullopt, "Kitchen" },
        { "Pantry", std::nullopt, "Pantry" },
        // Blanks are not compared and go to the controller as typed.
        { "   ", std::nullopt, "   " },
        { "Kitchen", std::nullopt, "Kitchen" },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE("typed '" + test.typed + "'");
        pane->editName(test.typed);
        EXPECT_EQ(pane->nameValidationMessage(), test.message);
        EXPECT_EQ(controller->tags().front().name, test.storedName);
    }
    EXPECT_EQ(sentCommands(), (std::vector<std::string> { "tag:update id=3 name=\"Kitchen\"" }))
        << "the debounce keeps only the last rename";
}

TEST_F(TagPaneTest, LeavingAFieldThatCannotBeSavedShowsTheSavedValue)
{
    select(3);
    struct Case {
        std::string name;
        std::string uid;
        bool leaveByPane;
    };
    const std::vector<Case> cases {
        { "DESK", "04 aa bb cc", false },
        { "", " \n", false },
        { " door", "04 01 02 03", true },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE("'" + test.name + "' / '" + test.uid + "'");
        pane->editName(test.name);
        pane->editUid(test.uid);
        // While the user types, the field keeps the text and says why it is not saved.
        EXPECT_EQ(pane->name(), test.name);
        EXPECT_EQ(pane->uid(), test.uid);
        EXPECT_TRUE(pane->uidValidationMessage().has_value());
        if (test.leaveByPane) {
            window->selectPane(ContentViewPresenter::SidebarPane::settings);
        } else {
            pane->finishEditing();
        }
        settle();
        EXPECT_EQ(pane->name(), "Kitchen");
        EXPECT_EQ(pane->uid(), "04 1A 22 33");
        EXPECT_EQ(pane->nameValidationMessage(), std::nullopt);
        EXPECT_EQ(pane->uidValidationMessage(), std::nullopt);
        window->selectPane(ContentViewPresenter::SidebarPane::tags);
    }
    // A valid text stays when the field is left, and nothing was sent for the others.
    pane->editName("Pantry");
    pane->finishEditing();
    EXPECT_EQ(pane->name(), "Pantry");
    EXPECT_EQ(sentCommands(), (std::vector<std::string> { "tag:update id=3 name=\"Pantry\"" }));
}

TEST_F(TagPaneTest, UidEditsAreCheckedTrimmedAndTheFieldKeepsWhatTheUserTyped)
{
    select(5);
    struct Case {
        std::string typed;
        std::optional<std::string> message;
        std::string storedUid;
    };
    const std::vector<Case> cases {
        { "", "UID is required.", "04 AA BB CC" },
        { "  \n", "UID is required.", "04 AA BB CC" },
        { "04 1a 22 33", "A tag with this UID already exists.", "04 AA BB CC" },
        { "04 01 02 03", "A tag with this UID already exists.", "04 AA BB CC" },
        { "04 ", std::nullopt, "04" },
        { "04 9", std::nullopt, "04 9" },
        { "04 99 ", std::nullopt, "04 99" },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE("typed '" + test.typed + "'");
        pane->editUid(test.typed);
        EXPECT_EQ(pane->uidValidationMessage(), test.message);
        EXPECT_EQ(controller->tags()[1].uid, test.storedUid);
        EXPECT_EQ(pane->uid(), test.typed) << "the controller's echo does not rewrite the field while typing";
    }
    pane->submitUid();
    EXPECT_EQ(sentCommands(), (std::vector<std::string> { "tag:update id=5 uid=\"04 99\"" }));

    // A UID changed on the device shows in the field.
    device->send({ { "type", "tags_state" },
        { "tags",
            Json::array({ toJson(TagInfo { 3, "04 1A 22 33", "Kitchen" }), toJson(TagInfo { 5, "04 FE", "Desk" }),
                toJson(TagInfo { 7, "04 01 02 03 ", "Door" }) }) } });
    settle();
    EXPECT_EQ(pane->uid(), "04 FE");
}

TEST_F(TagPaneTest, RedrawsOnlyOnAChangeAndAnErrorAloneLeavesTheDrafts)
{
    select(5);
    int redraws = 0;
    QObject::connect(pane.get(), &TagPanePresenter::changed, [&] { ++redraws; });
    TagPanePresenter::Inputs now = TagPanePresenter::read(*controller);
    pane->observe(now);
    EXPECT_EQ(redraws, 0) << "the same reading is no change";

    // Another tag's UID is only a draft: nothing is sent.
    pane->editUid("04 1A 22 33");
    now.tagError = "Tavrik refused the tag.";
    redraws = 0;
    pane->observe(now);
    EXPECT_EQ(redraws, 1);
    EXPECT_EQ(pane->tagError(), now.tagError);
    EXPECT_EQ(pane->uid(), "04 1A 22 33") << "an error alone does not refill the field being typed in";

    // A changed list refills the field from the tag's new UID, and names are checked against it.
    now.tags[1].uid = "04 77";
    now.tags[0].name = "Study";
    pane->observe(now);
    EXPECT_EQ(pane->uid(), "04 77");
    pane->editName("study");
    EXPECT_EQ(pane->nameValidationMessage(), std::string(TagPanePresenter::duplicateNameMessage));
}

TEST_F(TagPaneTest, CreatingByScanNeverTouchesTheSelectedTag)
{
    select(5);
    TagPanePresenter::beginCreatingTag(*controller, *window);
    settle();
    EXPECT_TRUE(std::holds_alternative<Create>(*window->state().tagMode));
    // The window fills the editor's draft with the scanned UID; the pane keeps its own.
    window->modify([](ContentViewPresenter::State& state) {
        state.tagDraftUid = "04 CA FE";
        state.showingTagSheet = true;
    });
    TagPanePresenter::syncTagSelection(*controller, *window);
    settle();
    EXPECT_EQ(window->state().tagDraftUid, "04 CA FE") << "a refill of the selection leaves the scanned UID alone";
    EXPECT_EQ(pane->uid(), "04 AA BB CC");
    window->modify([](ContentViewPresenter::State& state) { state.tagDraftName = "Garage"; });
    TagPanePresenter::handleTagSave(*controller, *window);

    EXPECT_FALSE(window->state().showingTagSheet);
    EXPECT_FALSE(window->state().tagMode.has_value());
    EXPECT_EQ(controller->tags()[1], (TagInfo { 5, "04 AA BB CC", "Desk" }));
    EXPECT_EQ(controller->tags().back().uid, "04 CA FE");
    EXPECT_EQ(pane->uid(), "04 AA BB CC");
    const auto sent = sentCommands();
    EXPECT_EQ(
        std::count_if(sent.begin(), sent.end(), [](const std::string& text) { return text.starts_with("tag:update"); }),
        0);
    EXPECT_NE(std::find(sent.begin(), sent.end(), "tag:create id=8 uid=\"04 CA FE\" name=\"Garage\""), sent.end());
}

TEST_F(TagPaneTest, SaveStopsEarlyOnInvalidDraftsAndLeavesTheSheetOpen)
{
    struct Case {
        const char* name;
        Mode mode;
        std::string draftName;
        std::string draftUid;
    };
    const TagInfo desk { 5, "04 AA BB CC", "Desk" };
    const std::vector<Case> cases {
        { "create without name", Create {}, "", "04 77" },
        { "create with blank UID", Create {}, "Garage", " " },
        { "create with a taken name", Create {}, " door", "04 77" },
        { "create with a taken UID", Create {}, "Garage", "04 aa bb cc" },
        { "rename to nothing", Rename { desk }, "", "04 AA BB CC" },
        { "rename to another's name", Rename { desk }, "kitchen", "04 AA BB CC" },
        { "rename with another's UID", Rename { desk }, "Desk 2", "04 01 02 03" },
        { "rename with no UID", Rename { desk }, "Desk 2", "" },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        window->modify([&](ContentViewPresenter::State& state) {
            state.tagMode = test.mode;
            state.tagDraftName = test.draftName;
            state.tagDraftUid = test.draftUid;
            state.showingTagSheet = true;
        });
        const auto before = controller->tags();
        TagPanePresenter::handleTagSave(*controller, *window);
        EXPECT_TRUE(window->state().showingTagSheet);
        EXPECT_TRUE(window->state().tagMode.has_value());
        EXPECT_EQ(controller->tags(), before);
    }
    EXPECT_TRUE(sentCommands().empty());

    window->modify([&](ContentViewPresenter::State& state) {
        state.tagMode = Rename { desk };
        state.tagDraftName = "Desk 2";
        state.tagDraftUid = "04 AB";
    });
    TagPanePresenter::handleTagSave(*controller, *window);
    EXPECT_FALSE(window->state().showingTagSheet);
    EXPECT_EQ(controller->tags()[1], (TagInfo { 5, "04 AB", "Desk 2" }));
}

TEST_F(TagPaneTest, EditorRulesFollowModeUidAndScanResult)
{
    struct Case {
        const char* name;
        std::optional<Mode> mode;
        std::string draftName;
        std::string uid;
        std::optional<TagScanResult> scan;
        std::optional<std::string> duplicate;
        bool canSave;
    };
    const TagInfo desk { 5, "04 AA BB CC", "Desk" };
    const std::vector<Case> cases {
        { "no mode", std::nullopt, "Any", "04", std::nullopt, std::nullopt, false },
        { "create waits for a UID", Create {}, "Garage", "", std::nullopt, std::nullopt, false },
        { "create with name and UID", Create {}, "Garage", "04 77", std::nullopt, std::nullopt, true },
        { "create reported as saved", Create {}, "Garage", "04 77", TagScanResult { "04 77", std::nullopt, "Fob" },
            "Fob", false },
        { "a saved name for another UID", Create {}, "Garage", "04 77", TagScanResult { "04 78", std::nullopt, "Fob" },
            std::nullopt, true },
        { "an empty saved name", Create {}, "Garage", "04 77", TagScanResult { "04 77", std::nullopt, "" },
            std::nullopt, true },
        { "create with a taken name", Create {}, "desk", "04 77", std::nullopt, std::nullopt, false },
        { "rename keeps its own name", Rename { desk }, "DESK", "", std::nullopt, std::nullopt, true },
        { "rename never reports a duplicate", Rename { desk }, "Desk 2", "04 77",
            TagScanResult { "04 77", std::nullopt, "Fob" }, std::nullopt, true },
        { "rename to nothing", Rename { desk }, "", "04 AA", std::nullopt, std::nullopt, false },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        ContentViewPresenter::State state;
        state.tagMode = test.mode;
        state.tagDraftName = test.draftName;
        state.tagDraftUid = test.uid;
        const auto duplicate = TagEditorPresenter::duplicateName(test.mode, test.uid, test.scan);
        EXPECT_EQ(duplicate, test.duplicate);
        const auto message = TagPanePresenter::tagDraftValidationMessage(controller->tags(), state);
        EXPECT_EQ(TagEditorPresenter::canSave(test.mode, test.draftName, test.uid, duplicate, message), test.canSave);
    }
}

TEST_F(TagPaneTest, CancellingACreateEndsTheScanSessionAndClearsThePendingScan)
{
    TagPanePresenter::beginCreatingTag(*controller, *window);
    settle();
    ASSERT_TRUE(controller->tagScanSessionActive());
    device->send({ { "type", "scan_pending" } });
    settle();
    window->modify([](ContentViewPresenter::State& state) { state.showingTagSheet = true; });
    TagPanePresenter::cancelTagEdit(*controller, *window);
    settle();
    EXPECT_FALSE(controller->tagScanSessionActive());
    EXPECT_FALSE(controller->tagScanCommandPending());
    EXPECT_EQ(controller->tagScanState(), TagScanState::idle());
    EXPECT_FALSE(window->state().showingTagSheet);
    EXPECT_FALSE(window->state().tagMode.has_value());
}

} // namespace
} // namespace tavrik::test
