#include "TavrikLink/Ui/ConnectionOverlayView.hpp"
#include "TavrikLink/Ui/ContentView.hpp"
#include "TavrikLink/Ui/LegacyUpgradeView.hpp"
#include "TavrikLink/Ui/LogDrawerView.hpp"
#include "TavrikLink/Ui/RoutinePane.hpp"
#include "TavrikLink/Ui/ScheduleCompactRow.hpp"
#include "TavrikLink/Ui/ScheduleSectionView.hpp"
#include "TavrikLink/Ui/SidebarView.hpp"
#include "TavrikLink/Ui/TavrikLinkApplication.hpp"
#include "TavrikLink/Ui/TavrikLinkMainWindow.hpp"
#include "TavrikLink/Ui/WindowAlertView.hpp"
#include "TavrikLink/Views/BackupFileActions.hpp"
#include "TavrikLink/Views/LegacyUpgradeState.hpp"
#include "TavrikLink/Views/LogDrawerModel.hpp"
#include "TavrikLink/Views/ScheduleSectionPresenter.hpp"
#include "TavrikLink/Views/WindowPanes.hpp"
#include "tests/controller/ControllerTestSupport.hpp"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDialog>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <algorithm>

namespace tavrik::test {
namespace {

// The real window over a real controller, a fake adapter and, when in range, a fake Tavrik.
class MainWindowTest : public ControllerTest {
protected:
    std::unique_ptr<TavrikLinkApplication> app;
    std::vector<int> exits;

    ContentView& open(bool newController = true)
    {
        if (newController) {
            makeController();
        }
        app = std::make_unique<TavrikLinkApplication>(AppOptions {},
            TavrikLinkApplication::Environment { scheduler, TavrikResources(QStringLiteral("/nonexistent/bin")),
                [this](int status) { exits.push_back(status); }, false, controller.get(), &clock });
        app->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&app->mainWindow()));
        settle();
        return *app->contentView();
    }

    void TearDown() override { app.reset(); }

    // With TAVRIK_UI_SHOTS set to a folder, keeps a picture of the window there to look at.
    void saveShot(const QString& name, QWidget* target = nullptr)
    {
        const QString folder = qEnvironmentVariable("TAVRIK_UI_SHOTS");
        if (!folder.isEmpty() && app) {
            QCoreApplication::processEvents();
            (target ? target : &app->mainWindow())->grab().save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
        }
    }

    QStringList sidebarLabels(ContentView& view)
    {
        QStringList labels;
        for (const auto& row : view.sidebar()->rows()) {
            labels << QString::fromStdString(row.label);
        }
        return labels;
    }

    int rowOf(ContentView& view, const QString& label)
    {
        const QStringList labels = sidebarLabels(view);
        return static_cast<int>(labels.indexOf(label));
    }
};

TEST_F(MainWindowTest, LoadsOnFirstAppearanceThenWalksTheSidebarAndTheLogDrawer)
{
    FakeTavrik& tavrik = addDevice();
    tavrik.data.tags = { { 3, "04 A1", "Desk" }, { 4, "04 A2", "Door" } };
    tavrik.data.routines = { RoutinePayload { 1, "Morning", {}, {}, {} } };
    tavrik.data.firmwareVersion = "2.4.1";

    ContentView& view = open();
    ASSERT_TRUE(controller->hasLoadedData()) << "the first appearance starts the load";
    EXPECT_EQ(view.mainContent()->objectName(), "navigationSplit");
    EXPECT_EQ(sidebarLabels(view),
        (QStringList { "Routines", "Morning", "Add Routine", "Tags", "Desk", "Door", "Add Tag", "Firmware", "Settings" }));
    EXPECT_EQ(view.detailPane()->objectName(), "routineEmptyState");
    EXPECT_EQ(view.titleBarStatus()->findChild<QLabel*>("deviceFirmwareStatus")->text(), "Tavrik 2.4.1");
    EXPECT_EQ(view.titleBarStatus()->findChild<QLabel*>("activeRoutineLine")->text(), "No routine running");
    EXPECT_TRUE(view.disconnectButton()->isEnabled());
    saveShot("loaded");

    const std::vector<std::pair<QString, QString>> walk {
        { "Morning", "routinePane" },
        { "Door", "tagPane" },
        { "Firmware", "firmwarePane" },
        { "Settings", "settingsPane" },
    };
    for (const auto& [label, pane] : walk) {
        view.sidebar()->activateRow(rowOf(view, label));
        QCoreApplication::processEvents();
        EXPECT_EQ(view.detailPane()->objectName(), pane) << label.toStdString();
    }

    // Ctrl+Shift+L opens the drawer with the whole log, newest at the bottom.
    TavrikLinkMainWindow& window = app->mainWindow();
    EXPECT_FALSE(view.logDrawer()->isVisible());
    EXPECT_EQ(window.logDrawerAction()->text(), "Show Logs");
    QTest::keyClick(&window, Qt::Key_L, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(view.logDrawer()->isVisible());
    EXPECT_EQ(view.logDrawer()->width(), 360);
    EXPECT_EQ(window.logDrawerAction()->text(), "Hide Logs");
    const int lines = static_cast<int>(controller->logItems().size());
    ASSERT_GT(lines, 0);
    EXPECT_EQ(view.logModel().rowCount(), lines);
    controller->appendLog("Newest line", true);
    EXPECT_EQ(view.logModel().data(view.logModel().index(lines)).toString().endsWith("] Newest line"), true);

    // Lines can be selected and copied.
    view.logDrawer()->list()->selectAll();
    EXPECT_TRUE(view.logDrawer()->selectedText().endsWith("] Newest line"));

    // A data-channel line opens to its record when clicked; clearing closes it.
    BleDataMessageLogDetail record;
    record.direction = BleDataMessageLogDetail::Direction::outbound;
    record.messageId = 9;
    record.writeType = "withResponse";
    record.isComplete = true;
    record.byteCount = 20;
    record.receivedChunkCount = 1;
    record.chunks = { { 1, 1, 20 } };
    controller->appendBleDataLog(record);
    QCoreApplication::processEvents();
    QListView* list = view.logDrawer()->list();
    const QModelIndex recordRow = view.logModel().index(view.logModel().rowCount() - 1);
    const int closedHeight = list->visualRect(recordRow).height();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(recordRow).center());
    EXPECT_TRUE(view.logModel().data(recordRow, LogDrawerModel::ExpandedRole).toBool());
    EXPECT_EQ(view.presenter().state().expandedLogEntryIds.size(), 1u);
    EXPECT_GT(list->visualRect(recordRow).height(), closedHeight + list->fontMetrics().height() * 5)
        << "the record's lines are shown under it";

    EXPECT_TRUE(view.logDrawer()->clearButton()->isEnabled());
    view.logDrawer()->clearButton()->click();
    EXPECT_TRUE(view.presenter().state().expandedLogEntryIds.empty());
    EXPECT_TRUE(controller->logItems().empty());
    EXPECT_TRUE(controller->logEntries().empty());
    EXPECT_EQ(view.logModel().rowCount(), 0);
    EXPECT_FALSE(view.logDrawer()->clearButton()->isEnabled());

    // Disconnecting clears the selection and hands over to the controller.
    view.sidebar()->activateRow(rowOf(view, "Morning"));
    view.disconnectButton()->click();
    EXPECT_FALSE(view.presenter().state().selectedRoutineId);

    // The quit waits for the controller to tell the device and let go of it.
    settle();
    window.quitAction()->trigger();
    EXPECT_TRUE(exits.empty());
    scheduler.advance(std::chrono::milliseconds(300));
    settle();
    EXPECT_EQ(exits, std::vector<int>({ 0 }));
}

