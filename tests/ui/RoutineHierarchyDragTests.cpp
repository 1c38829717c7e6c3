#include "TavrikLink/Ui/RoutineHierarchyView.hpp"
#include "TavrikLink/Views/RoutineDetailEditorPresenter.hpp"

#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
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
struct DragFixture : ::testing::Test {
    explicit DragFixture(RoutineDraft routine)
        : draft(std::move(routine))
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
            if (whileHeld) {
                whileHeld();
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

    RoutineDraft draft;
    int commits = 0;
    RoutineDetailEditorPresenter editor { RoutineDetailEditorPresenter::Host {
        [this]() -> const RoutineDraft& { return draft; }, [this](RoutineDraft next) { draft = std::move(next); }, {},
        {}, {}, {}, [this] { ++commits; }, {}, {}, {}, {}, {} } };
    RoutineHierarchyView view { editor };
    std::vector<std::function<QPoint()>> path;
    // What happens while the pointer rests at the path's end, before the drop.
    std::function<void()> whileHeld;
};

struct HierarchyDragTest : DragFixture {
    HierarchyDragTest()
        : DragFixture({ 7, "Morning", {}, { stepOf(1, 10, 0), stepOf(2, 10, 1), stepOf(3, 20, 0), stepOf(4, 0, 2) },
            { RoutineGroupDraft(Uuid::make(), 10, 0, "First", RoutineGroupMode::timebox, 900),
                RoutineGroupDraft(Uuid::make(), 20, 1, "Second", RoutineGroupMode::rotation, 0) } })
    {
    }
};

// A routine long enough to scroll: steps 1 to 300 at the root.
RoutineDraft longRoutine()
{
    RoutineDraft routine { 7, "Morning", {}, {}, {} };
    for (std::uint32_t step = 1; step <= 300; ++step) {
        routine.steps.push_back(stepOf(step, 0, step - 1));
    }
    return routine;
}

struct LongRoutineDragTest : DragFixture {
    LongRoutineDragTest()
        : DragFixture(longRoutine())
    {
    }

    int scrolled() { return view.verticalScrollBar()->value(); }

    std::int64_t placeOf(std::uint32_t stepId)
    {
        const std::vector<std::string> shown = order();
        return std::ranges::find(shown, "root-step:" + std::to_string(stepId)) - shown.begin();
    }

    std::function<QPoint()> edge(bool bottom, int inset)
    {
        return [this, bottom, inset] {
            return QPoint(view.viewport()->width() / 2, bottom ? view.viewport()->height() - 1 - inset : inset);
        };
    }
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

// Group 10 (steps 1, 2), then the new, empty group 30, last as Add Group puts it; with
// `stepAfter`, step 4 stands after it, else before it.
RoutineDraft withANewGroup(bool stepAfter)
{
    return { 7, "Morning", {}, { stepOf(1, 10, 0), stepOf(2, 10, 1), stepOf(4, 0, stepAfter ? 2 : 1) },
        { RoutineGroupDraft(Uuid::make(), 10, 0, "First", RoutineGroupMode::timebox, 900),
            RoutineGroupDraft(Uuid::make(), 30, stepAfter ? 1 : 2, "New", RoutineGroupMode::timebox, 0) } };
}

struct NewGroupDragTest : DragFixture, ::testing::WithParamInterface<bool> {
    NewGroupDragTest()
        : DragFixture(withANewGroup(GetParam()))
    {
    }

