#include "TavrikLink/Views/RoutineHierarchyModel.hpp"

#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace tavrik {
namespace {

using Model = RoutineHierarchyModel;

RoutineStepDraft step(std::uint32_t stepId, std::uint32_t parentId, std::int64_t position, std::string instruction = {})
{
    RoutineStepDraft result;
    result.stepId = stepId;
    result.parentId = parentId;
    result.position = position;
    result.seconds = 60;
    result.instruction = std::move(instruction);
    return result;
}

// Root: step 1, group 100 (steps 2, 3), step 4, empty group 200.
RoutineDraft sampleDraft()
{
    return RoutineDraft(7, "Morning", {},
        {
            step(1, 0, 0, "Stretch"),
            step(2, 100, 0),
            step(3, 100, 1),
            step(4, 0, 2),
        },
        { RoutineGroupDraft(Uuid::make(), 100, 1, "Chores", RoutineGroupMode::timebox, 900),
            RoutineGroupDraft(Uuid::make(), 200, 3, "", RoutineGroupMode::rotation, 0) });
}

const Uuid& idOf(const Model& model, std::uint32_t stepId)
{
    for (const RoutineStepDraft& candidate : model.draft().steps) {
        if (candidate.stepId == stepId) {
            return candidate.id;
        }
    }
    throw std::logic_error("no such step");
}

struct HierarchyFixture : ::testing::Test {
    HierarchyFixture()
    {
        model.setDraft(sampleDraft());
        model.setCommitHandler([this] { ++commits; });
        tester
            = std::make_unique<QAbstractItemModelTester>(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    }

    QString text(const QModelIndex& index, int role) const { return model.data(index, role).toString(); }

    Model model;
    int commits = 0;
    std::unique_ptr<QAbstractItemModelTester> tester;
};

TEST_F(HierarchyFixture, ShowsRootEntriesGroupsAndTheirStepsWithTheirTexts)
{
    EXPECT_EQ(model.hierarchyOrder(),
        (std::vector<std::string> {
            "root-step:1", "group:100", "group-step:100:2", "group-step:100:3", "root-step:4", "group:200" }));
    ASSERT_EQ(model.rowCount(), 4);
    const QModelIndex group = model.index(1, 0);
    const QModelIndex empty = model.index(3, 0);
    EXPECT_EQ(text(model.index(0, 0), Model::NumberTextRole), "1.");
    EXPECT_EQ(text(model.index(0, 0), Model::TitleRole), "Stretch");
    // A root step after a group counts the group; group children start again at 1.
    EXPECT_EQ(text(model.index(2, 0), Model::NumberTextRole), "3.");
    EXPECT_EQ(text(model.index(2, 0), Model::TitleRole), "Untitled step");
    EXPECT_EQ(text(model.index(0, 0, group), Model::NumberTextRole), "1.");
    EXPECT_EQ(text(model.index(1, 0, group), Model::DurationTextRole), "1:00");
    EXPECT_EQ(text(group, Model::ChildCountTextRole), "2 steps");
    EXPECT_EQ(text(group, Model::ModeTextRole), QString::fromUtf8("Timebox \u00B7 15:00"));
    EXPECT_EQ(text(empty, Model::TitleRole), "Untitled group");
    EXPECT_EQ(text(empty, Model::ModeTextRole), "Rotation");
    ASSERT_EQ(model.rowCount(empty), 1);
    EXPECT_EQ(model.rowKind(model.index(0, 0, empty)), Model::RowKind::placeholder);
    EXPECT_EQ(text(model.index(0, 0, empty), Qt::DisplayRole), "Drag steps here");
}

TEST_F(HierarchyFixture, NamesTagsAndMarksUnknownOnesUnlinked)
{
    RoutineDraft draft = sampleDraft();
    draft.steps[0].tagId = " 12 ";
    draft.steps[3].tagId = "99";
    draft.steps[1].tagId = "+12";
    model.setDraft(draft);
    model.setTags({ { 12, "a", "Old" }, { 12, "b", "Kitchen" } });
    EXPECT_EQ(text(model.index(0, 0), Model::TagNameRole), "Kitchen");
    EXPECT_EQ(text(model.index(2, 0), Model::TagNameRole), "Unlinked tag");
    EXPECT_EQ(text(model.index(0, 0, model.index(1, 0)), Model::TagNameRole), "Kitchen");
    EXPECT_FALSE(model.data(model.index(1, 0, model.index(1, 0)), Model::TagNameRole).isValid());
}

TEST_F(HierarchyFixture, MapsRowsAndGapsToDropTargets)
{
    const QModelIndex group = model.index(1, 0);
    EXPECT_EQ(model.dropTargetForRow(model.index(0, 0)), (Model::DropTarget { 0, 0 }));
    EXPECT_EQ(model.dropTargetForRow(model.index(2, 0)), (Model::DropTarget { 0, 2 }));
    EXPECT_EQ(model.dropTargetForRow(group), (Model::DropTarget { 100, 2 }));
    EXPECT_EQ(model.dropTargetForRow(model.index(1, 0, group)), (Model::DropTarget { 100, 1 }));
    EXPECT_EQ(model.dropTargetForRow(model.index(0, 0, model.index(3, 0))), (Model::DropTarget { 200, 0 }));
    EXPECT_EQ(model.dropTargetForGap({}, 4), (Model::DropTarget { 0, 4 }));
    EXPECT_EQ(model.dropTargetForGap(group, 2), (Model::DropTarget { 100, 2 }));
}

TEST_F(HierarchyFixture, AGapTakesTheStepBetweenItsTwoRowsFromEitherSide)
{
    // Root: step 1, group 100 (2, 3), step 4, group 200. A gap names the place between two rows,
    // so a step dragged from above lands just there too, not one place further.
    const struct {
        std::uint32_t dragged;
        bool intoGroup;
        int row;
        std::vector<std::string> order;
    } cases[] = {
        { 1, false, 2,
            { "group:100", "group-step:100:2", "group-step:100:3", "root-step:1", "root-step:4", "group:200" } },
        { 1, false, 4,
            { "group:100", "group-step:100:2", "group-step:100:3", "root-step:4", "group:200", "root-step:1" } },
        { 1, false, 1,
            { "root-step:1", "group:100", "group-step:100:2", "group-step:100:3", "root-step:4", "group:200" } },
        { 4, false, 1,
            { "root-step:1", "root-step:4", "group:100", "group-step:100:2", "group-step:100:3", "group:200" } },
        { 4, false, 0,
            { "root-step:4", "root-step:1", "group:100", "group-step:100:2", "group-step:100:3", "group:200" } },
        { 2, true, 2, { "root-step:1", "group:100", "group-step:100:3", "group-step:100:2", "root-step:4", "group:200" } },
        { 2, false, 3, { "root-step:1", "group:100", "group-step:100:3", "root-step:4", "root-step:2", "group:200" } },
    };
    for (const auto& c : cases) {
        model.setDraft(sampleDraft());
        const Uuid dragged = idOf(model, c.dragged);
        model.beginDrag(dragged);
        const Model::DropTarget target
            = c.intoGroup ? model.dropTargetForGap(model.index(1, 0), c.row) : model.dropTargetForGap({}, c.row);
        model.finishDrag(dragged, target.parentId, target.position);
        EXPECT_EQ(model.hierarchyOrder(), c.order) << "step " << c.dragged << " to gap " << c.row;
    }
}

TEST_F(HierarchyFixture, DragPreviewsMoveRowsWithoutResettingAndCancelRestores)
{
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy moves(&model, &QAbstractItemModel::rowsMoved);
    QSignalSpy drafts(&model, &Model::draftChanged);
    const RoutineDraft before = model.draft();
    const Uuid dragged = idOf(model, 1);
    EXPECT_FALSE(model.acceptsDrop());

    model.beginDrag(dragged);
    EXPECT_TRUE(model.acceptsDrop());
    EXPECT_TRUE(model.data(model.index(0, 0), Model::DraggingRole).toBool());
    // Between the group's two steps, then past the last root entry, then into the empty group.
    model.previewDraggedStep(dragged, 100, 1);
    EXPECT_EQ(model.hierarchyOrder(),
        (std::vector<std::string> {
            "group:100", "group-step:100:2", "group-step:100:1", "group-step:100:3", "root-step:4", "group:200" }));
    model.previewDraggedStep(dragged, 0, 3);
    EXPECT_EQ(model.hierarchyOrder(),
        (std::vector<std::string> {
            "group:100", "group-step:100:2", "group-step:100:3", "root-step:4", "group:200", "root-step:1" }));
    EXPECT_EQ(text(model.index(3, 0), Model::NumberTextRole), "4.");
    model.previewDraggedStep(dragged, 200, 0);
    EXPECT_EQ(model.rowKind(model.index(0, 0, model.index(2, 0))), Model::RowKind::step);
    model.previewDraggedStep(dragged, 100, 0);
    EXPECT_EQ(model.rowKind(model.index(0, 0, model.index(2, 0))), Model::RowKind::placeholder);
    model.previewDraggedStep(dragged, 100, 2);
    EXPECT_TRUE(model.hierarchyChangedSinceDragBegan());
    EXPECT_EQ(drafts.count(), 5);

    model.cancelDrag();
    EXPECT_EQ(model.draft(), before);
    EXPECT_EQ(model.hierarchyOrder().front(), "root-step:1");
    EXPECT_FALSE(model.draggedStepId());
    EXPECT_FALSE(model.data(model.index(0, 0), Model::DraggingRole).toBool());
    EXPECT_EQ(resets.count(), 0);
    EXPECT_EQ(moves.count(), 1);
    EXPECT_EQ(commits, 0);
}

TEST_F(HierarchyFixture, DropCommitsOncePerDragAndOnlyWhenSomethingMoved)
{
    const Uuid dragged = idOf(model, 4);
    model.beginDrag(dragged);
    model.previewDraggedStep(dragged, 0, 0);
    model.previewDraggedStep(dragged, 100, 0);
    model.finishDrag(dragged, 100, 1);
    EXPECT_EQ(commits, 1);
    EXPECT_EQ(model.hierarchyOrder(),
        (std::vector<std::string> {
            "root-step:1", "group:100", "group-step:100:2", "group-step:100:4", "group-step:100:3", "group:200" }));
    EXPECT_FALSE(model.acceptsDrop());

    // Over its own row and its own zone: nothing moves, nothing is committed.
    model.beginDrag(dragged);
    model.previewDraggedStep(dragged, 100, 1);
    EXPECT_FALSE(model.hierarchyChangedSinceDragBegan());
    model.finishDrag(dragged, 100, 1);
    model.beginDrag(dragged);
    model.finishDragAtPreviewedLocation(dragged);
    EXPECT_EQ(commits, 1);
}

TEST_F(HierarchyFixture, ReleaseOutsideKeepsAndCommitsThePreviewedPlace)
{
    const Uuid dragged = idOf(model, 2);
    model.beginDrag(dragged);
    model.previewDraggedStep(dragged, 0, 0);
    model.previewDraggedStep(dragged, 200, 0);
    const RoutineDraft previewed = model.draft();
    model.finishDragAtPreviewedLocation(dragged);
    EXPECT_EQ(commits, 1);
    EXPECT_EQ(model.draft(), previewed);
    EXPECT_EQ(model.hierarchyOrder().back(), "group-step:200:2");
    EXPECT_FALSE(model.draggedStepId());
}

TEST_F(HierarchyFixture, StepGoneBeforeReleaseRestoresTheSnapshotWithoutCommit)
{
    const RoutineDraft before = model.draft();
    const Uuid dragged = idOf(model, 4);
    model.beginDrag(dragged);
    model.previewDraggedStep(dragged, 0, 0);
    RoutineDraft changed = model.draft();
    std::erase_if(changed.steps, [](const RoutineStepDraft& candidate) { return candidate.stepId == 4; });
    model.setDraft(changed);
    model.previewDraggedStep(dragged, 100, 0);
    model.finishDragAtPreviewedLocation(dragged);
    EXPECT_EQ(commits, 0);
    EXPECT_EQ(model.draft(), before);
}

TEST_F(HierarchyFixture, DropOnCollapsedHeaderAppendsAndKeepsTheGroupCollapsed)
{
    model.toggleExpanded(100);
    EXPECT_FALSE(model.isExpanded(100));
    EXPECT_EQ(model.rowCount(model.index(1, 0)), 0);
    const Uuid dragged = idOf(model, 1);
    model.beginDrag(dragged);
    const auto target = model.dropTargetForRow(model.index(1, 0));
    ASSERT_TRUE(target);
    model.finishDrag(dragged, target->parentId, target->position);
    EXPECT_EQ(commits, 1);
    EXPECT_FALSE(model.isExpanded(100));
    EXPECT_EQ(model.rowCount(model.index(0, 0)), 0);
    EXPECT_EQ(model.hierarchyOrder()[3], "group-step:100:1");
    EXPECT_EQ(text(model.index(0, 0), Model::ChildCountTextRole), "3 steps");

    model.toggleExpanded(100);
    EXPECT_EQ(model.rowCount(model.index(0, 0)), 3);
    EXPECT_EQ(text(model.index(0, 0), Model::ExpandButtonLabelRole), "Collapse group");
}

TEST_F(HierarchyFixture, PreviewsThroughCollapsedGroupsKeepRowsConsistent)
{
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    model.toggleExpanded(100);
    const Uuid dragged = idOf(model, 4);
    model.beginDrag(dragged);
    model.previewDraggedStep(dragged, 100, 1);
    model.previewDraggedStep(dragged, 100, 0);
    EXPECT_EQ(model.rowCount(model.index(1, 0)), 0);
    EXPECT_FALSE(model.indexOfStep(dragged).isValid());
    model.previewDraggedStep(dragged, 200, 0);
    model.previewDraggedStep(dragged, 0, 0);
    EXPECT_EQ(model.indexOfStep(dragged), model.index(0, 0));
    EXPECT_EQ(text(model.index(1, 0), Model::NumberTextRole), "2.");
    model.toggleExpanded(100);
    EXPECT_EQ(model.rowCount(model.index(2, 0)), 2);
    model.finishDragAtPreviewedLocation(dragged);
    EXPECT_EQ(commits, 1);
    EXPECT_EQ(resets.count(), 0);
}

TEST_F(HierarchyFixture, UnknownStepChangesNothing)
{
    const RoutineDraft before = model.draft();
    const Uuid stranger = Uuid::make();
    model.beginDrag(stranger);
    model.previewDraggedStep(stranger, 100, 0);
    model.finishDrag(stranger, 0, 0);
    EXPECT_EQ(model.draft(), before);
    EXPECT_EQ(commits, 0);
}

} // namespace
} // namespace tavrik