TEST_F(MainWindowTest, TheLogDrawerWrapsItsLinesAndTakesItsWidthFromThePanes)
{
    makeController();
    controller->beginReviewDemo();
    ContentView& view = open(false);
    TavrikLinkMainWindow& window = app->mainWindow();
    const QSize before = window.size();
    EXPECT_EQ(before, QSize(900, 648));

    controller->appendLog("Bluetooth unsupported: no adapter answered on the system bus, so nothing will connect until "
                          "one is plugged in or switched on",
        true);
    window.logDrawerAction()->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(window.size(), before) << "opening the drawer never resizes the window";
    EXPECT_EQ(view.logDrawer()->width(), 360);

    // The line is wrapped, not cut: its row is as tall as its wrapped text.
    QListView* list = view.logDrawer()->list();
    const QModelIndex last = view.logModel().index(view.logModel().rowCount() - 1);
    const QString text = view.logModel().data(last, LogDrawerModel::SummaryRole).toString();
    const QRect room(0, 0, list->viewport()->width() - 14, 10000);
    const int wrapped = list->fontMetrics().boundingRect(room, Qt::TextWordWrap, text).height();
    EXPECT_GE(wrapped, 3 * list->fontMetrics().height());
    EXPECT_GE(list->visualRect(last).height(), wrapped);
    EXPECT_EQ(list->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    saveShot("log-drawer");

    // Dragging the handle as far as it goes widens the drawer at the panes' cost, not the window's.
    view.presenter().dragLogDrawer(-2000);
    view.presenter().endLogDrawerDrag();
    QCoreApplication::processEvents();
    EXPECT_EQ(window.size(), before);
    EXPECT_GT(view.logDrawer()->width(), 360);
    EXPECT_LE(view.logDrawer()->geometry().right(), view.width());
    EXPECT_GE(view.mainContent()->width(), view.mainContent()->minimumSizeHint().width());

    // Closing it leaves the window as it was, too.
    window.logDrawerAction()->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(window.size(), before);

    // Everything the title bar can say at once still leaves the drawer its default room.
    ContentViewPresenter::ControllerState busy = view.presenter().controller();
    ActiveRoutineContext running;
    running.routineId = 1;
    running.routineName = "A morning routine with a long name";
    running.isRunning = true;
    busy.activeRoutineContext = running;
    busy.virtualTavrikConnected = true;
    busy.deviceFirmwareVersion = "12.34.56-beta";
    busy.idleDisconnectSecondsRemaining = 30;
    busy.isReviewDemo = false;
    busy.bluetoothUnavailableReason = BleUnavailableReason::bluezNotRunning;
    view.presenter().observe(busy);
    view.presenter().modify([](ContentViewPresenter::State& state) { state.logDrawerWidth = 360; });
    window.logDrawerAction()->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(window.size(), before);
    EXPECT_EQ(view.logDrawer()->width(), 360);
}

TEST_F(MainWindowTest, TheLogDrawerStaysReadableInANarrowWindowAndItsHandleFollowsThePointer)
{
    makeController();
    controller->beginReviewDemo();
    ContentView& view = open(false);
    TavrikLinkMainWindow& window = app->mainWindow();
    const int readable = static_cast<int>(ContentViewPresenter::logDrawerMinWidth);

    // However narrow the window, an open drawer has room for its lines: the window gives way.
    for (const int narrow : { 1, 640 }) {
        SCOPED_TRACE(narrow);
        window.resize(narrow, window.height());
        QCoreApplication::processEvents();
        window.logDrawerAction()->trigger();
        QCoreApplication::processEvents();
        EXPECT_EQ(window.logDrawerAction()->text(), "Hide Logs");
        EXPECT_GE(view.logDrawer()->width(), readable);
        EXPECT_LE(view.logDrawer()->geometry().right(), view.width());
        EXPECT_GE(view.mainContent()->width(), view.mainContent()->minimumSizeHint().width());
        saveShot(QStringLiteral("log-drawer-narrow-%1").arg(narrow));
        window.logDrawerAction()->trigger();
        QCoreApplication::processEvents();
    }

    // The handle moves with the pointer, both ways, from the first pixel: in a wide window, and in
    // one where the drawer asked for more than the panes could give.
    QWidget* handle = view.logDrawer()->findChild<QWidget*>(QStringLiteral("logDrawerResizeHandle"));
    ASSERT_NE(handle, nullptr);
    for (const int windowWidth : { 1500, static_cast<int>(TavrikLinkMainWindow::defaultWidth) }) {
        SCOPED_TRACE(windowWidth);
        window.resize(windowWidth, window.height());
        view.presenter().modify([&](ContentViewPresenter::State& state) {
            state.logDrawerWidth = windowWidth > 1000 ? 360 : ContentViewPresenter::logDrawerMaxWidth;
        });
        window.logDrawerAction()->trigger();
        QCoreApplication::processEvents();
        const int shown = view.logDrawer()->width();
        const QPoint grip = handle->mapToGlobal(handle->rect().center());
        const auto dragTo = [&](int travel) {
            QTest::mouseMove(handle, handle->mapFromGlobal(grip + QPoint(travel, 0)));
            QCoreApplication::processEvents();
            return view.logDrawer()->width();
        };
        QTest::mousePress(handle, Qt::LeftButton, {}, handle->mapFromGlobal(grip));
        EXPECT_EQ(dragTo(40), shown - 40);
        EXPECT_EQ(dragTo(0), shown);
        if (windowWidth > 1000) {
            EXPECT_EQ(dragTo(-300), shown + 300);
            EXPECT_EQ(dragTo(-150), shown + 150);
        }
        QTest::mouseRelease(handle, Qt::LeftButton, {}, handle->mapFromGlobal(grip));
        window.logDrawerAction()->trigger();
        QCoreApplication::processEvents();
    }
}

TEST_F(MainWindowTest, TheSidebarIsWorkedFromTheKeyboardWithItsPlaceShown)
{
    makeController();
    controller->beginReviewDemo();
    ContentView& view = open(false);
    SidebarView* sidebar = view.sidebar();
    EXPECT_EQ(sidebar->focusPolicy(), Qt::StrongFocus);
    app->mainWindow().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&app->mainWindow()));
    sidebar->setFocus();
    const auto current = [&] {
        return QString::fromStdString(sidebar->rows().at(static_cast<std::size_t>(sidebar->currentIndex().row())).label);
    };
    const auto moveTo = [&](const QString& label) {
        QTest::keyClick(sidebar, Qt::Key_Home);
        for (std::size_t step = 0; step < sidebar->rows().size() && current() != label; ++step) {
            QTest::keyClick(sidebar, Qt::Key_Down);
        }
        return current() == label;
    };

    // Firmware and Settings, below the groups, are reached with the arrows; Return and Space choose.
    ASSERT_TRUE(moveTo("Settings"));
    const QImage unfocusedPlace = [&] {
        sidebar->clearFocus();
        return sidebar->grab().toImage();
    }();
    sidebar->setFocus();
    EXPECT_NE(sidebar->grab().toImage(), unfocusedPlace) << "the focused row is marked";
    QTest::keyClick(sidebar, Qt::Key_Return);
    EXPECT_EQ(view.detailPane()->objectName(), "settingsPane");
    QTest::keyClick(sidebar, Qt::Key_Up);
    EXPECT_EQ(current(), "Firmware");
    QTest::keyClick(sidebar, Qt::Key_Space);
    EXPECT_EQ(view.detailPane()->objectName(), "firmwarePane");

    // Left and Right close and open a group.
    ASSERT_TRUE(moveTo("Tags"));
    QTest::keyClick(sidebar, Qt::Key_Left);
    EXPECT_FALSE(view.presenter().state().tagsExpanded);
    EXPECT_EQ(current(), "Tags") << "the keyboard's place stays on the group";
    QTest::keyClick(sidebar, Qt::Key_Right);
    EXPECT_TRUE(view.presenter().state().tagsExpanded);

    // A tag no routine uses: Return shows it, Delete does what its pane's Delete button does.
    controller->createTag("Spare", "04 99 88 77");
    QCoreApplication::processEvents();
    ASSERT_FALSE(controller->tags().empty());
    const TagInfo tag = controller->tags().back();
    ASSERT_EQ(tag.name, "Spare");
    ASSERT_TRUE(moveTo(QString::fromStdString(tag.name)));
    QTest::keyClick(sidebar, Qt::Key_Return);
    EXPECT_EQ(view.detailPane()->objectName(), "tagPane");
    EXPECT_EQ(view.presenter().state().selectedTagId, tag.id);
    // Backspace corrects what was typed to find a row; it never deletes.
    QTest::keyClick(sidebar, Qt::Key_Backspace);
    QCoreApplication::processEvents();
    EXPECT_TRUE(std::any_of(
        controller->tags().begin(), controller->tags().end(), [&](const TagInfo& kept) { return kept.id == tag.id; }));
    EXPECT_EQ(current(), QString::fromStdString(tag.name));
    QTest::keyClick(sidebar, Qt::Key_Delete);
    QCoreApplication::processEvents();
    EXPECT_TRUE(std::none_of(
        controller->tags().begin(), controller->tags().end(), [&](const TagInfo& kept) { return kept.id == tag.id; }));

    // Tab leaves the sidebar for the detail pane.
    QTest::keyClick(sidebar, Qt::Key_Tab);
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    EXPECT_TRUE(view.detailPane()->isAncestorOf(QApplication::focusWidget())
        || QApplication::focusWidget() == view.disconnectButton())
        << QApplication::focusWidget()->objectName().toStdString();
}