    // From the step's middle to the placeholder's in small pointer steps, then a little jiggle there
    // as a hand makes before letting go.
    std::vector<std::function<QPoint()>> smallStepsOnto(const std::string& entry)
    {
        const QModelIndex placeholder = editor.hierarchy().index(0, 0, rowOf("group:30"));
        const QPoint from = view.visualRect(rowOf(entry)).center();
        const QPoint to = view.visualRect(placeholder).center();
        std::vector<std::function<QPoint()>> points;
        const int direction = to.y() > from.y() ? 1 : -1;
        for (int y = from.y(); y != to.y(); y += direction) {
            if ((y - from.y()) % 3 == 0) {
                points.push_back([x = from.x(), y] { return QPoint(x, y); });
            }
        }
        for (const int jiggle : { 0, 2, 5, 1, -2, 0 }) {
            points.push_back([to, jiggle] { return to + QPoint(0, jiggle); });
        }
        return points;
    }
};

TEST_P(NewGroupDragTest, AStepDraggedOntoAnEmptyGroupsPlaceholderStaysInIt)
{
    const std::string dragged = GetParam() ? "step:4" : "step:1";
    drag(dragged, smallStepsOnto(dragged));
    const std::vector<std::string> expected = GetParam()
        ? std::vector<std::string> { "group:10", "group-step:10:1", "group-step:10:2", "group:30", "group-step:30:4" }
        : std::vector<std::string> { "group:10", "group-step:10:2", "root-step:4", "group:30", "group-step:30:1" };
    EXPECT_EQ(order(), expected);
    EXPECT_EQ(commits, 1);
}

TEST_P(NewGroupDragTest, DraggedOnBelowThePlaceholderTheStepEndsTheRoutine)
{
    const std::string dragged = GetParam() ? "step:4" : "step:1";
    std::vector<std::function<QPoint()>> path = smallStepsOnto(dragged);
    const QPoint placeholder = path.back()();
    for (int y = 0; y <= 2 * RoutineHierarchyView::rowHeight; y += 3) {
        path.push_back([placeholder, y] { return placeholder + QPoint(0, y); });
    }
    drag(dragged, path);
    EXPECT_EQ(order().back(), "root-" + dragged);
    EXPECT_EQ(commits, 1);
}

INSTANTIATE_TEST_SUITE_P(FromAboveAndBelow, NewGroupDragTest, ::testing::Values(false, true),
    [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "FromBelow" : "FromAbove"; });

TEST_F(LongRoutineDragTest, AStepHeldAtAnEdgeScrollsThatWayAndIsCarriedAlong)
{
    // Towards the bottom: the list scrolls down and the step goes further down with it.
    whileHeld = [this] {
        for (int tick = 0; tick < 20; ++tick) {
            view.autoScrollStep();
        }
    };
    drag("step:9", { middleOf("step:10"), edge(true, 1) });
    EXPECT_GT(scrolled(), 0);
    EXPECT_GT(placeOf(9), 12) << "below every row shown when the drag began";
    EXPECT_EQ(commits, 1);

    // Towards the top, from the end of the list.
    view.scrollToBottom();
    const int bottom = scrolled();
    drag("step:295", { middleOf("step:294"), edge(false, 1) });
    EXPECT_LT(scrolled(), bottom);
    EXPECT_LT(placeOf(295), 285);
    EXPECT_EQ(commits, 2);
}

TEST_F(LongRoutineDragTest, TheScrollIsFasterTheNearerThePointerIsToTheEdge)
{
    const auto travelOfOneTick = [this](int inset) {
        view.scrollTo(editor.hierarchy().index(20, 0), QAbstractItemView::PositionAtCenter);
        const int before = scrolled();
        whileHeld = [this] { view.autoScrollStep(); };
        drag("step:22", { edge(true, inset) });
        return scrolled() - before;
    };
    const int far = travelOfOneTick(RoutineHierarchyView::autoScrollZone - 2);
    const int near = travelOfOneTick(0);
    EXPECT_GT(far, 0);
    EXPECT_GT(near, far);
    // Outside the zone nothing scrolls.
    EXPECT_EQ(travelOfOneTick(RoutineHierarchyView::autoScrollZone + 4), 0);
}

TEST_F(HierarchyDragTest, AltWithAnArrowMovesTheFocusedRowAsADragWould)
{
    view.setFocus();
    const auto current = [this] {
        if (const auto step = editor.hierarchy().stepAt(view.currentIndex())) {
            return "step:" + std::to_string(step->stepId);
        }
        if (const auto group = editor.hierarchy().groupAt(view.currentIndex())) {
            return "group:" + std::to_string(group->groupId);
        }
        return std::string("none");
    };
    struct Move {
        Qt::Key place; // where the keyboard goes first (Key_unknown: it stays)
        Qt::Key arrow;
        std::vector<std::string> order;
        std::string focused;
    };
    const std::vector<Move> moves {
        // Step 4 up into group 20 at its end, past its step, out of it, into group 10.
        { Qt::Key_End, Qt::Key_Up,
            { "group:10", "group-step:10:1", "group-step:10:2", "group:20", "group-step:20:3", "group-step:20:4" },
            "step:4" },
        { Qt::Key_unknown, Qt::Key_Up,
            { "group:10", "group-step:10:1", "group-step:10:2", "group:20", "group-step:20:4", "group-step:20:3" },
            "step:4" },
        { Qt::Key_unknown, Qt::Key_Up,
            { "group:10", "group-step:10:1", "group-step:10:2", "root-step:4", "group:20", "group-step:20:3" }, "step:4" },
        { Qt::Key_unknown, Qt::Key_Up,
            { "group:10", "group-step:10:1", "group-step:10:2", "group-step:10:4", "group:20", "group-step:20:3" },
            "step:4" },
        // And back down out of it.
        { Qt::Key_unknown, Qt::Key_Down,
            { "group:10", "group-step:10:1", "group-step:10:2", "root-step:4", "group:20", "group-step:20:3" }, "step:4" },
        // A group moves among the root's entries, its steps with it.
        { Qt::Key_Home, Qt::Key_Down,
            { "root-step:4", "group:10", "group-step:10:1", "group-step:10:2", "group:20", "group-step:20:3" },
            "group:10" },
        { Qt::Key_unknown, Qt::Key_Down,
            { "root-step:4", "group:20", "group-step:20:3", "group:10", "group-step:10:1", "group-step:10:2" },
            "group:10" },
    };
    int expectedCommits = 0;
    for (std::size_t index = 0; index < moves.size(); ++index) {
        const Move& move = moves[index];
        SCOPED_TRACE(index);
        if (move.place != Qt::Key_unknown) {
            QTest::keyClick(&view, move.place);
        }
        QTest::keyClick(&view, move.arrow, Qt::AltModifier);
        EXPECT_EQ(order(), move.order);
        EXPECT_EQ(current(), move.focused) << "the keyboard's place moves with the row";
        EXPECT_EQ(commits, ++expectedCommits) << "each move is saved as a drag's is";
    }

    // At the top nothing moves and nothing is saved.
    QTest::keyClick(&view, Qt::Key_Home);
    QTest::keyClick(&view, Qt::Key_Up, Qt::AltModifier);
    EXPECT_EQ(order(), moves.back().order);
    EXPECT_EQ(commits, expectedCommits);
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
