#include "TavrikLink/Views/RoutineDetailEditorPresenter.hpp"
#include "TavrikLink/Views/StartTagPickerPresenter.hpp"

#include <QCoreApplication>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace tavrik {
namespace {

RoutineStepDraft step(std::uint32_t stepId, std::uint32_t parentId, std::int64_t position, std::int64_t seconds = 60)
{
    RoutineStepDraft result;
    result.stepId = stepId;
    result.parentId = parentId;
    result.position = position;
    result.seconds = seconds;
    result.tagId = "1";
    return result;
}

// Root: step 1, group 100 (steps 2, 3), step 4, empty group 200.
RoutineDraft sampleDraft()
{
    return RoutineDraft(7, "Morning", {}, { step(1, 0, 0), step(2, 100, 0), step(3, 100, 1), step(4, 0, 2) },
        { RoutineGroupDraft(Uuid::make(), 100, 1, "Chores", RoutineGroupMode::timebox, 900),
            RoutineGroupDraft(Uuid::make(), 200, 3, "Empty", RoutineGroupMode::rotation, 0) });
}

// The editor with a host that records what it is asked to do.
struct EditorFixture : ::testing::Test {
    RoutineDraft draft = sampleDraft();
    std::vector<std::string> calls;
    std::deque<std::function<void()>> deferred;
    std::unique_ptr<RoutineDetailEditorPresenter> editor;

    EditorFixture()
    {
        RoutineDetailEditorPresenter::Host host;
        host.draft = [this]() -> const RoutineDraft& { return draft; };
        host.setDraft = [this](RoutineDraft next) { draft = std::move(next); };
        host.onAddStep = [this] {
            calls.push_back("addStep");
            return draft.appendRootStep();
        };
        host.onAddGroup = [this] {
            calls.push_back("addGroup");
            return draft.appendGroup();
        };
        host.onDeleteStep = [this](const RoutineStepDraft& s) {
            calls.push_back("deleteStep " + std::to_string(s.stepId));
            std::erase_if(draft.steps, [&](const RoutineStepDraft& c) { return c.id == s.id; });
            draft.normalizeHierarchy();
        };
        host.onDeleteGroup = [this](const RoutineGroupDraft& g) {
            calls.push_back("deleteGroup " + std::to_string(g.groupId));
            draft.removeGroup(g.groupId);
        };
        host.onCommitHierarchyChange = [this] { calls.push_back("commitHierarchy"); };
        host.onCommitStepEdit = [this] { calls.push_back("commitEdit"); };
        host.onTrigger = [this] { calls.push_back("trigger"); };
        host.onDeleteRoutine = [this] { calls.push_back("deleteRoutine"); };
        host.defer = [this](std::function<void()> work) { deferred.push_back(std::move(work)); };
        editor = std::make_unique<RoutineDetailEditorPresenter>(std::move(host));
        editor->setInputs({ {}, true, std::nullopt, std::nullopt, std::nullopt });
    }

    void runDeferred()
    {
        while (!deferred.empty()) {
            auto work = std::move(deferred.front());
            deferred.pop_front();
            work();
        }
    }

    const Uuid& idOf(std::uint32_t stepId) const
    {
        for (const RoutineStepDraft& s : draft.steps) {
            if (s.stepId == stepId) {
                return s.id;
            }
        }
        throw std::logic_error("no such step");
    }

    std::vector<std::string> order() const { return editor->hierarchy().hierarchyOrder(); }
};

TEST(RoutineDetailEditorSummary, CountsEveryStepAndGroupAndTheirTime)
{
    struct Case {
        RoutineDraft draft;
        std::string line;
    };
    const std::vector<Case> cases {
        { RoutineDraft(), "0 steps \u2022 0 groups \u2022 0:00" },
        { RoutineDraft(1, "A", {}, { step(1, 100, 0, 60), step(2, 100, 1, 90), step(3, 100, 2, 3600) },
              { RoutineGroupDraft(Uuid::make(), 100, 0, "G", RoutineGroupMode::timebox, 900) }),
            "3 steps \u2022 1 groups \u2022 1:02:30" },
        { RoutineDraft(1, "A", {}, { step(1, 0, 0, 5) }, {}), "1 steps \u2022 0 groups \u2022 0:05" },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RoutineDetailEditorPresenter::summaryLine(c.draft), c.line);
    }
}

