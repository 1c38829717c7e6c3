#include "TavrikLink/Ui/RoutineHierarchyView.hpp"
#include "TavrikLink/Views/RoutineDetailEditorPresenter.hpp"

#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace tavrik::test {
namespace {

RoutineStepDraft stepOf(std::uint32_t stepId, std::uint32_t parentId, std::int64_t position)
{
    RoutineStepDraft step;
    step.stepId = stepId;
    step.parentId = parentId;
    step.position = position;
    step.seconds = 60;
    step.instruction = "Step " + std::to_string(stepId);
    return step;
}

// Root: group 10 (steps 1, 2), group 20 (step 3), step 4. The list is dragged with the mouse; the
// platform's drag loop is played by the test, which moves the pointer along `path` and drops at
// its end, each point taken when it is reached (the preview moves rows meanwhile).
struct HierarchyDragTest : ::testing::Test {
    HierarchyDragTest()
    {
        view.resize(500, 400);
        view.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&view));
        view.setDragRunner([this](QDrag& drag) {
            QWidget* target = view.viewport();
            const QPoint first = path.front()();
            QDragEnterEvent enter(first, Qt::MoveAction, drag.mimeData(), Qt::LeftButton, {});
            QApplication::sendEvent(target, &enter);
            for (const auto& point : path) {
                QDragMoveEvent move(point(), Qt::MoveAction, drag.mimeData(), Qt::LeftButton, {});
                QApplication::sendEvent(target, &move);
            }
            QDropEvent drop(path.back()(), Qt::MoveAction, drag.mimeData(), Qt::LeftButton, {});
            QApplication::sendEvent(target, &drop);
        });
    }

    QModelIndex rowOf(const std::string& entry)
    {
        RoutineHierarchyModel& model = editor.hierarchy();
        for (const auto& step : model.draft().steps) {
            if ("step:" + std::to_string(step.stepId) == entry) {
                return model.indexOfStep(step.id);
            }
        }
        for (const auto& group : model.draft().groups) {
            if ("group:" + std::to_string(group.groupId) == entry) {
                return model.indexOfGroup(group.groupId);
            }
        }
        return {};
    }

    // A point in the row's middle, or in the thin zone along its top edge.
    std::function<QPoint()> middleOf(std::string entry)
    {
        return [this, entry] { return view.visualRect(rowOf(entry)).center(); };
    }
    std::function<QPoint()> zoneAbove(std::string entry)
    {
        return [this, entry] {
            const QRect row = view.visualRect(rowOf(entry));
            return QPoint(row.center().x(), row.top() + 1);
        };
    }
    std::function<QPoint()> belowTheLastRow()
    {
        return [this] { return QPoint(view.viewport()->width() / 2, view.viewport()->height() - 3); };
    }

    void drag(const std::string& entry, std::vector<std::function<QPoint()>> along)
    {
        path = std::move(along);
        const QPoint start = view.visualRect(rowOf(entry)).center();
        QTest::mousePress(view.viewport(), Qt::LeftButton, {}, start);
        QTest::mouseMove(view.viewport(), start + QPoint(0, QApplication::startDragDistance() + 2));
        QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, start);
    }

    std::vector<std::string> order() { return editor.hierarchy().hierarchyOrder(); }

    RoutineDraft draft { 7, "Morning", {}, { stepOf(1, 10, 0), stepOf(2, 10, 1), stepOf(3, 20, 0), stepOf(4, 0, 2) },
        { RoutineGroupDraft(Uuid::make(), 10, 0, "First", RoutineGroupMode::timebox, 900),
            RoutineGroupDraft(Uuid::make(), 20, 1, "Second", RoutineGroupMode::rotation, 0) } };
    int commits = 0;
    RoutineDetailEditorPresenter editor { RoutineDetailEditorPresenter::Host {
        [this]() -> const RoutineDraft& { return draft; }, [this](RoutineDraft next) { draft = std::move(next); }, {},
        {}, {}, {}, [this] { ++commits; }, {}, {}, {}, {}, {} } };
    RoutineHierarchyView view { editor };
    std::vector<std::function<QPoint()>> path;
};

TEST_F(HierarchyDragTest, AStepDroppedAboveTheFirstGroupLeadsTheRoutine)
{
    drag("step:4", { middleOf("group:20"), middleOf("step:1"), zoneAbove("group:10") });
    EXPECT_EQ(order(),
        (std::vector<std::string> {
            "root-step:4", "group:10", "group-step:10:1", "group-step:10:2", "group:20", "group-step:20:3" }));
    EXPECT_EQ(commits, 1);
    EXPECT_FALSE(editor.hierarchy().draggedStepId());
}

