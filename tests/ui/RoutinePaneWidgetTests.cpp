#include "TavrikLink/Ui/RoutineDetailEditor.hpp"
#include "TavrikLink/Ui/RoutineHierarchyView.hpp"
#include "TavrikLink/Ui/RoutinePane.hpp"
#include "TavrikLink/Ui/ScheduleSectionView.hpp"
#include "TavrikLink/Ui/StepEditorSheet.hpp"
#include "TavrikLink/Views/RoutineDetailEditorPresenter.hpp"
#include "TavrikLink/Views/RoutinePanePresenter.hpp"
#include "TavrikLink/Views/ScheduleSectionPresenter.hpp"
#include "tests/controller/ControllerTestSupport.hpp"
#include "tests/ui/UiShots.hpp"

#include <QAction>
#include <QFrame>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <algorithm>
#include <chrono>
#include <memory>

namespace tavrik::test {
namespace {

using namespace std::chrono_literals;

bool anyContains(const std::vector<std::string>& texts, const std::string& part)
{
    return std::any_of(
        texts.begin(), texts.end(), [&](const std::string& text) { return text.find(part) != std::string::npos; });
}

class RoutinePaneWidgetTest : public ControllerTest {
protected:
    void SetUp() override
    {
        clock.locale = "en_US";
        addDevice();
        device->data.dataVersion = 9;
        device->data.tags = { { 1, "04A1B2C3", "Kitchen" }, { 2, "04A1B2C4", "Door" } };
        RoutinePayload routine { 9, "Morning", {}, {}, {} };
        routine.steps = { { 31, 0, 0, "1", 60, "Stretch", 0 } };
        device->data.routines = { routine };
        moreOnTheDevice();
        loadFromDevice();
        ASSERT_TRUE(controller->hasLoadedData());
        ASSERT_TRUE(controller->routineDetails().contains(9));
    }

    virtual void moreOnTheDevice() { }

    std::vector<std::string> sentAfterDebounce()
    {
        scheduler.advance(250ms);
        settle();
        return device->receivedCommands();
    }

    // The routine pane over the controller, as the window shows it.
    std::unique_ptr<RoutinePane> showPane()
    {
        auto pane = std::make_unique<RoutinePane>(RoutinePanePresenter::following(*controller, window),
            new ScheduleSectionPresenter(*controller, window), window);
        pane->resize(700, 600);
        pane->show();
        return pane;
    }

    ContentViewPresenter window { ContentViewPresenter::Actions {} };
};

TEST_F(RoutinePaneWidgetTest, EditsTitleAndAddsAStepThroughTheSheet)
{
    window.selectRoutine(9);
    const auto shown = showPane();
    RoutinePane& pane = *shown;
    RoutineDetailEditor* editor = pane.editor();
    ASSERT_TRUE(editor->isVisible());
    EXPECT_EQ(editor->titleField()->text(), QStringLiteral("Morning"));

    QTest::keyClicks(editor->titleField(), QStringLiteral(" walk"));
    EXPECT_EQ(controller->routineDetails().at(9).label, "Morning walk");
    EXPECT_TRUE(anyContains(sentAfterDebounce(), "Morning walk"));

    const auto before = device->receivedCommands().size();
    editor->findChild<QPushButton*>(QStringLiteral("addStepButton"))->click();
    StepEditorSheet* sheet = editor->stepSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(sheet->isVisible());

    // Escape leaves the sheet open; a tag from the menu and Done close it and save the step.
    QTest::keyClick(sheet, Qt::Key_Escape);
    EXPECT_TRUE(sheet->isVisible());
    auto* tagMenu = sheet->findChild<QToolButton*>(QStringLiteral("tagMenu"));
    ASSERT_NE(tagMenu, nullptr);
    tagMenu->menu()->actions().at(1)->trigger();
    EXPECT_EQ(tagMenu->text(), QStringLiteral("Door"));
    sheet->findChild<QLineEdit*>(QStringLiteral("durationField"))->setFocus();
    sheet->findChild<QPushButton*>(QStringLiteral("doneButton"))->click();
    EXPECT_EQ(editor->stepSheet(), nullptr);

    const RoutineDetailModel& detail = controller->routineDetails().at(9);
    ASSERT_EQ(detail.steps.size(), 2u);
    EXPECT_EQ(detail.steps.back().tagId, "2");
    const auto commands = sentAfterDebounce();
    ASSERT_GT(commands.size(), before);
    EXPECT_TRUE(anyContains(
        std::vector<std::string>(commands.begin() + static_cast<std::ptrdiff_t>(before), commands.end()), "tag"));
    EXPECT_EQ(pane.editorPresenter().hierarchy().rowCount(), 2);
}

class TwoStepRoutinePaneTest : public RoutinePaneWidgetTest {
protected:
    void moreOnTheDevice() override
    {
        device->data.routines.front().steps.push_back({ 32, 1, 0, "2", 60, "Breathe", 0 });
    }
};

TEST_F(TwoStepRoutinePaneTest, AStepMovedFromTheKeyboardReachesTheDevice)
{
    window.selectRoutine(9);
    const auto shown = showPane();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(shown.get()));
    ASSERT_NE(shown->editor(), nullptr);
    RoutineHierarchyView* list = shown->editor()->hierarchyView();
    list->setFocus();
    QTest::keyClick(list, Qt::Key_End);
    ASSERT_EQ(list->currentIndex().row(), 1);
    const auto before = device->receivedCommands().size();
    QTest::keyClick(list, Qt::Key_Up, Qt::AltModifier);
    EXPECT_EQ(shown->editorPresenter().hierarchy().hierarchyOrder(),
        (std::vector<std::string> { "root-step:32", "root-step:31" }));