TEST_F(EditorFixture, OldFirmwareMakesARoutineWithGroupsReadOnly)
{
    struct Case {
        bool groupEditing;
        bool hasGroups;
        bool title, list, addStep, addGroup, notice;
    };
    const std::vector<Case> cases {
        { false, true, false, false, false, false, true },
        { false, false, true, true, true, false, true },
        { true, true, true, true, true, true, false },
    };
    const RoutineDraft withGroups = sampleDraft();
    for (const Case& c : cases) {
        draft = c.hasGroups ? withGroups : RoutineDraft(7, "Plain", {}, { step(1, 0, 0) }, {});
        editor->setInputs({ {}, c.groupEditing, std::nullopt, std::nullopt, std::nullopt });
        EXPECT_EQ(editor->titleEnabled(), c.title);
        EXPECT_EQ(editor->hierarchyEnabled(), c.list);
        EXPECT_EQ(editor->canAddStep(), c.addStep);
        EXPECT_EQ(editor->canAddGroup(), c.addGroup);
        EXPECT_EQ(editor->showsFirmwareNotice(), c.notice);
    }
}

TEST_F(EditorFixture, AddStepOpensItsSheetAndDoneWritesTheCopyBack)
{
    QSignalSpy sheets(editor.get(), &RoutineDetailEditorPresenter::stepEditorChanged);
    editor->addStep();
    ASSERT_NE(editor->stepEditor(), nullptr);
    const Uuid added = *editor->editingStepId();
    EXPECT_EQ(draft.steps.back().id, added);
    EXPECT_EQ(order().back(), "root-step:" + std::to_string(draft.steps.back().stepId));

    // Edits stay in the working copy until Done accepts them.
    StepEditorSheetPresenter& sheet = *editor->stepEditor();
    sheet.setInstruction("Brush teeth");
    EXPECT_EQ(draft.steps.back().instruction, "");
    sheet.done(); // no tag yet: stays open
    EXPECT_NE(editor->stepEditor(), nullptr);
    sheet.setTagId("12");
    sheet.done();
    EXPECT_EQ(editor->stepEditor(), nullptr);
    EXPECT_FALSE(editor->editingStepId());
    EXPECT_EQ(draft.steps.back().instruction, "Brush teeth");
    EXPECT_EQ(draft.steps.back().tagId, "12");
    EXPECT_EQ(calls, (std::vector<std::string> { "addStep", "commitEdit" }));
    EXPECT_EQ(sheets.count(), 2);
}

TEST_F(EditorFixture, GroupSheetCommitNormalisesAndAddGroupNeedsGroupEditing)
{
    editor->addGroup();
    ASSERT_NE(editor->groupEditor(), nullptr);
    editor->groupEditor()->setLabel("  Evening  ");
    editor->groupEditor()->done();
    EXPECT_EQ(editor->groupEditor(), nullptr);
    EXPECT_EQ(draft.groups.back().label, "Evening");
    EXPECT_EQ(calls.back(), "commitEdit");

    editor->setInputs({ {}, false, std::nullopt, std::nullopt, std::nullopt });
    calls.clear();
    editor->addGroup();
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(editor->groupEditor(), nullptr);
}

TEST_F(EditorFixture, DeletingFromASheetClosesItBeforeTheListChanges)
{
    const RoutineStepDraft target = draft.steps[1];
    editor->beginEditingStep(target);
    editor->stepEditor()->deleteStep();
    EXPECT_EQ(editor->stepEditor(), nullptr);
    EXPECT_EQ(draft.steps.size(), 4u) << "the step goes on the next turn";
    runDeferred();
    EXPECT_EQ(draft.steps.size(), 3u);
    EXPECT_EQ(calls, (std::vector<std::string> { "deleteStep 2" }));
    EXPECT_EQ(order(),
        (std::vector<std::string> { "root-step:1", "group:100", "group-step:100:3", "root-step:4", "group:200" }));

    editor->beginEditingGroup(draft.groups[0]);
    editor->groupEditor()->deleteGroup();
    EXPECT_EQ(editor->groupEditor(), nullptr);
    runDeferred();
    EXPECT_EQ(calls.back(), "deleteGroup 100");
    EXPECT_EQ(order(), (std::vector<std::string> { "root-step:1", "root-step:3", "root-step:4", "group:200" }));
}

TEST_F(EditorFixture, TitleStartAndDeleteGoToTheHost)
{
    editor->setTitle("Evening");
    EXPECT_EQ(draft.label, "Evening");
    editor->trigger();
    editor->deleteRoutine();
    EXPECT_EQ(calls, (std::vector<std::string> { "trigger", "deleteRoutine" }));
}

