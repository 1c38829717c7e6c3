#include "TavrikLink/Views/RoutinePanePresenter.hpp"

#include "TavrikCore/Routine/RoutineConversions.hpp"
#include "tests/support/SequenceRandomSource.hpp"
#include "tests/views/PaneQuestionSupport.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace tavrik {
namespace {

using Content = RoutinePanePresenter::Content;
using test::answerWith;
using test::expectAsked;

RoutineStepDraft taggedStep(std::uint32_t stepId, std::int64_t position, std::string tagId = "1")
{
    RoutineStepDraft step;
    step.stepId = stepId;
    step.position = position;
    step.tagId = std::move(tagId);
    step.seconds = 60;
    step.instruction = "Step " + std::to_string(stepId);
    return step;
}

RoutineDetailModel storedDetail(
    std::uint32_t id, const std::string& label, int stepCount, std::vector<std::uint32_t> startTags = {})
{
    std::vector<RoutineStepDraft> steps;
    for (int index = 0; index < stepCount; ++index) {
        steps.push_back(taggedStep(static_cast<std::uint32_t>(index + 1), index));
    }
    test::SequenceRandomSource random;
    RoutineDetailModel detail
        = savedRoutineDetail(id, label, RoutineDraft(id, label, std::move(startTags), std::move(steps), {}), random);
    detail.hasReceivedAllSteps = true;
    return detail;
}

RoutineSummary summaryOf(const RoutineDetailModel& detail)
{
    return { detail.id, detail.label, static_cast<std::int64_t>(detail.steps.size()), 0,
        static_cast<std::int64_t>(detail.startTagIds.size()) };
}

struct Save {
    std::optional<std::uint32_t> id; // absent: created
    RoutineDraft draft;
};

struct PaneFixture : ::testing::Test {
    ContentViewPresenter window { ContentViewPresenter::Actions {} };
    // The tables the pane reads, as the controller keeps them.
    std::map<std::uint32_t, RoutineDetailModel> details;
    std::vector<RoutineSummary> summaries;
    RoutinePanePresenter::Data data;
    std::vector<Save> saves;
    std::vector<std::uint32_t> deleted;
    std::vector<std::uint32_t> triggered;
    bool acceptUpdates = true;
    std::optional<std::uint32_t> createdId = 50;
    std::unique_ptr<RoutinePanePresenter> pane;

    PaneFixture()
    {
        pane = std::make_unique<RoutinePanePresenter>(window, operations());
        data.routineDetails = &details;
        data.routineSummaries = &summaries;
        data.deviceSyncDataVersion = 9;
        data.routineStartTagsSupported = true;
        data.tags = { { 1, "04A1", "Kitchen" }, { 2, "04A2", "door" }, { 3, "04A3", "Bed" } };
    }

    void install(const RoutineDetailModel& detail)
    {
        details[detail.id] = detail;
        std::erase_if(summaries, [&](const RoutineSummary& summary) { return summary.id == detail.id; });
        summaries.push_back(summaryOf(detail));
        pane->observe(data);
    }

    void show(const RoutineDetailModel& detail)
    {
        install(detail);
        window.selectRoutine(detail.id);
    }

    RoutinePanePresenter::Operations operations()
    {
        RoutinePanePresenter::Operations operations;
        operations.createRoutine = [this](const RoutineDraft& draft) {
            saves.push_back({ std::nullopt, draft });
            return createdId;
        };
        operations.updateRoutine = [this](std::uint32_t id, const RoutineDraft& draft) {
            saves.push_back({ id, draft });
            return acceptUpdates;
        };
        operations.deleteRoutine = [this](std::uint32_t id) { deleted.push_back(id); };
        operations.triggerRoutine = [this](std::uint32_t id) { triggered.push_back(id); };
        return operations;
    }