TEST_F(MainWindowTest, EveryTabStopIsAControlTheUserCanSee)
{
    makeController();
    controller->beginReviewDemo();
    ContentView& view = open(false);
    app->mainWindow().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&app->mainWindow()));
    // Once round the window with each pane shown: each stop is something that takes input and
    // shows where it is, never a container the focus disappears into.
    for (const char* pane : { "Morning reset", "Settings", "Firmware" }) {
        SCOPED_TRACE(pane);
        view.sidebar()->activateRow(rowOf(view, QString::fromLatin1(pane)));
        QCoreApplication::processEvents();
        view.sidebar()->setFocus();
        QStringList stops;
        for (int press = 0; press < 80; ++press) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget* focused = QApplication::focusWidget();
            ASSERT_NE(focused, nullptr);
            if (focused == view.sidebar()) {
                break;
            }
            const QString name
                = QString::fromLatin1(focused->metaObject()->className()) + QLatin1Char(' ') + focused->objectName();
            stops << name;
            EXPECT_TRUE(focused->isVisible()) << name.toStdString();
            for (const char* container : { "QScrollArea", "QWidget", "QFrame", "QSplitter", "QStackedWidget" }) {
                EXPECT_STRNE(focused->metaObject()->className(), container) << name.toStdString();
            }
        }
        EXPECT_EQ(QApplication::focusWidget(), view.sidebar())
            << "Tab comes round again: " << stops.join(", ").toStdString();
    }
}