    const auto commands = sentAfterDebounce();
    ASSERT_GT(commands.size(), before) << "the move is saved as a drag's is";
    const RoutineDetailModel& detail = controller->routineDetails().at(9);
    ASSERT_EQ(detail.steps.size(), 2u);
    const auto breathe = std::ranges::find_if(detail.steps, [](const auto& step) { return step.stepId == 32; });
    ASSERT_NE(breathe, detail.steps.end());
    EXPECT_EQ(breathe->position, 0);
}

TEST_F(RoutinePaneWidgetTest, ATitleThatCannotBeSavedGivesWayToTheSavedOneWhenTheFieldIsLeft)
{
    RoutinePayload evening { 4, "Evening reset", {}, {}, {} };
    evening.steps = { { 41, 0, 0, "2", 60, "Lights", 0 } };
    device->data.routines.front().label = "Morning reset";
    device->data.routines.push_back(evening);
    loadFromDevice();
    window.selectRoutine(9);
    const auto shown = showPane();
    RoutinePane& pane = *shown;
    QLineEdit* title = pane.editor()->titleField();
    auto* message = pane.editor()->findChild<QLabel*>(QStringLiteral("routineTitleMessage"));
    ASSERT_NE(message, nullptr);

    title->setFocus();
    title->selectAll();
    QTest::keyClicks(title, QStringLiteral("  evening RESET"));
    EXPECT_EQ(title->text(), QStringLiteral("  evening RESET"));
    EXPECT_TRUE(message->isVisible());
    EXPECT_EQ(message->text(), QStringLiteral("A routine with this title already exists."));
    EXPECT_EQ(controller->routineDetails().at(9).label, "  evening RESE");

    QTest::keyClick(title, Qt::Key_Return);
    EXPECT_EQ(title->text(), QStringLiteral("  evening RESE"));
    EXPECT_FALSE(message->isVisible());
    EXPECT_EQ(controller->routineDetails().at(9).label, "  evening RESE");
}

// A red line runs along the top edge of the widget, as a validation border draws it.
bool hasRedBorder(QWidget* widget)
{
    const QImage image = widget->grab().toImage();
    for (int y = 0; y < 3; ++y) {
        const QColor colour = image.pixelColor(image.width() / 2, y);
        if (colour.red() > 150 && colour.green() < 90 && colour.blue() < 90) {
            return true;
        }
    }
    return false;
}

TEST_F(RoutinePaneWidgetTest, ADuplicateTitleShowsItsMessageWithTheRedBorderOfTheOtherFields)
{
    device->data.routines.push_back({ 4, "Evening", {}, {}, {} });
    loadFromDevice();
    window.selectRoutine(9);
    const auto shown = showPane();
    RoutinePane& pane = *shown;
    QLineEdit* title = pane.editor()->titleField();
    EXPECT_FALSE(hasRedBorder(title));
    title->selectAll();
    QTest::keyClicks(title, QStringLiteral(" evening "));
    auto* message = pane.editor()->findChild<QLabel*>(QStringLiteral("routineTitleMessage"));
    ASSERT_NE(message, nullptr);
    EXPECT_TRUE(message->isVisible());
    EXPECT_EQ(message->text(), QStringLiteral("A routine with this title already exists."));
    EXPECT_TRUE(hasRedBorder(title));
    QTest::keyClicks(title, QStringLiteral("s"));
    EXPECT_FALSE(message->isVisible());
    EXPECT_FALSE(hasRedBorder(title));
}

TEST_F(RoutinePaneWidgetTest, ARefusedNewRoutineLeavesThePaneShowingTheRefusal)
{
    device->answerCommand = [](const std::string& channel, const std::string&) {
        return channel == "routine" || channel == "steps"
            ? std::vector<Json> { { { "type", "error" }, { "message", "Routine store is full" } } }
            : std::vector<Json> {};
    };
    const auto shown = showPane();
    RoutinePane& pane = *shown;
    RoutinePanePresenter::beginCreatingRoutine(window);
    RoutinePanePresenter& presenter = pane.presenter();
    presenter.addRoutineStep();
    RoutineDraft draft = presenter.draft();
    draft.label = "Evening";
    draft.steps.front().tagId = "2";
    presenter.editDraft(draft);
    ASSERT_TRUE(window.state().selectedRoutineId);
    const std::uint32_t id = *window.state().selectedRoutineId;
    ASSERT_EQ(presenter.content(), RoutinePanePresenter::Content::storedRoutine);

    // The device refuses it and its data, loaded again, lacks it.
    sentAfterDebounce();
    EXPECT_FALSE(controller->routineDetails().contains(id));
    EXPECT_FALSE(window.state().selectedRoutineId);
    auto* error = pane.findChild<QLabel*>(QStringLiteral("routineErrorText"));
    ASSERT_NE(error, nullptr);
    EXPECT_TRUE(error->isVisible());
    EXPECT_EQ(error->text(), QStringLiteral("Routine store is full"));
    auto* empty = pane.findChild<QLabel*>(QStringLiteral("routineEmptyState"));
    ASSERT_NE(empty, nullptr);
    EXPECT_TRUE(empty->isVisible());
    EXPECT_EQ(empty->text(), QStringLiteral("Select a routine from the sidebar to view details."));
}

TEST_F(RoutinePaneWidgetTest, NothingIsBuiltPerTagUntilTheStartTagPickerOpens)
{
    window.selectRoutine(9);
    const auto shown = showPane();
    RoutinePane& pane = *shown;
    const auto objects = [&] { return pane.findChildren<QObject*>().size(); };
    const auto before = objects();

    std::vector<TagInfo> many;
    for (std::uint32_t id = 1; id <= 2000; ++id) {
        many.push_back({ id, "04 " + std::to_string(id), "Tag " + std::to_string(100000 - id) });
    }
    device->data.tags = many;
    loadFromDevice();
    ASSERT_EQ(controller->tags().size(), 2000u);
    QCoreApplication::processEvents();
    EXPECT_EQ(objects(), before) << "a refresh builds no widget or action per tag";

    // Opened, the picker lists every tag on offer, by name, in a popover of the given size.
    auto* button = pane.scheduleSection()->addStartTagButton();
    ASSERT_TRUE(button->isEnabled());
    QTest::mouseClick(button, Qt::LeftButton);
    auto* popover = pane.scheduleSection()->findChild<QFrame*>(QStringLiteral("startTagPopover"));
    ASSERT_NE(popover, nullptr);
    ASSERT_TRUE(popover->isVisible());
    EXPECT_EQ(popover->width(), 260);
    auto* list = popover->findChild<QListView*>(QStringLiteral("startTagList"));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->height(), 240);
    ASSERT_EQ(list->model()->rowCount(), 2000);
    const QModelIndex first = list->model()->index(0, 0);
    EXPECT_EQ(first.data().toString(), QStringLiteral("Tag 98000"));
    EXPECT_FALSE(first.data(Qt::DecorationRole).value<QIcon>().isNull()) << "each row has the tag symbol";
    saveUiShot(popover, QStringLiteral("start-tag-picker"));