TEST_F(EditorFixture, DragSequencePreviewsLiveAndCommitsOnce)
{
    RoutineHierarchyModel& list = editor->hierarchy();
    const Uuid dragged = idOf(1);
    list.beginDrag(dragged);
    EXPECT_TRUE(list.acceptsDrop());

    // Over its own place: nothing moves.
    list.previewDraggedStep(dragged, 0, 0);
    EXPECT_FALSE(list.hierarchyChangedSinceDragBegan());

    // Hovering rows moves the step in the host's draft at once.
    const auto overGroupChild = list.dropTargetForRow(list.indexOfStep(idOf(3)));
    ASSERT_TRUE(overGroupChild);
    list.previewDraggedStep(dragged, overGroupChild->parentId, overGroupChild->position);
    EXPECT_EQ(draft.childSteps(100).size(), 3u);
    const auto overEmptyGroup = list.dropTargetForRow(list.indexOfGroup(200));
    ASSERT_TRUE(overEmptyGroup);
    list.previewDraggedStep(dragged, overEmptyGroup->parentId, overEmptyGroup->position);
    EXPECT_EQ(order(),
        (std::vector<std::string> {
            "group:100", "group-step:100:2", "group-step:100:3", "root-step:4", "group:200", "group-step:200:1" }));
    EXPECT_TRUE(calls.empty());

    // Released outside every target: it stays where the preview put it, committed once.
    list.finishDragAtPreviewedLocation(dragged);
    EXPECT_EQ(calls, (std::vector<std::string> { "commitHierarchy" }));
    EXPECT_FALSE(list.acceptsDrop());
    EXPECT_EQ(draft.childSteps(200).size(), 1u);

    // A drag that ends where it began commits nothing; a cancelled one restores the draft.
    list.beginDrag(idOf(4));
    list.finishDrag(idOf(4), 0, 1);
    const RoutineDraft before = draft;
    list.beginDrag(idOf(2));
    list.previewDraggedStep(idOf(2), 0, 0);
    EXPECT_NE(draft, before);
    list.cancelDrag();
    EXPECT_EQ(draft, before);
    EXPECT_EQ(calls.size(), 1u);
}

TEST_F(EditorFixture, HostChangesReachTheList)
{
    draft.steps.erase(draft.steps.begin());
    draft.normalizeHierarchy();
    editor->refresh();
    EXPECT_EQ(order().front(), "group:100");
    editor->setInputs({ { { 1, "04", "Kitchen" } }, true, std::nullopt, std::nullopt, std::nullopt });
    EXPECT_EQ(editor->hierarchy().data(editor->hierarchy().indexOfStep(idOf(2)), RoutineHierarchyModel::TagNameRole),
        QStringLiteral("Kitchen"));
}

TEST(StartTagPicker, ListHeightFollowsTheTagsUpToAScroll)
{
    for (const auto& [count, height] :
        std::vector<std::pair<int, int>> { { 0, 0 }, { 3, 96 }, { 7, 224 }, { 8, 240 }, { 10, 240 } }) {
        std::vector<TagInfo> tags;
        for (int index = 0; index < count; ++index) {
            tags.push_back({ static_cast<std::uint32_t>(index + 1), "", "Tag " + std::to_string(index) });
        }
        StartTagPickerPresenter picker(tags, {});
        EXPECT_EQ(picker.listHeight(), height) << count;
    }
}

TEST(StartTagPicker, ChoosingClosesFirstThenReportsTheTag)
{
    std::vector<std::string> events;
    StartTagPickerPresenter* self = nullptr;
    StartTagPickerPresenter picker({ { 4, "", "Door" }, { 9, "", "Bed" } }, [&](std::uint32_t id) {
        events.push_back("chose " + std::to_string(id) + (self->isPresented() ? " open" : " closed"));
    });
    self = &picker;
    EXPECT_FALSE(picker.isPresented());
    picker.open();
    EXPECT_TRUE(picker.isPresented());
    picker.choose(1);
    EXPECT_EQ(events, (std::vector<std::string> { "chose 9 closed" }));

    picker.open();
    picker.dismiss();
    picker.choose(5); // no such row
    EXPECT_FALSE(picker.isPresented());
    EXPECT_EQ(events.size(), 1u);
}

TEST(StartTagPicker, AsksForTheOfferOnlyWhileItsListIsOpen)
{
    int reads = 0;
    std::vector<TagInfo> offer { { 4, "", "Door" } };
    std::vector<std::uint32_t> chosen;
    StartTagPickerPresenter picker(
        [&] {
            ++reads;
            return offer;
        },
        [&](std::uint32_t id) { chosen.push_back(id); });
    picker.refresh();
    EXPECT_EQ(reads, 0);
    EXPECT_TRUE(picker.tags().empty());

    picker.open();
    EXPECT_EQ(reads, 1);
    EXPECT_EQ(picker.listHeight(), 32);
    offer.push_back({ 9, "", "Bed" });
    picker.refresh();
    EXPECT_EQ(picker.tags(), offer);
    picker.choose(1);
    EXPECT_EQ(chosen, std::vector<std::uint32_t> { 9 });
    EXPECT_TRUE(picker.tags().empty()) << "a closed list keeps no copy";
    picker.refresh();
    EXPECT_EQ(reads, 2);
}

} // namespace
} // namespace tavrik