TEST_F(MainWindowTest, DemoModeShowsTheSampleDataWithoutLookingForADevice)
{
    makeController();
    controller->beginReviewDemo();
    ContentView& view = open(false);
    EXPECT_TRUE(controller->isReviewDemo());
    EXPECT_EQ(view.mainContent()->objectName(), "navigationSplit");
    const auto rows = view.sidebar()->rows();
    const auto count = [&](SidebarPresenter::RowKind kind) {
        return std::count_if(
            rows.begin(), rows.end(), [&](const SidebarPresenter::Row& row) { return row.kind == kind; });
    };
    EXPECT_EQ(count(SidebarPresenter::RowKind::routine), static_cast<long>(controller->routineSummaries().size()));
    EXPECT_EQ(count(SidebarPresenter::RowKind::tag), static_cast<long>(controller->tags().size()));
    EXPECT_GT(controller->tags().size(), 0u);
    EXPECT_EQ(central.scanCount, 0) << "no scan in demo mode";
    saveShot("demo");

    view.sidebar()->activateRow(
        static_cast<int>(std::find_if(rows.begin(), rows.end(), [](const SidebarPresenter::Row& row) {
            return row.kind == SidebarPresenter::RowKind::tag;
        }) - rows.begin()));
    // The new pane is on screen in the same turn, laid out with the frame that shows it, not in a
    // later one that would draw the window again.
    EXPECT_EQ(view.detailPane()->objectName(), "tagPane");
    EXPECT_TRUE(view.detailPane()->isVisible());
}

// Renamed routines have their own rows mended; whatever changes, the list shows exactly the rows
// the sidebar's model gives for the window as it now is.
TEST_F(MainWindowTest, TheSidebarShowsItsModelsRowsAfterEachChange)
{
    makeController();
    controller->beginReviewDemo();
    ContentView& view = open(false);
    ASSERT_GE(controller->routineSummaries().size(), 2u);
    const std::uint32_t first = controller->routineSummaries().front().id;
    const std::uint32_t second = controller->routineSummaries().back().id;
    const auto rename = [&](std::uint32_t id, const std::string& label) {
        RoutineDraft draft(controller->routineDetails().at(id));
        draft.label = label;
        EXPECT_TRUE(controller->updateRoutine(id, draft));
    };
    const std::vector<std::pair<std::string, std::function<void()>>> steps {
        { "rename", [&] { rename(first, "Renamed first"); } },
        { "select a routine", [&] { view.presenter().selectRoutine(second); } },
        { "rename the selected one", [&] { rename(second, "Renamed second"); } },
        { "collapse the routines", [&] { view.presenter().setRoutinesExpanded(false); } },
        { "rename while collapsed", [&] { rename(first, "Hidden rename"); } },
        { "expand the routines", [&] { view.presenter().setRoutinesExpanded(true); } },
        { "delete a routine", [&] { controller->deleteRoutine(first); } },
        { "rename after the delete", [&] { rename(second, "Last one"); } },
    };
    for (const auto& [name, step] : steps) {
        SCOPED_TRACE(name);
        step();
        settle();
        const std::vector<SidebarPresenter::Row> expected = SidebarPresenter::rows(view.presenter(), clock);
        EXPECT_EQ(view.sidebar()->rows(), expected);
        const QAbstractItemModel* model = static_cast<const QListView*>(view.sidebar())->model();
        ASSERT_EQ(model->rowCount(), static_cast<int>(expected.size()));
        for (int row = 0; row < model->rowCount(); ++row) {
            const auto& want = expected[static_cast<std::size_t>(row)];
            EXPECT_EQ(model->index(row, 0).data().toString().toStdString(), want.label);
            EXPECT_EQ(model->index(row, 0).data(SidebarView::CaptionRole).toString().toStdString(), want.caption);
            EXPECT_EQ(model->index(row, 0).data(SidebarView::ActiveRole).toBool(), want.active);
        }
    }
}