    // A click on a row closes the popover and adds that tag.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(list->model()->index(1, 0)).center());
    EXPECT_FALSE(popover->isVisible());
    EXPECT_EQ(pane.presenter().draft().startTagIds, (std::vector<std::uint32_t> { 1999 }));
}

TEST_F(RoutinePaneWidgetTest, ShowsTheEmptyStateAndBigRoutinesStayCheapToPreview)
{
    RoutinePane empty(RoutinePanePresenter::following(*controller, window),
        new ScheduleSectionPresenter(*controller, window), window);
    EXPECT_EQ(empty.presenter().content(), RoutinePanePresenter::Content::emptyState);

    // A thousand steps in fifty groups: a preview moves rows instead of rebuilding them.
    RoutineDraft big(9, "Big", {}, {}, {});
    for (int group = 0; group < 50; ++group) {
        big.groups.emplace_back(
            Uuid::make(), 1000 + group, group, "Group " + std::to_string(group), RoutineGroupMode::timebox, 900);
        for (int child = 0; child < 20; ++child) {
            RoutineStepDraft step;
            step.stepId = static_cast<std::uint32_t>(group * 20 + child + 1);
            step.parentId = 1000 + group;
            step.position = child;
            step.tagId = "1";
            step.seconds = 30;
            big.steps.push_back(step);
        }
    }
    window.selectRoutine(9);
    empty.presenter().editDraft(big);
    RoutineHierarchyModel& model = empty.editorPresenter().hierarchy();
    ASSERT_EQ(model.rowCount(), 50);
    int resets = 0;
    QObject::connect(&model, &QAbstractItemModel::modelReset, [&] { ++resets; });
    const Uuid dragged = big.steps.front().id;
    model.beginDrag(dragged);
    model.previewDraggedStep(dragged, 1049, 5);
    model.previewDraggedStep(dragged, 1020, 0);
    model.finishDrag(dragged, 1020, 0);
    EXPECT_EQ(resets, 0);
    EXPECT_EQ(empty.presenter().draft().childSteps(1020).front().id, dragged);

    const QString shots = qEnvironmentVariable("TAVRIK_UI_SHOTS");
    if (!shots.isEmpty()) {
        empty.resize(700, 640);
        empty.show();
        empty.editor()->hierarchyView()->scrollTo(model.indexOfStep(dragged));
        QCoreApplication::processEvents();
        empty.grab().save(shots + QStringLiteral("/routine-1000-steps.png"));
    }
}

} // namespace
} // namespace tavrik::test
