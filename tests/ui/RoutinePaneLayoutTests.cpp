#include "TavrikLink/Ui/RoutineDetailEditor.hpp"
#include "TavrikLink/Ui/RoutineHierarchyView.hpp"
#include "TavrikLink/Ui/RoutinePane.hpp"
#include "TavrikLink/Ui/ScheduleCompactRow.hpp"
#include "TavrikLink/Ui/ScheduleSectionView.hpp"
#include "tests/ui/UiShots.hpp"
#include "tests/ui/WindowTestSupport.hpp"

#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

namespace tavrik::test {
namespace {

ScheduledRoutine daily(std::uint32_t id, std::uint32_t routineId, std::int64_t hour)
{
    ScheduledRoutine schedule;
    schedule.id = id;
    schedule.routineId = routineId;
    schedule.hour = hour;
    schedule.minute = 15;
    schedule.days = id % 2 ? 62 : 127;
    schedule.enabled = id % 3 != 0;
    schedule.type = "recurring";
    return schedule;
}

RoutineStepPayload stepOf(std::uint32_t id, std::int64_t position, std::uint32_t parent, std::uint32_t tag)
{
    return { id, position, parent, std::to_string(tag), 30 + 15 * static_cast<std::int64_t>(id % 7),
        "Step " + std::to_string(id) + (id % 4 == 0 ? " with a longer instruction to read aloud" : ""), id % 5 == 0 };
}

// The real window on a device with 20 long-named tags and two routines: "Five steps" (five root
// steps, one start tag, three schedules) and "Large" (50 steps, 20 of them at the root and the others
// in five groups, three start tags, six schedules).
class RoutinePaneLayoutTest : public WindowTest {
protected:
    void SetUp() override
    {
        clock.locale = "en_US";
        FakeTavrik& tavrik = addDevice();
        tavrik.data.dataVersion = 9;
        for (std::uint32_t id = 1; id <= 20; ++id) {
            tavrik.data.tags.push_back(
                { id, "04 A1 " + std::to_string(id), "Kitchen drawer tag with a long name " + std::to_string(id) });
        }
        RoutinePayload five { 1, "Five steps", {}, {}, { 1 } };
        for (std::uint32_t id = 1; id <= 5; ++id) {
            five.steps.push_back(stepOf(id, id - 1, 0, id));
        }
        RoutinePayload large { 2, "Large", {}, {}, { 2, 3, 4 } };
        std::uint32_t stepId = 100;
        std::int64_t root = 0;
        for (std::uint32_t group = 1; group <= 5; ++group) {
            for (int step = 0; step < 4; ++step, ++stepId) {
                large.steps.push_back(stepOf(stepId, root++, 0, stepId % 20 + 1));
            }
            const std::uint32_t groupId = 500 + group;
            large.groups.push_back({ groupId, root++, "Group " + std::to_string(group),
                group % 2 ? RoutineGroupMode::timebox : RoutineGroupMode::rotation, group % 2 ? 900 : 0 });
            for (std::int64_t child = 0; child < 6; ++child, ++stepId) {
                large.steps.push_back(stepOf(stepId, child, groupId, stepId % 20 + 1));
            }
        }
        tavrik.data.routines = { five, large };
        for (std::uint32_t id = 1; id <= 3; ++id) {
            tavrik.data.schedules.push_back(daily(id, 1, 6 + id));
        }
        for (std::uint32_t id = 4; id <= 9; ++id) {
            tavrik.data.schedules.push_back(daily(id, 2, id));
        }
        openWindow();
        ASSERT_TRUE(controller->hasLoadedData());
    }

    RoutinePane* show(std::uint32_t routineId, QSize windowSize)
    {
        app->mainWindow().resize(windowSize);
        view().presenter().selectRoutine(routineId);
        for (int round = 0; round < 3; ++round) {
            QCoreApplication::processEvents();
        }
        return qobject_cast<RoutinePane*>(view().detailPane());
    }

    // Wholly inside the pane's scroll viewport as it is scrolled now.
    static bool inView(QWidget* widget, RoutinePane* pane)
    {
        QWidget* viewport = pane->scrollArea()->viewport();
        if (!viewport->isAncestorOf(widget)) {
            return false;
        }
        const QRect shown(widget->mapTo(viewport, QPoint(0, 0)), widget->size());
        return widget->isVisible() && viewport->rect().contains(shown);
    }
};

TEST_F(RoutinePaneLayoutTest, AtTheDefaultSizeStepsStartTagsAndTwoSchedulesShowInOneScrollingColumn)
{
    RoutinePane* pane = show(1, QSize(900, 648));
    ASSERT_NE(pane, nullptr);
    EXPECT_EQ(pane->findChildren<QScrollArea*>().size(), 1) << "no scroll area inside the pane's own";
    RoutineHierarchyView* steps = pane->editor()->hierarchyView();
    EXPECT_FALSE(steps->verticalScrollBar()->isVisible()) << "five steps take their natural height";
    EXPECT_TRUE(inView(steps, pane));
    ScheduleSectionView* section = pane->scheduleSection();
    ASSERT_EQ(section->startTagChips().size(), 1u);
    EXPECT_TRUE(inView(section->startTagChips().front(), pane));
    const auto rows = section->rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_TRUE(inView(rows[0], pane));
    EXPECT_TRUE(inView(rows[1], pane));
    saveUiShot(&app->mainWindow(), QStringLiteral("routine-five-steps-900x648"));

    // The third schedule is reached by scrolling the pane itself.
    pane->scrollArea()->ensureWidgetVisible(rows[2]);
    QCoreApplication::processEvents();
    EXPECT_TRUE(inView(rows[2], pane));
}

TEST_F(RoutinePaneLayoutTest, ALongRoutineKeepsItsStepsToACapAndTheSchedulesUnderThem)
{
    for (const QSize size : { QSize(900, 648), QSize(1280, 900) }) {
        RoutinePane* pane = show(2, size);
        ASSERT_NE(pane, nullptr);
        RoutineHierarchyView* steps = pane->editor()->hierarchyView();
        const int viewport = pane->scrollArea()->viewport()->height();
        EXPECT_LE(steps->height(), std::max(RoutinePane::minimumStepListCap, viewport * 3 / 5));
        EXPECT_GE(steps->height(), viewport / 2) << "a long list uses the room it is given";
        EXPECT_TRUE(steps->verticalScrollBar()->isVisible()) << "beyond the cap the steps scroll";
        EXPECT_EQ(pane->findChildren<QScrollArea*>().size(), 1);
        // The six schedules follow the steps in the same column.
        const auto rows = pane->scheduleSection()->rows();
        ASSERT_EQ(rows.size(), 6u);
        pane->scrollArea()->ensureWidgetVisible(rows.back());
        QCoreApplication::processEvents();
        EXPECT_TRUE(inView(rows.back(), pane));
        pane->scrollArea()->verticalScrollBar()->setValue(0);
        saveUiShot(&app->mainWindow(), QStringLiteral("routine-large-%1x%2").arg(size.width()).arg(size.height()));
    }
}

} // namespace
} // namespace tavrik::test