TEST_F(MainWindowTest, TheRoutinePaneShowsItsSchedulesAndStartTagsInTheScheduleSection)
{
    makeController();
    controller->beginReviewDemo();
    ContentView& view = open(false);
    const auto startTagsOf
        = [&](std::uint32_t routineId) { return controller->routineDetails().at(routineId).startTagIds; };
    const auto scheduleById = [&](std::uint32_t id) {
        const auto& schedules = controller->schedules();
        return *std::find_if(schedules.begin(), schedules.end(), [&](const ScheduledRoutine& s) { return s.id == id; });
    };
    const auto chipNames = [](QWidget* section) {
        QStringList names;
        for (auto* chip : section->findChildren<QFrame*>(QStringLiteral("startTagChip"))) {
            for (auto* label : chip->findChildren<QLabel*>()) {
                if (!label->text().isEmpty()) {
                    names << label->text();
                }
            }
        }
        return names;
    };

    view.sidebar()->activateRow(rowOf(view, QStringLiteral("Morning reset")));
    QCoreApplication::processEvents();
    auto* pane = qobject_cast<RoutinePane*>(view.detailPane());
    ASSERT_NE(pane, nullptr);
    ScheduleSectionView* section = pane->scheduleSection();
    EXPECT_TRUE(pane->scheduleSectionSlot()->isAncestorOf(section));
    EXPECT_TRUE(section->isVisible());
    EXPECT_EQ(pane->findChild<QWidget*>(QStringLiteral("routineStartTagsRow")), nullptr)
        << "start tags live in the section only";
    EXPECT_EQ(section->model().mode(), ScheduleSectionPresenter::Mode::storedRoutine);
    EXPECT_EQ(
        section->model().startTagIntro(), "With no routine running, scan any of these tags to start Morning reset.");
    ASSERT_EQ(section->rows().size(), 1u);
    EXPECT_EQ(section->rows().front()->model().schedule().id, 1u);
    EXPECT_EQ(chipNames(section), QStringList { "Start" });
    EXPECT_TRUE(section->addStartTagButton()->isEnabled());
    saveShot("routine-with-schedule-section");

    // The row's switch reaches the controller, and the row redraws from it.
    ScheduleCompactRow* row = section->row(1);
    row->editButton()->click();
    ASSERT_TRUE(row->isEditorPresented());
    row->enabledToggle()->click();
    EXPECT_FALSE(scheduleById(1).enabled);
    EXPECT_EQ(row->bellLabel()->toolTip(), "Alarm off");
    row->enabledToggle()->click();
    EXPECT_TRUE(scheduleById(1).enabled);
    row->editor()->hide();

    // The picker offers the tags no routine uses; a choice is saved with the routine.
    QTest::mouseClick(section->addStartTagButton(), Qt::LeftButton);
    auto* offer = section->findChild<QListView*>(QStringLiteral("startTagList"));
    ASSERT_NE(offer, nullptr);
    QStringList offered;
    for (int row = 0; row < offer->model()->rowCount(); ++row) {
        offered << offer->model()->index(row, 0).data().toString();
    }
    EXPECT_EQ(offered, (QStringList { "Bookshelf", "Coffee", "Desk", "Keys" }));
    QTest::mouseClick(offer->viewport(), Qt::LeftButton, {}, offer->visualRect(offer->model()->index(1, 0)).center());
    settle();
    EXPECT_EQ(startTagsOf(1), (std::vector<std::uint32_t> { 1, 2 }));
    EXPECT_EQ(chipNames(section), (QStringList { "Coffee", "Start" }));

    // Removing asks first; only "Remove" takes the tag off the routine.
    const auto removeChip = [&](const QString& name) {
        for (auto* chip : section->findChildren<QFrame*>(QStringLiteral("startTagChip"))) {
            for (auto* label : chip->findChildren<QLabel*>()) {
                if (label->text() == name) {
                    QTest::mouseClick(chip->findChild<QToolButton*>(), Qt::LeftButton);
                    return;
                }
            }
        }
        ADD_FAILURE() << "no chip " << name.toStdString();
    };
    const auto answer = [&](const QString& button) {
        QMessageBox* question = view.alertView()->shownBox();
        ASSERT_NE(question, nullptr);
        EXPECT_EQ(question->text(), "Remove this start tag from the routine?");
        EXPECT_EQ(question->icon(), QMessageBox::Question);
        EXPECT_EQ(question->defaultButton()->text(), "Cancel");
        for (QAbstractButton* choice : question->buttons()) {
            if (choice->text() == button) {
                choice->click();
            }
        }
        settle();
    };
    removeChip(QStringLiteral("Start"));
    answer(QStringLiteral("Cancel"));
    EXPECT_EQ(startTagsOf(1), (std::vector<std::uint32_t> { 1, 2 }));
    removeChip(QStringLiteral("Start"));
    answer(QStringLiteral("Remove"));
    EXPECT_EQ(startTagsOf(1), (std::vector<std::uint32_t> { 2 }));
    EXPECT_EQ(chipNames(section), QStringList { "Coffee" });

    // Another routine brings its own schedules and start tags.
    view.sidebar()->activateRow(rowOf(view, QStringLiteral("Evening reset")));
    QCoreApplication::processEvents();
    pane = qobject_cast<RoutinePane*>(view.detailPane());
    ASSERT_NE(pane, nullptr);
    section = pane->scheduleSection();
    ASSERT_EQ(section->rows().size(), 1u);
    EXPECT_EQ(section->rows().front()->model().schedule().id, 2u);
    EXPECT_TRUE(chipNames(section).isEmpty());
}