    RoutineDraft edited(const std::function<void(RoutineDraft&)>& change) const
    {
        RoutineDraft draft = pane->draft();
        change(draft);
        return draft;
    }
};

TEST(RoutinePaneRules, TitleRuleIgnoresCaseBlanksAndTheRoutineItself)
{
    const std::vector<RoutineSummary> summaries { { 1, "Morning", 0, 0, 0 }, { 2, "  Evening\n", 0, 0, 0 },
        { 3, "\u212Aitchen", 0, 0, 0 }, { 4, "Caf\u00E9", 0, 0, 0 }, { 5, "Nap\t", 0, 0, 0 } };
    struct Case {
        std::optional<std::uint32_t> id;
        std::string label;
        bool duplicate;
    };
    const std::vector<Case> cases {
        { std::nullopt, "  morning ", true },
        { std::nullopt, "EVENING", true },
        { std::nullopt, "Mornings", false },
        { std::nullopt, "   ", false },
        { 1, "morning", false }, // its own title
        { 2, "Morning", true },
        // Titles beyond ASCII fold as the desktop's text folds them.
        { std::nullopt, "kitchen", true }, // the Kelvin sign folds to "k"
        { std::nullopt, "CAF\u00C9", true },
        { std::nullopt, "cafe", false },
        { std::nullopt, "\u00A0nap", true }, // a no-break space is a blank too
        { std::nullopt, "Nap Time", false },
    };
    for (const Case& c : cases) {
        RoutineDraft draft;
        draft.id = c.id;
        draft.label = c.label;
        const auto message = RoutinePanePresenter::routineTitleValidationMessage(draft, summaries);
        EXPECT_EQ(message.has_value(), c.duplicate) << c.label;
        if (message) {
            EXPECT_EQ(*message, "A routine with this title already exists.");
        }
    }
}

TEST(RoutinePaneRules, NewRoutineDraftIsShownWhileBegunOrHoldingAnything)
{
    struct Case {
        std::string name;
        std::function<void(ContentViewPresenter::State&)> setup;
        bool shown;
    };
    const std::vector<Case> cases {
        { "begun and empty", [](auto& s) { s.routineDetailSnapshotSignature = -1; }, true },
        { "empty, never begun", [](auto&) {}, false },
        { "a title typed", [](auto& s) { s.routineDetailDraft.label = "M"; }, true },
        { "a start tag", [](auto& s) { s.routineDetailDraft.startTagIds = { 4 }; }, true },
        { "a step", [](auto& s) { s.routineDetailDraft.appendRootStep(); }, true },
        { "a group", [](auto& s) { s.routineDetailDraft.appendGroup(); }, true },
        { "a routine selected",
            [](auto& s) {
                s.routineDetailSnapshotSignature = -1;
                s.selectedRoutineId = 3;
            },
            false },
        { "a draft with an id",
            [](auto& s) {
                s.routineDetailSnapshotSignature = -1;
                s.routineDetailDraft.id = 3;
            },
            false },
    };
    for (const Case& c : cases) {
        ContentViewPresenter::State state;
        c.setup(state);
        EXPECT_EQ(RoutinePanePresenter::showingNewRoutineDraft(state), c.shown) << c.name;
    }
}

TEST(RoutinePaneRules, RunningStepLine)
{
    struct Case {
        std::optional<std::string> instruction;
        std::optional<std::string> tag;
        std::string line;
    };
    const std::vector<Case> cases {
        { "sCaN", "Door", "Step 2/5 \u2022 Scan Door" },
        { "Wash", "Door", "Step 2/5 \u2022 Wash \u2022 Tag: Door" },
        { "", "Door", "Step 2/5 \u2022 Tag: Door" },
        { "Wash", "", "Step 2/5 \u2022 Wash" },
        { std::nullopt, std::nullopt, "Step 2/5" },
        { "scan", std::nullopt, "Step 2/5" },
    };
    for (const Case& c : cases) {
        ActiveRoutineContext context;
        context.stepIndex = 1;
        context.stepCount = 5;
        context.stepInstruction = c.instruction;
        context.stepTag = c.tag;
        EXPECT_EQ(RoutinePanePresenter::activeStepLine(context), c.line);
    }
}

TEST(RoutinePaneRules, StartTagListsAreSortedByNameAndSkipTakenTags)
{
    const std::vector<TagInfo> tags { { 5, "", "kitchen" }, { 1, "", "Door" }, { 7, "", "bed" }, { 9, "", "Attic" },
        { 1, "", "Shadow" } };
    RoutineDraft draft;
    draft.id = 10;
    draft.startTagIds = { 5, 1, 42 };
    std::map<std::uint32_t, RoutineDetailModel> details;
    details[10].id = 10;
    details[10].startTagIds = { 7 }; // the routine's own stored start tag does not count as taken
    details[11].id = 11;
    details[11].startTagIds = { 9 };

    auto names = [](const std::vector<TagInfo>& list) {
        std::vector<std::string> result;
        for (const TagInfo& tag : list) {
            result.push_back(tag.name);
        }
        return result;
    };
    EXPECT_EQ(names(RoutinePanePresenter::assignedRoutineStartTags(draft, tags, "en_US")),
        (std::vector<std::string> { "Door", "kitchen" }));
    EXPECT_EQ(names(RoutinePanePresenter::availableRoutineStartTags(draft, tags, details, "en_US")),
        (std::vector<std::string> { "bed" }));
}

TEST_F(PaneFixture, AddStartTagHelpNamesWhatIsMissing)
{
    show(storedDetail(10, "Morning", 1));
    std::map<std::uint32_t, RoutineDetailModel> withOther = details;
    withOther[11] = storedDetail(11, "Other", 1, { 1, 2, 3 });
    struct Case {
        std::string name;
        std::function<void(RoutinePanePresenter::Data&)> setup;
        std::string help;
        bool enabled;
    };
    const std::vector<Case> cases {
        { "old firmware", [](auto& d) { d.routineStartTagsSupported = false; },
            "Upgrade Tavrik firmware to add routine start tags.", false },
        { "no tags", [](auto& d) { d.tags.clear(); }, "Create a saved tag first.", false },
        { "tags free", [](auto&) {}, "Choose a saved tag that will start this routine when scanned.", true },
        { "all taken", [&](auto& d) { d.routineDetails = &withOther; },
            "Every saved tag is already assigned to this or another routine.", false },
    };
    const RoutinePanePresenter::Data base = data;
    for (const Case& c : cases) {
        RoutinePanePresenter::Data next = base;
        c.setup(next);
        pane->observe(next);
        EXPECT_EQ(pane->addRoutineStartTagHelp(), c.help) << c.name;
        EXPECT_EQ(pane->canAddRoutineStartTag(), c.enabled) << c.name;
    }

    pane->observe(base);
    pane->removeRoutineStep(pane->draft().steps.front());
    EXPECT_EQ(pane->addRoutineStartTagHelp(), "Add a runnable step or group first.");
    EXPECT_FALSE(pane->canAddRoutineStartTag());
}

TEST_F(PaneFixture, NewRoutineIsCreatedOnceWhenValidAndReplacedByTheDeviceDetail)
{
    RoutinePanePresenter::beginCreatingRoutine(window);
    EXPECT_EQ(pane->content(), Content::newRoutine);
    install(storedDetail(10, "Morning", 1));

    // A duplicate title keeps it unsaved, however valid.
    pane->editDraft(edited([](RoutineDraft& d) { d.label = " morning "; }));
    const RoutineStepDraft step = pane->addRoutineStep();
    EXPECT_EQ(pane->draft().steps.size(), 1u);
    pane->editDraft(edited([&](RoutineDraft& d) { d.steps.front().tagId = "2"; }));
    EXPECT_EQ(pane->titleValidationMessage(), "A routine with this title already exists.");
    EXPECT_TRUE(saves.empty());

    pane->editDraft(edited([](RoutineDraft& d) { d.label = "Evening"; }));
    ASSERT_EQ(saves.size(), 1u);
    EXPECT_FALSE(saves[0].id);
    EXPECT_EQ(saves[0].draft.steps.front().id, step.id);
    EXPECT_EQ(window.state().selectedRoutineId, 50u);
    EXPECT_EQ(pane->content(), Content::emptyState);
    EXPECT_EQ(pane->emptyStateText(), "Loading routine\u2026");

    // The device's detail of the new routine replaces the draft, and nothing more is saved.
    install(storedDetail(50, "Evening", 1));
    EXPECT_EQ(pane->content(), Content::storedRoutine);
    EXPECT_EQ(pane->draft().id, 50u);
    EXPECT_EQ(pane->draft().label, "Evening");
    EXPECT_EQ(saves.size(), 1u);
}

TEST_F(PaneFixture, RefusedCreateIsTriedAgainOnTheNextChange)
{
    createdId.reset();
    RoutinePanePresenter::beginCreatingRoutine(window);
    pane->editDraft(edited([](RoutineDraft& d) { d.label = "Walk"; }));
    EXPECT_EQ(saves.size(), 1u);
    EXPECT_EQ(pane->content(), Content::newRoutine);
    createdId = 51;
    pane->editDraft(edited([](RoutineDraft& d) { d.label = "Walks"; }));
    EXPECT_EQ(saves.size(), 2u);
    EXPECT_EQ(window.state().selectedRoutineId, 51u);
}

TEST_F(PaneFixture, StoredRoutineSavesTitleEditsButNotWhileStepsAreLoading)
{
    RoutineDetailModel detail = storedDetail(10, "Morning", 2);
    detail.hasReceivedAllSteps = false;
    detail.expectedStepCount = 4;
    show(detail);
    EXPECT_EQ(pane->stepLoadStatus(), detail.loadingProgressDescription());
    pane->editDraft(edited([](RoutineDraft& d) { d.label = "Morning run"; }));
    EXPECT_TRUE(saves.empty());

    // All steps in: the next title change saves; the same draft again saves nothing.
    detail.hasReceivedAllSteps = true;
    detail.expectedStepCount = 2;
    install(detail);
    EXPECT_FALSE(pane->stepLoadStatus());
    pane->editDraft(edited([](RoutineDraft& d) { d.label = "Morning walk"; }));
    ASSERT_EQ(saves.size(), 1u);
    EXPECT_EQ(saves[0].id, 10u);
    EXPECT_EQ(saves[0].draft.label, "Morning walk");
    EXPECT_EQ(window.state().routineDetailMetadataSnapshotSignature, pane->draft().metadataSignature());
    pane->editDraft(pane->draft());
    EXPECT_EQ(saves.size(), 1u);

    // An empty title is not valid and is kept on screen unsaved.
    pane->editDraft(edited([](RoutineDraft& d) { d.label.clear(); }));
    EXPECT_EQ(saves.size(), 1u);
    EXPECT_EQ(pane->draft().label, "");
}

TEST_F(PaneFixture, LeavingATitleThatCannotBeSavedShowsTheSavedOne)
{
    install(storedDetail(2, "Evening reset", 1));
    show(storedDetail(1, "Morning reset", 1));
    // Typed over "Morning reset" key by key: every text up to the duplicate is saved, and the
    // controller shows each save at once.
    const std::string typed = "  evening RESET";
    for (std::size_t length = 1; length <= typed.size(); ++length) {
        pane->editDraft(edited([&](RoutineDraft& d) { d.label = typed.substr(0, length); }));
        if (!saves.empty() && saves.back().draft.label == typed.substr(0, length)) {
            install(storedDetail(1, saves.back().draft.label, 1));
        }
    }
    ASSERT_EQ(saves.back().draft.label, "  evening RESE");
    // While the user is still in the field, the text and its message stay.
    EXPECT_EQ(pane->draft().label, typed);
    EXPECT_EQ(pane->titleValidationMessage(), "A routine with this title already exists.");

    const std::size_t saved = saves.size();
    pane->finishTitleEditing();
    EXPECT_EQ(pane->draft().label, "  evening RESE");
    EXPECT_EQ(pane->titleValidationMessage(), std::nullopt);

    // Leaving the pane does the same, for an empty title too; a title that was saved is left alone.
    pane->editDraft(edited([](RoutineDraft& d) { d.label.clear(); }));
    window.selectPane(ContentViewPresenter::SidebarPane::tags);
    EXPECT_EQ(pane->draft().label, "  evening RESE");
    window.selectPane(ContentViewPresenter::SidebarPane::routines);
    pane->finishTitleEditing();
    EXPECT_EQ(pane->draft().label, "  evening RESE");
    EXPECT_EQ(saves.size(), saved);

    // A new routine has nothing saved to go back to: what was typed stays with its message.
    RoutinePanePresenter::beginCreatingRoutine(window);
    pane->editDraft(edited([](RoutineDraft& d) { d.label = "evening reset"; }));
    pane->finishTitleEditing();
    EXPECT_EQ(pane->draft().label, "evening reset");
    EXPECT_EQ(pane->titleValidationMessage(), "A routine with this title already exists.");
}

TEST_F(PaneFixture, RefusedUpdateKeepsTheSignaturesSoTheNextChangeRetries)
{
    show(storedDetail(10, "Morning", 1));
    const auto confirmed = window.state().routineDetailSnapshotSignature;
    acceptUpdates = false;
    pane->editDraft(edited([](RoutineDraft& d) { d.label = "Dawn"; }));
    EXPECT_EQ(saves.size(), 1u);
    EXPECT_EQ(window.state().routineDetailSnapshotSignature, confirmed);
    acceptUpdates = true;
    pane->commitRoutineHierarchyChange();
    EXPECT_EQ(saves.size(), 2u);
    EXPECT_EQ(window.state().routineDetailSnapshotSignature, pane->draft().syncSignature());
}

TEST_F(PaneFixture, StepAndGroupActionsSaveAStoredRoutine)
{
    show(storedDetail(10, "Morning", 3));
    // Step and group changes save through the committed actions only, not as the draft changes.
    const RoutineGroupDraft group = pane->addRoutineGroup();
    pane->editDraft(edited([&](RoutineDraft& d) { d.moveStep(d.steps[0].stepId, group.groupId, 0); }));
    EXPECT_TRUE(saves.empty());
    pane->commitRoutineHierarchyChange();
    ASSERT_EQ(saves.size(), 1u);
    EXPECT_EQ(saves.back().draft.childSteps(group.groupId).size(), 1u);

    pane->removeRoutineGroup(group);
    ASSERT_EQ(saves.size(), 2u);
    EXPECT_TRUE(saves.back().draft.groups.empty());
    EXPECT_EQ(saves.back().draft.steps.size(), 3u);

    pane->removeRoutineStep(pane->draft().steps[1]);
    ASSERT_EQ(saves.size(), 3u);
    EXPECT_EQ(saves.back().draft.steps.size(), 2u);
    std::vector<std::int64_t> positions;
    for (const RoutineStepDraft& step : saves.back().draft.childSteps(0)) {
        positions.push_back(step.position);
    }
    EXPECT_EQ(positions, (std::vector<std::int64_t> { 0, 1 }));

    // A new step has no tag: the routine is not valid, so its sheet's commit saves nothing yet.
    pane->addRoutineStep();
    pane->saveExistingRoutineDraftIfReady();
    EXPECT_EQ(saves.size(), 3u);
}

TEST_F(PaneFixture, DeviceDataWaitsForUnconfirmedEditsAndKeepsRowIdentities)
{
    const RoutineDetailModel original = storedDetail(10, "Morning", 3);
    show(original);
    const Uuid firstRow = pane->draft().steps[0].id;

    // The device changes the routine while the draft matches the last snapshot: rebuilt, rows kept.
    RoutineDetailModel changed = original;
    changed.steps[2].seconds = 90;
    install(changed);
    EXPECT_EQ(pane->draft().steps[2].seconds, 90);
    EXPECT_EQ(pane->draft().steps[0].id, firstRow);

    // Local edits the device has not confirmed win over different device data.
    acceptUpdates = false;
    pane->editDraft(edited([](RoutineDraft& d) { d.label = "Dawn"; }));
    RoutineDetailModel other = changed;
    other.steps[0].seconds = 30;
    install(other);
    EXPECT_EQ(pane->draft().label, "Dawn");
    EXPECT_EQ(pane->draft().steps[0].seconds, 60);

    // When the device holds exactly the edits, only the signatures move.
    RoutineDetailModel echo = changed;
    echo.label = "Dawn";
    const RoutineDraft before = pane->draft();
    install(echo);
    EXPECT_EQ(pane->draft(), before);
    EXPECT_EQ(window.state().routineDetailSnapshotSignature, echo.syncSignature());
    EXPECT_EQ(window.state().routineDetailMetadataSnapshotSignature, before.metadataSignature());
}

TEST_F(PaneFixture, StartTagsAreAddedOnceInOrderAndRemovedAfterConfirmation)
{
    show(storedDetail(10, "Morning", 1));
    pane->addRoutineStartTag(3);
    pane->addRoutineStartTag(1);
    pane->addRoutineStartTag(3);
    EXPECT_EQ(pane->draft().startTagIds, (std::vector<std::uint32_t> { 1, 3 }));
    EXPECT_EQ(saves.size(), 2u);
    ASSERT_EQ(pane->availableRoutineStartTags().size(), 1u);
    EXPECT_EQ(pane->availableRoutineStartTags()[0].name, "door");

    // The question waits in the window's queue; Escape, "Cancel" and a cancel from elsewhere keep the tag.
    const test::AskedQuestion question { "Remove this start tag from the routine?", "", "Remove", "Cancel",
        WindowAlertQueue::Kind::question };
    pane->requestRemoveRoutineStartTag(1);
    EXPECT_EQ(pane->removingRoutineStartTagId(), 1u);
    expectAsked(window.alerts(), question);
    pane->requestRemoveRoutineStartTag(1);
    EXPECT_EQ(window.alerts().keys().size(), 1u) << "asked once";
    window.alerts().dismiss();
    EXPECT_FALSE(pane->removingRoutineStartTagId());
    pane->requestRemoveRoutineStartTag(1);
    answerWith(window.alerts(), "Cancel");
    EXPECT_FALSE(pane->removingRoutineStartTagId());
    pane->requestRemoveRoutineStartTag(1);
    pane->cancelRemoveRoutineStartTag();
    EXPECT_EQ(window.alerts().current(), nullptr) << "the question goes with the request";
    EXPECT_EQ(pane->draft().startTagIds.size(), 2u);
    EXPECT_EQ(saves.size(), 2u);

    pane->requestRemoveRoutineStartTag(1);
    answerWith(window.alerts(), "Remove");
    EXPECT_FALSE(pane->removingRoutineStartTagId());
    EXPECT_EQ(window.alerts().current(), nullptr);
    EXPECT_EQ(pane->draft().startTagIds, (std::vector<std::uint32_t> { 3 }));
    EXPECT_EQ(saves.size(), 3u);
}

TEST_F(PaneFixture, APaneRebuiltWhileAskingTakesTheStartTagQuestionOver)
{
    show(storedDetail(10, "Morning", 1, { 1, 3 }));
    pane->requestRemoveRoutineStartTag(1);

    // The window builds the new pane before the old one goes.
    auto rebuilt = std::make_unique<RoutinePanePresenter>(window, operations());
    rebuilt->observe(data);
    pane.reset();
    EXPECT_EQ(window.alerts().keys().size(), 1u);
    answerWith(window.alerts(), "Remove");
    EXPECT_EQ(rebuilt->draft().startTagIds, (std::vector<std::uint32_t> { 3 }));
    EXPECT_EQ(saves.back().draft.startTagIds, (std::vector<std::uint32_t> { 3 }));
    EXPECT_EQ(window.alerts().current(), nullptr);
}

TEST_F(PaneFixture, DeleteAsksFirstAndClearsTheSelection)
{
    int scheduleSyncs = 0;
    window.actions().syncScheduleSelection = [&] { ++scheduleSyncs; };
    show(storedDetail(10, "Morning", 1));
    scheduleSyncs = 0;

    const test::AskedQuestion question { "Delete Routine?",
        "Remove Morning, its schedules, and its start-tag assignments?", "Delete", "Cancel" };
    pane->deleteShownRoutine();
    expectAsked(window.alerts(), question);
    pane->deleteShownRoutine();
    EXPECT_EQ(window.alerts().keys().size(), 1u) << "asked once";
    window.alerts().dismiss();
    pane->deleteShownRoutine();
    answerWith(window.alerts(), "Cancel");
    EXPECT_TRUE(deleted.empty());
    EXPECT_EQ(pane->content(), Content::storedRoutine);

    pane->deleteShownRoutine();
    EXPECT_TRUE(deleted.empty()) << "nothing is deleted before the answer";
    answerWith(window.alerts(), "Delete");
    EXPECT_EQ(deleted, (std::vector<std::uint32_t> { 10 }));
    EXPECT_FALSE(window.state().selectedRoutineId);
    EXPECT_EQ(pane->draft(), RoutineDraft().normalizedHierarchy());
    EXPECT_EQ(pane->content(), Content::emptyState);
    EXPECT_EQ(pane->emptyStateText(), "Select a routine from the sidebar to view details.");
    EXPECT_GE(scheduleSyncs, 1);
    EXPECT_EQ(window.alerts().current(), nullptr);
}

TEST_F(PaneFixture, ASelectedRoutineTheLoadedDataLacksGivesWayToTheSelectionState)
{
    int scheduleSyncs = 0;
    window.actions().syncScheduleSelection = [&] { ++scheduleSyncs; };
    data.hasLoadedData = true;
    install(storedDetail(10, "Morning", 1));

    // A new routine is created, and held at once, as the controller does.
    RoutinePanePresenter::beginCreatingRoutine(window);
    pane->addRoutineStep();
    pane->editDraft(edited([](RoutineDraft& d) { d.steps.front().tagId = "2"; }));
    pane->editDraft(edited([](RoutineDraft& d) { d.label = "Evening"; }));
    ASSERT_EQ(window.state().selectedRoutineId, 50u);
    install(storedDetail(50, "Evening", 1));
    ASSERT_EQ(pane->content(), Content::storedRoutine);

    // While a load runs, the selected routine is only waited for.
    data.hasLoadedData = false;
    details.clear();
    summaries.clear();
    pane->observe(data);
    EXPECT_EQ(pane->emptyStateText(), "Loading routine\u2026");
    EXPECT_EQ(window.state().selectedRoutineId, 50u);

    // The device refused it: the data loaded again lacks it, and the refusal is what the pane shows.
    data.hasLoadedData = true;
    data.routineError = "Routine store is full";
    scheduleSyncs = 0;
    install(storedDetail(10, "Morning", 1));
    EXPECT_FALSE(window.state().selectedRoutineId);
    EXPECT_EQ(pane->content(), Content::emptyState);
    EXPECT_EQ(pane->emptyStateText(), "Select a routine from the sidebar to view details.");
    EXPECT_EQ(pane->draft(), RoutineDraft().normalizedHierarchy());
    EXPECT_EQ(pane->data().routineError, "Routine store is full");
    EXPECT_GE(scheduleSyncs, 1);
    EXPECT_EQ(saves.size(), 1u);
}

TEST_F(PaneFixture, APaneThatGoesAwayTakesItsQuestionsBack)
{
    show(storedDetail(10, "Morning", 1));
    pane->deleteShownRoutine();
    ASSERT_NE(window.alerts().current(), nullptr);
    pane.reset();
    EXPECT_EQ(window.alerts().current(), nullptr);
    EXPECT_TRUE(deleted.empty());
}

TEST_F(PaneFixture, StartAndDeleteDoNothingForANewRoutine)
{
    RoutinePanePresenter::beginCreatingRoutine(window);
    pane->triggerShownRoutine();
    pane->deleteShownRoutine();
    EXPECT_TRUE(triggered.empty());
    EXPECT_EQ(window.alerts().current(), nullptr);

    show(storedDetail(10, "Morning", 1));
    pane->triggerShownRoutine();
    EXPECT_EQ(triggered, (std::vector<std::uint32_t> { 10 }));
}

TEST_F(PaneFixture, GroupEditingNeedsDataVersionAboveEight)
{
    for (const auto& [version, enabled] : std::vector<std::pair<std::optional<std::int64_t>, bool>> {
             { std::nullopt, false }, { 8, false }, { 9, true } }) {
        data.deviceSyncDataVersion = version;
        pane->observe(data);
        EXPECT_EQ(pane->groupEditingEnabled(), enabled);
    }
}

} // namespace
} // namespace tavrik