TEST_F(HierarchyDragTest, AStepDroppedBetweenTwoGroupsStandsThereAtTheRoot)
{
    drag("step:1", { middleOf("step:2"), zoneAbove("group:20") });
    EXPECT_EQ(order(),
        (std::vector<std::string> {
            "group:10", "group-step:10:2", "root-step:1", "group:20", "group-step:20:3", "root-step:4" }));
    EXPECT_EQ(commits, 1);

    // From below, the same zone.
    drag("step:4", { middleOf("step:3"), zoneAbove("group:20") });
    EXPECT_EQ(order(),
        (std::vector<std::string> {
            "group:10", "group-step:10:2", "root-step:1", "root-step:4", "group:20", "group-step:20:3" }));
    EXPECT_EQ(commits, 2);
}

TEST_F(HierarchyDragTest, AStepDroppedUnderTheLastRowEndsTheRoutine)
{
    drag("step:2", { middleOf("step:3"), belowTheLastRow() });
    EXPECT_EQ(order(),
        (std::vector<std::string> {
            "group:10", "group-step:10:1", "group:20", "group-step:20:3", "root-step:4", "root-step:2" }));
    EXPECT_EQ(commits, 1);
}

TEST_F(HierarchyDragTest, TextFromElsewhereIsRefused)
{
    QMimeData text;
    text.setText(QStringLiteral("hello"));
    QDragEnterEvent enter(view.visualRect(rowOf("step:4")).center(), Qt::CopyAction, &text, Qt::LeftButton, {});
    QApplication::sendEvent(view.viewport(), &enter);
    EXPECT_FALSE(enter.isAccepted());
}

TEST(HierarchyKeyboardTest, EveryRowIsReachedAndWorkedFromTheKeyboard)
{
    RoutineDraft draft { 7, "Morning", {}, { stepOf(1, 10, 0), stepOf(4, 0, 1) },
        { RoutineGroupDraft(Uuid::make(), 10, 0, "First", RoutineGroupMode::timebox, 900) } };
    std::vector<std::string> deleted;
    RoutineDetailEditorPresenter::Host host;
    host.draft = [&]() -> const RoutineDraft& { return draft; };
    host.setDraft = [&](RoutineDraft next) { draft = std::move(next); };
    host.onDeleteStep = [&](const RoutineStepDraft& step) { deleted.push_back("step:" + std::to_string(step.stepId)); };
    host.onDeleteGroup
        = [&](const RoutineGroupDraft& group) { deleted.push_back("group:" + std::to_string(group.groupId)); };
    RoutineDetailEditorPresenter editor(host);
    RoutineHierarchyView view(editor);
    view.resize(500, 300);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    EXPECT_EQ(view.focusPolicy(), Qt::StrongFocus);
    view.setFocus();
    RoutineHierarchyModel& model = editor.hierarchy();
    const auto current = [&] {
        if (const auto step = model.stepAt(view.currentIndex())) {
            return "step:" + std::to_string(step->stepId);
        }
        if (const auto group = model.groupAt(view.currentIndex())) {
            return "group:" + std::to_string(group->groupId);
        }
        return std::string("none");
    };

    QTest::keyClick(&view, Qt::Key_Home);
    EXPECT_EQ(current(), "group:10");
    // Left closes the group, Right opens it again.
    QTest::keyClick(&view, Qt::Key_Left);
    EXPECT_FALSE(model.isExpanded(10));
    QTest::keyClick(&view, Qt::Key_Right);
    EXPECT_TRUE(model.isExpanded(10));

    QTest::keyClick(&view, Qt::Key_Down);
    EXPECT_EQ(current(), "step:1");
    // Return opens the step's editor, as a click on its row does.
    QTest::keyClick(&view, Qt::Key_Return);
    ASSERT_NE(editor.stepEditor(), nullptr);
    editor.commitStepEditAndClose();

    QTest::keyClick(&view, Qt::Key_End);
    EXPECT_EQ(current(), "step:4");
    QTest::keyClick(&view, Qt::Key_Delete);
    QTest::keyClick(&view, Qt::Key_Home);
    QTest::keyClick(&view, Qt::Key_Delete);
    EXPECT_EQ(deleted, (std::vector<std::string> { "step:4", "group:10" }));
}

} // namespace
} // namespace tavrik::test