TEST_F(MainWindowTest, WithNoDeviceInRangeTheOverlayWaitsAndAFailureOffersTryAgain)
{
    ContentView& view = open();
    EXPECT_EQ(view.mainContent()->objectName(), "loadOverlay");
    auto* overlay = qobject_cast<ConnectionOverlayView*>(view.mainContent());
    ASSERT_NE(overlay, nullptr);
    EXPECT_EQ(overlay->statusLabel()->text(), "Push twice on Tavrik to connect.");
    EXPECT_FALSE(overlay->tryAgainButton()->isVisibleTo(overlay));
    EXPECT_FALSE(overlay->backButton()->isVisibleTo(overlay));
    EXPECT_TRUE(overlay->shownOverlay().showsNewBoardSection);
    // The split view, with its sidebar and title-bar strip, waits until there is data to show.
    EXPECT_EQ(view.sidebar(), nullptr);
    EXPECT_EQ(view.titleBarStatus(), nullptr);
    saveShot("empty");
}

TEST_F(MainWindowTest, AFirstStartWithoutBluetoothSaysWhyAndRecoversByItself)
{
    central.changeState(BleManagerState::unsupported);
    settle();
    ContentView& view = open();
    auto* overlay = qobject_cast<ConnectionOverlayView*>(view.mainContent());
    ASSERT_NE(overlay, nullptr);
    EXPECT_TRUE(overlay->bluetoothProblemLabel()->isVisibleTo(overlay));
    EXPECT_EQ(overlay->bluetoothProblemLabel()->text(), "Bluetooth is not available: no Bluetooth adapter was found.");
    EXPECT_TRUE(overlay->bluetoothAdviceLabel()->text().contains("rfkill unblock bluetooth"));
    saveShot("no-bluetooth");

    central.changeState(BleManagerState::poweredOff);
    settle();
    EXPECT_EQ(overlay->bluetoothProblemLabel()->text(), "Bluetooth is powered off.");

    // The adapter comes on: the explanation goes and the device is looked for.
    addDevice();
    central.changeState(BleManagerState::poweredOn);
    settle();
    EXPECT_FALSE(overlay->bluetoothProblemLabel()->isVisibleTo(overlay));
    ASSERT_TRUE(controller->hasLoadedData());

    // Switched off later, the title bar says so.
    central.changeState(BleManagerState::poweredOff);
    settle();
    auto* status = view.titleBarStatus()->findChild<QLabel*>("bluetoothStatus");
    ASSERT_NE(status, nullptr);
    EXPECT_TRUE(status->isVisibleTo(view.titleBarStatus()));
    EXPECT_EQ(status->text(), "Bluetooth off");
    EXPECT_TRUE(status->toolTip().contains("bluetoothctl power on"));
}

TEST_F(MainWindowTest, AStalledLoadFailsWithItsMessageInRedAndTryAgainLoadsAgain)
{
    FakeTavrik& tavrik = addDevice();
    tavrik.stopAfterReady = true;
    ContentView& view = open();
    auto* overlay = qobject_cast<ConnectionOverlayView*>(view.mainContent());
    ASSERT_NE(overlay, nullptr);
    scheduler.advance(TavrikBleCentral::loadTimeout);
    settle();
    ASSERT_TRUE(controller->syncStage().isFailed());
    EXPECT_EQ(overlay->statusLabel()->text().toStdString(), controller->syncStage().failureMessage());
    EXPECT_EQ(overlay->statusLabel()->palette().color(QPalette::WindowText), QColor(Qt::red));
    EXPECT_TRUE(overlay->tryAgainButton()->isVisibleTo(overlay));
    EXPECT_FALSE(overlay->shownOverlay().showsNewBoardSection);
    saveShot("failed");

    tavrik.stopAfterReady = false;
    overlay->tryAgainButton()->click();
    settle();
    EXPECT_TRUE(controller->hasLoadedData());
    EXPECT_EQ(view.mainContent()->objectName(), "navigationSplit");
}

TEST_F(MainWindowTest, ALoadedLegacyDeviceGetsTheUpgradeCardUntilItsBackupIsSaved)
{
    addDevice(TavrikBleProtocolProfile::legacyUnencryptedV1);
    ContentView& view = open();
    ASSERT_TRUE(controller->legacyFirmwareUpgradeRequired());
    auto* legacy = qobject_cast<LegacyUpgradeView*>(view.mainContent());
    ASSERT_NE(legacy, nullptr);
    EXPECT_EQ(legacy->saveBackupButton()->text(), QString::fromUtf8("Save Migration Backup\u2026"));
    EXPECT_EQ(legacy->backupStatusLabel()->text(), "Required before upgrading");
    // The warning sign is the bundled symbol, drawn whatever fonts the desktop has, never a character
    // a font may lack.
    const auto drawnSymbol = [&](const char* name) {
        QCoreApplication::processEvents();
        auto* symbol = legacy->findChild<QLabel*>(QString::fromLatin1(name));
        return symbol && symbol->isVisibleTo(legacy) && !symbol->pixmap().isNull();
    };
    const auto noSymbolCharacters = [&] {
        for (const QLabel* label : legacy->findChildren<QLabel*>()) {
            for (const char32_t character : { U'\u26A0', U'\U0001F527', U'\u2714' }) {
                EXPECT_EQ(label->text().toStdU32String().find(character), std::u32string::npos)
                    << label->text().toStdString();
            }
        }
    };
    EXPECT_TRUE(drawnSymbol("legacyWarningSign"));
    EXPECT_FALSE(drawnSymbol("migrationBackupMark"));
    noSymbolCharacters();
    saveShot("legacy");

    // The export of a legacy board's data remembers where its migration backup went.
    view.presenter().actions().exportTavrikData = [&view] {
        const QString saved = QStringLiteral("/home/user/tavrik-legacy-migration-backup.json");
        view.panes().legacy().setMigrationBackupPath(saved);
        return std::optional<std::string>(saved.toStdString());
    };
    legacy->saveBackupButton()->click();
    EXPECT_TRUE(legacy->backupStatusLabel()->text().endsWith("tavrik-legacy-migration-backup.json"));
    EXPECT_TRUE(drawnSymbol("migrationBackupMark"));

    // What the migration could not carry over is listed under its own sign.
    ContentViewPresenter::ControllerState warned = view.presenter().controller();
    warned.backupMigrationWarnings = { "Schedule 9 had no routine" };
    view.presenter().observe(warned);
    EXPECT_TRUE(drawnSymbol("migrationWarningsSign"));
    noSymbolCharacters();
    saveShot("legacy-warnings");
}

TEST_F(MainWindowTest, EveryAlertOfTheWindowWaitsInOneQueueAndLooksAlike)
{
    ContentView& view = open();
    std::vector<std::string> flashes;
    view.presenter().actions().startUsbOnboardingFlash
        = [&](const std::string& ssid, const std::string&) { flashes.push_back(ssid); };
    const auto openBoxes = [&] {
        const auto boxes = view.findChildren<QMessageBox*>();
        return std::count_if(boxes.begin(), boxes.end(), [](QMessageBox* box) { return box->isVisible(); });
    };
    view.presenter().modify([](ContentViewPresenter::State& state) { state.showingUsbInstallAlert = true; });
    // A backup outcome raised meanwhile waits its turn instead of stacking a second box.
    view.panes().backup().exportTavrikData();
    QCoreApplication::processEvents();
    EXPECT_EQ(openBoxes(), 1);

    QMessageBox* box = view.alertView()->shownBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), "Install Tavrik Firmware?");
    EXPECT_EQ(box->windowTitle(), "Tavrik Link");
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    QStringList texts;
    for (QAbstractButton* button : box->buttons()) {
        texts << button->text();
    }
    EXPECT_TRUE(texts.contains("Install over USB"));
    // Return on the confirmation that erases a board cancels it.
    ASSERT_NE(box->defaultButton(), nullptr);
    EXPECT_EQ(box->defaultButton()->text(), "Cancel");
    saveShot("alert", box);
    QTest::keyClick(box, Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_FALSE(view.presenter().state().showingUsbInstallAlert);
    EXPECT_TRUE(flashes.empty());

    box = view.alertView()->shownBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), "Export Unavailable");
    EXPECT_EQ(box->informativeText(), "Load data from Tavrik before exporting.");
    EXPECT_EQ(box->windowTitle(), "Tavrik Link");
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    QTest::keyClick(box, Qt::Key_Escape);
    QCoreApplication::processEvents();
    EXPECT_FALSE(view.presenter().state().dataTransferNotice);
    EXPECT_FALSE(view.panes().backup().dataTransferNotice());
    EXPECT_EQ(view.alertView()->shownBox(), nullptr);

    // Good news carries no warning sign; questions ask with theirs.
    view.presenter().modify([](ContentViewPresenter::State& state) {
        state.dataTransferNotice
            = ContentViewPresenter::DataTransferNotice { Uuid::make(), "Export Complete", "Exported.", false };
        state.showingLegacyRestorePrompt = true;
    });
    box = view.alertView()->shownBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->icon(), QMessageBox::Information);
    QTest::keyClick(box, Qt::Key_Return);
    QCoreApplication::processEvents();
    box = view.alertView()->shownBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), "Restore Migration Backup?");
    EXPECT_EQ(box->icon(), QMessageBox::Question);
    EXPECT_EQ(box->defaultButton()->text(), "Restore Backup");
    QTest::keyClick(box, Qt::Key_Escape);
    QCoreApplication::processEvents();
    EXPECT_FALSE(view.presenter().state().showingLegacyRestorePrompt);
}

TEST_F(MainWindowTest, APanesDeleteQuestionWaitsInTheWindowsQueueAndReturnCancelsIt)
{
    makeController();
    controller->beginReviewDemo();
    ContentView& view = open(false);
    const auto openBoxes = [&] {
        const auto boxes = view.findChildren<QMessageBox*>();
        return std::count_if(boxes.begin(), boxes.end(), [](QMessageBox* box) { return box->isVisible(); });
    };
    const auto stored = [&] { return controller->routineDetails().contains(1); };
    view.sidebar()->activateRow(rowOf(view, QStringLiteral("Morning reset")));
    QCoreApplication::processEvents();
    auto* remove = view.detailPane()->findChild<QPushButton*>(QStringLiteral("deleteRoutineButton"));
    ASSERT_NE(remove, nullptr);
    ASSERT_TRUE(stored());

    remove->click();
    // A notice raised while the question is open waits its turn instead of stacking a second box.
    view.presenter().modify([](ContentViewPresenter::State& state) {
        state.dataTransferNotice
            = ContentViewPresenter::DataTransferNotice { Uuid::make(), "Export Complete", "Exported.", false };
    });
    QCoreApplication::processEvents();
    EXPECT_EQ(openBoxes(), 1);
    QMessageBox* box = view.alertView()->shownBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), "Tavrik Link");
    EXPECT_EQ(box->text(), "Delete Routine?");
    EXPECT_EQ(box->informativeText(), "Remove Morning reset, its schedules, and its start-tag assignments?");
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    saveShot("delete-routine-question", box);
    QTest::keyClick(box, Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_TRUE(stored()) << "Return keeps the routine";
    box = view.alertView()->shownBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), "Export Complete");
    QTest::keyClick(box, Qt::Key_Return);
    QCoreApplication::processEvents();

    remove->click();
    ASSERT_NE(view.alertView()->shownBox(), nullptr);
    QTest::keyClick(view.alertView()->shownBox(), Qt::Key_Escape);
    QCoreApplication::processEvents();
    EXPECT_TRUE(stored()) << "Escape keeps the routine";

    remove->click();
    box = view.alertView()->shownBox();
    ASSERT_NE(box, nullptr);
    for (QAbstractButton* button : box->buttons()) {
        if (button->text() == "Delete") {
            button->click();
        }
    }
    QCoreApplication::processEvents();
    EXPECT_FALSE(stored());
    EXPECT_EQ(view.alertView()->shownBox(), nullptr);
}

TEST_F(MainWindowTest, SheetsFollowTheirStateAndClosingOneByEscapeCancelsTheTagEdit)
{
    ContentView& view = open();
    int cancelled = 0;
    view.presenter().actions().cancelTagEdit = [&] { ++cancelled; };
    view.presenter().modify([](ContentViewPresenter::State& state) {
        state.tagMode = ContentViewPresenter::TagEditorCreate {};
        state.showingTagSheet = true;
    });
    auto* sheet = view.findChild<QDialog*>("tagEditorSheet");
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_GE(sheet->minimumWidth(), 360);
    QTest::keyClick(sheet, Qt::Key_Escape);
    EXPECT_FALSE(view.presenter().state().showingTagSheet);
    EXPECT_EQ(cancelled, 1);

    view.presenter().modify([](ContentViewPresenter::State& state) { state.showingWifiCredentialEditor = true; });
    QPointer<QDialog> wifi = view.findChild<QDialog*>("wifiCredentialEditorSheet");
    ASSERT_NE(wifi, nullptr);
    EXPECT_TRUE(wifi->isVisible());
    // Closed by the state (a saved network), the sheet goes without a second close.
    view.presenter().modify([](ContentViewPresenter::State& state) { state.showingWifiCredentialEditor = false; });
    QCoreApplication::processEvents();
    EXPECT_TRUE(!wifi || !wifi->isVisible());
    EXPECT_EQ(cancelled, 1);
}

TEST_F(MainWindowTest, ALargeDataSetAndAFullLogStreamRowByRow)
{
    FakeTavrik& tavrik = addDevice();
    for (std::uint32_t id = 1; id <= 300; ++id) {
        tavrik.data.tags.push_back({ id, "UID " + std::to_string(id), "Tag number " + std::to_string(id) });
        tavrik.data.routines.push_back(RoutinePayload { id, "Routine " + std::to_string(id), {}, {}, {} });
    }
    ContentView& view = open();
    ASSERT_TRUE(controller->hasLoadedData());
    EXPECT_EQ(view.sidebar()->rows().size(), 300u + 300u + 6u);

    QTest::keyClick(&app->mainWindow(), Qt::Key_L, Qt::ControlModifier | Qt::ShiftModifier);
    for (int index = 0; index < 600; ++index) {
        controller->appendLog("stream " + std::to_string(index), true);
    }
    EXPECT_EQ(view.logModel().rowCount(), static_cast<int>(TavrikBleCentral::logCapacity));

    int resets = 0;
    int removed = 0;
    int inserted = 0;
    QObject::connect(&view.logModel(), &QAbstractItemModel::modelReset, [&] { ++resets; });
    QObject::connect(&view.logModel(), &QAbstractItemModel::rowsRemoved,
        [&](const QModelIndex&, int first, int last) { removed += last - first + 1; });
    QObject::connect(&view.logModel(), &QAbstractItemModel::rowsInserted,
        [&](const QModelIndex&, int first, int last) { inserted += last - first + 1; });
    for (int index = 0; index < 50; ++index) {
        controller->appendLog("more " + std::to_string(index), true);
    }
    EXPECT_EQ(resets, 0);
    EXPECT_EQ(removed, 50);
    EXPECT_EQ(inserted, 50);
    QCoreApplication::processEvents();
    const QListView* list = view.logDrawer()->list();
    const QModelIndex newest = view.logModel().index(view.logModel().rowCount() - 1);
    EXPECT_TRUE(list->viewport()->rect().intersects(list->visualRect(newest))) << "the newest line is in view";
    saveShot("large");
}

} // namespace
} // namespace tavrik::test
