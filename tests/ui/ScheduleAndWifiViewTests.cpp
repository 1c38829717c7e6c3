#include "TavrikLink/Ui/ElidedLabel.hpp"
#include "TavrikLink/Ui/ScheduleCompactRow.hpp"
#include "TavrikLink/Ui/ScheduleSectionView.hpp"
#include "TavrikLink/Ui/WifiCredentialEditorView.hpp"
#include "TavrikLink/Ui/WifiSettingsSection.hpp"
#include "TavrikLink/Ui/WindowAlertView.hpp"
#include "TavrikLink/Views/ScheduleSectionPresenter.hpp"
#include "TavrikLink/Views/WifiSettingsPresenter.hpp"
#include "tests/controller/ControllerTestSupport.hpp"
#include "tests/support/ScheduleRecords.hpp"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStandardItemModel>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

#include <set>

namespace tavrik::test {
namespace {

// With TAVRIK_UI_SHOTS set to a folder, keeps a picture of the widget there to look at.
void saveShot(QWidget* widget, const QString& name)
{
    const QString folder = qEnvironmentVariable("TAVRIK_UI_SHOTS");
    if (!folder.isEmpty()) {
        QCoreApplication::processEvents();
        widget->grab().save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
    }
}

// Answers the question the window shows with the button of that text.
void answerQuestion(const WindowAlertView& alerts, const QString& button)
{
    QMessageBox* box = alerts.shownBox();
    ASSERT_NE(box, nullptr);
    for (QAbstractButton* candidate : box->buttons()) {
        if (candidate->text() == button) {
            candidate->click();
            QCoreApplication::processEvents();
            return;
        }
    }
    FAIL() << "no button " << button.toStdString();
}

// Presses Return on the shown question, as a reflex would: a question that deletes or removes
// answers it with its cancel button.
void pressReturnOnQuestion(const WindowAlertView& alerts)
{
    QMessageBox* box = alerts.shownBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), QStringLiteral("Tavrik Link"));
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    QTest::keyClick(box, Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_EQ(alerts.shownBox(), nullptr) << "Return left the question open";
}

class ScheduleSectionViewTest : public ControllerTest {
protected:
    std::unique_ptr<ContentViewPresenter> window;
    std::unique_ptr<ScheduleSectionView> view;

    void load(std::vector<ScheduledRoutine> schedules)
    {
        clock.zone = "Europe/Amsterdam";
        clock.locale = "en_US";
        addDevice();
        device->data.routines = { { 9, "Morning", {}, {}, {} }, { 4, "Evening", {}, {}, {} } };
        device->data.schedules = std::move(schedules);
        device->answerCommand = [](const std::string&, const std::string&) { return std::vector<Json> {}; };
        loadFromDevice();
        ASSERT_TRUE(controller->hasLoadedData());
        window = std::make_unique<ContentViewPresenter>(ContentViewPresenter::Actions {});
        auto* model = new ScheduleSectionPresenter(*controller, *window, clock);
        model->showRoutine(ScheduleSectionPresenter::Routine { 9, "Morning" });
        view = std::make_unique<ScheduleSectionView>(model);
        view->resize(620, 520);
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    }

    void TearDown() override
    {
        view.reset();
        window.reset();
    }

    QStringList shownTimes() const
    {
        QStringList times;
        for (ScheduleCompactRow* row : view->rows()) {
            times << row->timeLabel()->text();
        }
        return times;
    }
};

TEST_F(ScheduleSectionViewTest, RowsEditInAPopoverThatRedrawsFromTheController)
{
    ScheduledRoutine once = recurringSchedule(2, 9, 7, 45, 0);
    once.type = "single";
    once.year = 2026;
    once.month = 1;
    once.day = 5;
    load({ recurringSchedule(1, 9, 8, 0, 127), once, recurringSchedule(3, 4, 6, 0, 62),
        recurringSchedule(5, 9, 21, 30, 65, false) });
    QStringList expected;
    for (const auto& schedule : view->model().routineSchedules()) {
        expected << QString::fromStdString(schedule.timeText());
    }
    EXPECT_EQ(shownTimes(), expected);
    EXPECT_EQ(expected.size(), 3);
    EXPECT_EQ(view->findChild<QAbstractScrollArea*>(), nullptr) << "the rows stand in the pane's one column";
    ScheduleCompactRow* weekly = view->row(5);
    EXPECT_EQ(weekly->daysLabel()->text(), "Weekend");
    EXPECT_EQ(weekly->bellLabel()->toolTip(), "Alarm off");
    EXPECT_EQ(view->row(1)->bellLabel()->toolTip(), "Alarm on");
    saveShot(view.get(), QStringLiteral("schedule-section"));

    ScheduleCompactRow* daily = view->row(1);
    QTest::mouseClick(daily->editButton(), Qt::LeftButton);
    ASSERT_TRUE(daily->isEditorPresented());
    EXPECT_FALSE(daily->dateField()->isVisible());
    EXPECT_TRUE(daily->weekdayPicker()->isVisible());
    EXPECT_TRUE(daily->kindButton(ScheduleKind::recurring)->isChecked());
    saveShot(daily->editor(), QStringLiteral("schedule-editor-repeating"));

    daily->hourField()->selectAll();
    QTest::keyClicks(daily->hourField(), "30");
    QTest::keyClick(daily->hourField(), Qt::Key_Return);
    EXPECT_EQ(controller->schedules().back().hour, 23);
    EXPECT_EQ(daily->hourField()->text(), "23");
    EXPECT_EQ(daily->timeLabel()->text(), "23:00");
    daily->minuteField()->selectAll();
    QTest::keyClicks(daily->minuteField(), "soon");
    QTest::keyClick(daily->minuteField(), Qt::Key_Return);
    EXPECT_EQ(daily->minuteField()->text(), "0") << "unreadable text changes nothing";

    QTest::mouseClick(daily->dayButton(0), Qt::LeftButton);
    EXPECT_EQ(daily->daysLabel()->text(), "Mon, Tue, Wed, Thu, Fri, Sat");
    daily->enabledToggle()->click();
    EXPECT_EQ(daily->bellLabel()->toolTip(), "Alarm off");
    QTest::mouseClick(daily->kindButton(ScheduleKind::single), Qt::LeftButton);
    EXPECT_TRUE(daily->isEditorPresented()) << "the row keeps its editor while the list re-sorts";
    EXPECT_TRUE(daily->dateField()->isVisible());
    EXPECT_FALSE(daily->weekdayPicker()->isVisible());
    for (int round = 0; round < 3; ++round) {
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(daily->editor()->height(), daily->editor()->sizeHint().height()) << "the popover fits what it shows";
    saveShot(daily->editor(), QStringLiteral("schedule-editor-once"));
    daily->editor()->hide();

    // Deleting asks in the window's alert, where Return cancels.
    WindowAlertView alerts(window->alerts(), view.get());
    QTest::mouseClick(view->row(2)->deleteButton(), Qt::LeftButton);
    answerQuestion(alerts, QStringLiteral("Cancel"));
    EXPECT_NE(view->row(2), nullptr);
    QTest::mouseClick(view->row(2)->deleteButton(), Qt::LeftButton);
    pressReturnOnQuestion(alerts);
    EXPECT_NE(view->row(2), nullptr);
    QTest::mouseClick(view->row(2)->deleteButton(), Qt::LeftButton);
    answerQuestion(alerts, QStringLiteral("Delete"));
    EXPECT_EQ(view->row(2), nullptr);
}

TEST_F(ScheduleSectionViewTest, AnOpenEditorFollowsItsRowWhenANewHourReSortsTheList)
{
    load({ recurringSchedule(1, 9, 8, 0, 127), recurringSchedule(6, 9, 9, 0, 127) });
    ScheduleCompactRow* row = view->row(1);
    QTest::mouseClick(row->editButton(), Qt::LeftButton);
    ASSERT_TRUE(row->isEditorPresented());
    row->hourField()->selectAll();
    QTest::keyClicks(row->hourField(), "10");
    QTest::keyClick(row->hourField(), Qt::Key_Return);
    for (int round = 0; round < 3; ++round) {
        QCoreApplication::processEvents();
    }
    ASSERT_EQ(shownTimes(), (QStringList { "09:00", "10:00" }));
    ASSERT_TRUE(row->isEditorPresented());
    const QRect button(row->editButton()->mapToGlobal(QPoint(0, 0)), row->editButton()->size());
    const QRect popover = row->editor()->frameGeometry();
    EXPECT_TRUE(popover.top() >= button.bottom() || popover.bottom() <= button.top())
        << "next to its own button, " << popover.y() << " against " << button.y();
    EXPECT_TRUE(popover.left() <= button.left() && popover.right() >= button.right());
}

TEST_F(ScheduleSectionViewTest, TheEditorOpensInsideTheScreenNextToItsButton)
{
    load({ recurringSchedule(1, 9, 8, 0, 127) });
    view->resize(620, 100);
    const QRect screen = view->screen()->availableGeometry();
    // Under the button while there is room; above it near the bottom edge; moved in from the sides.
    const struct {
        QPoint corner;
        bool above;
    } cases[] = {
        { screen.topLeft(), false },
        { QPoint(screen.right() - view->width() + 1, screen.top()), false },
        { QPoint(screen.right() - view->width() + 1, screen.bottom() - view->height() + 1), true },
    };
    for (const auto& c : cases) {
        view->move(c.corner);
        QCoreApplication::processEvents();
        ScheduleCompactRow* row = view->row(1);
        const QRect button(row->editButton()->mapToGlobal(QPoint(0, 0)), row->editButton()->size());
        if (c.above) {
            // Only the flip keeps it on screen.
            ASSERT_GT(button.bottom() + row->editor()->sizeHint().height(), screen.bottom());
        }
        row->presentEditor();
        const QRect popover = row->editor()->frameGeometry();
        EXPECT_TRUE(screen.contains(popover)) << popover.x() << "," << popover.y();
        if (c.above) {
            EXPECT_LE(popover.bottom(), button.top());
        } else {
            EXPECT_GE(popover.top(), button.bottom());
        }
        EXPECT_TRUE(popover.left() <= button.left() && popover.right() >= button.right()) << "it spans its button";
        row->editor()->hide();
    }
}

TEST_F(ScheduleSectionViewTest, StartTagsErrorsAndAManySchedulesList)
{
    std::vector<ScheduledRoutine> many;
    for (std::uint32_t id = 1; id <= 40; ++id) {
        many.push_back(
            recurringSchedule(id, 9, id % 24, (id * 7) % 60, static_cast<std::int64_t>(id % 128), id % 3 != 0));
    }
    load(many);
    ScheduleSectionPresenter::StartTags tags;
    for (std::uint32_t id = 1; id <= 5; ++id) {
        tags.assigned.push_back({ id, "04 0" + std::to_string(id), "Start tag with a long name " + std::to_string(id) });
    }
    tags.available = [] { return std::vector<TagInfo> { { 9, "04 09", "Hall" } }; };
    tags.canAdd = true;
    tags.addHelp = "Choose a saved tag that starts this routine.";
    std::vector<std::uint32_t> removals;
    tags.requestRemove = [&](std::uint32_t id) { removals.push_back(id); };
    view->model().setStartTags(tags);
    EXPECT_EQ(view->rows().size(), 40u);
    EXPECT_EQ(view->findChild<QAbstractScrollArea*>(), nullptr);
    EXPECT_TRUE(view->addStartTagButton()->isEnabled());

    // Long names are shortened with an ellipsis that keeps them apart; the whole name is the tooltip.
    const auto chips = view->startTagChips();
    ASSERT_EQ(chips.size(), 5u);
    QStringList shown;
    for (std::size_t index = 0; index < chips.size(); ++index) {
        auto* name = chips[index]->findChild<ElidedLabel*>();
        ASSERT_NE(name, nullptr);
        const QString full = QString::fromStdString(tags.assigned[index].name);
        EXPECT_EQ(chips[index]->toolTip(), full);
        EXPECT_TRUE(name->shownText().contains(QChar(0x2026))) << name->shownText().toStdString();
        EXPECT_FALSE(shown.contains(name->shownText())) << name->shownText().toStdString();
        shown << name->shownText();
    }
    // The chips flow into as many columns of at least 180 points as the width holds.
    const auto chipRows = [&] {
        QCoreApplication::processEvents();
        std::set<int> tops;
        for (QWidget* chip : view->startTagChips()) {
            tops.insert(chip->y());
            EXPECT_GE(chip->width(), std::min(180, view->width()));
        }
        return tops.size();
    };
    EXPECT_EQ(chipRows(), 2u);
    saveShot(view.get(), QStringLiteral("schedule-section-large"));
    view->resize(1000, 520);
    EXPECT_EQ(chipRows(), 1u);
    view->resize(300, 520);
    EXPECT_EQ(chipRows(), 5u);
    view->resize(620, 520);

    QTest::mouseClick(view->addScheduleButton(), Qt::LeftButton);
    EXPECT_EQ(view->rows().size(), 41u);
    EXPECT_EQ(window->state().selectedScheduleId, 41u);

    view->model().showNewRoutineDraft();
    EXPECT_FALSE(view->addScheduleButton()->isEnabled());
    EXPECT_FALSE(view->addStartTagButton()->isEnabled());
    EXPECT_TRUE(view->rows().empty());
    saveShot(view.get(), QStringLiteral("schedule-section-new-routine"));
}

class WifiViewTest : public ::testing::Test {
protected:
    WifiSettingsPresenter::Inputs inputs;
    std::vector<std::string> calls;
    std::unique_ptr<ContentViewPresenter> window;

    void SetUp() override { window = std::make_unique<ContentViewPresenter>(ContentViewPresenter::Actions {}); }

    WifiSettingsPresenter* model()
    {
        WifiSettingsPresenter::Operations ops;
        ops.scanWifiNetworks = [this] { calls.push_back("scan"); };
        ops.validateAndSaveWifiCredential
            = [this](const std::string& ssid, const std::string&) { calls.push_back("validate " + ssid); };
        ops.removeWifiCredential = [this](const std::string& ssid) { calls.push_back("remove " + ssid); };
        ops.resetWifiRequestState = [this] { calls.push_back("reset"); };
        return new WifiSettingsPresenter(*window, inputs, std::move(ops));
    }
};

TEST_F(WifiViewTest, SectionListsSavedNetworksAndRemovingAsks)
{
    inputs.wifiCredentialCapacity = 5;
    inputs.savedWifiCredentials = { { "Home", 1, 1 }, { "Office", 1, 0 }, { "Cabin", 0, 0 } };
    inputs.wifiSettingsMessage = "Tavrik synchronized its clock over Home.";
    WifiSettingsSection section(model());
    section.resize(520, 420);
    section.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&section));
    EXPECT_EQ(section.list()->count(), 3);
    EXPECT_TRUE(section.messageLabel()->isVisible());
    // The list taking the focus (as when the button that had it is disabled) chooses nothing.
    section.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&section));
    section.list()->setFocus();
    QCoreApplication::processEvents();
    EXPECT_TRUE(section.list()->hasFocus());
    EXPECT_FALSE(window->state().selectedWifiCredentialSsid.has_value());
    // Arrows choose, as clicks do.
    QTest::keyClick(section.list(), Qt::Key_Down);
    EXPECT_TRUE(window->state().selectedWifiCredentialSsid.has_value());
    section.list()->setCurrentRow(1);
    EXPECT_EQ(window->state().selectedWifiCredentialSsid, "Office");
    EXPECT_TRUE(section.removeButton()->isEnabled());
    saveShot(&section, QStringLiteral("wifi-section"));

    WindowAlertView alerts(window->alerts(), &section);
    section.removeButton()->click();
    answerQuestion(alerts, QStringLiteral("Cancel"));
    EXPECT_EQ(window->state().selectedWifiCredentialSsid, "Office");
    section.removeButton()->click();
    pressReturnOnQuestion(alerts);
    EXPECT_EQ(window->state().selectedWifiCredentialSsid, "Office");
    EXPECT_TRUE(calls.empty());
    section.removeButton()->click();
    answerQuestion(alerts, QStringLiteral("Remove"));
    EXPECT_EQ(calls, std::vector<std::string> { "remove Office" });
    EXPECT_FALSE(window->state().selectedWifiCredentialSsid.has_value());

    inputs.savedWifiCredentials.clear();
    section.model().observe(inputs);
    EXPECT_FALSE(section.removeButton()->isEnabled());
    EXPECT_EQ(section.list()->item(0)->text(), "No saved Wi-Fi networks");
    saveShot(&section, QStringLiteral("wifi-section-empty"));
}

TEST_F(WifiViewTest, EditorPicksScannedNetworksAndShowsAFailure)
{
    WifiSettingsPresenter* wifi = model();
    wifi->beginAddingWifiCredential();
    for (int index = 0; index < 25; ++index) {
        inputs.nearbyWifiNetworks.push_back({ "Network " + std::to_string(index), -30 - index,
            index % 4 == 0 ? "open" : "wpa2", index % 5 == 3 ? 0 : 1 });
    }
    wifi->observe(inputs);
    window->modify([](ContentViewPresenter::State& state) { state.wifiDraftSsid = "Network 0"; });
    WifiCredentialEditorView editor(wifi);
    editor.resize(430, 300);
    editor.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&editor));
    EXPECT_TRUE(editor.networkPicker()->isVisible());
    EXPECT_EQ(editor.networkPicker()->count(), 25);
    EXPECT_EQ(editor.networkPicker()->currentText(), "Network 0");
    auto* items = qobject_cast<QStandardItemModel*>(editor.networkPicker()->model());
    EXPECT_FALSE(items->item(3)->isEnabled());
    EXPECT_TRUE(items->item(2)->isEnabled());
    saveShot(&editor, QStringLiteral("wifi-editor-picker"));

    QTest::mouseClick(editor.otherNetworkButton(), Qt::LeftButton);
    EXPECT_TRUE(editor.networkNameField()->isVisible());
    QTest::keyClicks(editor.networkNameField(), "Hidden");
    QTest::keyClicks(editor.passwordField(), "wrong");
    QTest::mouseClick(editor.saveButton(), Qt::LeftButton);
    EXPECT_EQ(calls.back(), "validate Hidden");

    // A request the controller refused at once leaves its text in the sheet, without progress.
    inputs.wifiSettingsMessage = "Wi-Fi management requires secure Bluetooth.";
    wifi->observe(inputs);
    auto* status = editor.findChild<QLabel*>(QStringLiteral("wifiEditorActivity"));
    ASSERT_NE(status, nullptr);
    EXPECT_TRUE(status->isVisible());
    EXPECT_EQ(status->text(), QStringLiteral("Wi-Fi management requires secure Bluetooth."));
    for (const QProgressBar* bar : editor.findChildren<QProgressBar*>()) {
        EXPECT_FALSE(bar->isVisible());
    }
    inputs.wifiSettingsMessage = "Tavrik couldn’t join Hidden.";

    inputs.wifiValidationFailure = WifiValidationFailure("Hidden", "Tavrik couldn\u2019t join Hidden.");
    inputs.failedWifiCandidate = WifiCandidate { "Hidden", "wrong" };
    wifi->observe(inputs);
    wifi->typePassword("wrong");
    EXPECT_TRUE(editor.failureLabel()->isVisible());
    EXPECT_FALSE(editor.saveButton()->isVisible());
    saveShot(&editor, QStringLiteral("wifi-editor-failure"));
}

TEST_F(WifiViewTest, EscapeOnTheSheetCancelsAndTheNetworkNameIsOneFieldHigh)
{
    inputs.wifiCredentialCapacity = 5;
    inputs.savedWifiCredentials = { { "Home", 1, 1 } };
    window->modify([](ContentViewPresenter::State& state) { state.selectedWifiCredentialSsid = "Home"; });
    WifiSettingsPresenter* wifi = model();
    wifi->beginEditingSelectedWifiCredential();
    calls.clear();
    // Hosted as the window hosts it: a dialog around the editor.
    QDialog sheet;
    auto* layout = new QVBoxLayout(&sheet);
    auto* editor = new WifiCredentialEditorView(wifi, &sheet);
    layout->addWidget(editor);
    sheet.open();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&sheet));
    auto* name = editor->findChild<QLineEdit*>(QStringLiteral("fixedNetworkName"));
    ASSERT_NE(name, nullptr);
    EXPECT_TRUE(name->isVisible());
    EXPECT_EQ(name->text(), "Home");
    EXPECT_EQ(name->height(), editor->passwordField()->height());
    saveShot(&sheet, QStringLiteral("wifi-editor-edit"));

    QTest::keyClick(editor->passwordField(), Qt::Key_Escape);
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_EQ(calls, std::vector<std::string> { "reset" }) << "Escape resets what Cancel resets";
    EXPECT_FALSE(window->state().showingWifiCredentialEditor);

    // Closing it from the program after a save is no user's Cancel.
    wifi->beginEditingSelectedWifiCredential();
    calls.clear();
    sheet.open();
    window->modify([](ContentViewPresenter::State& state) { state.showingWifiCredentialEditor = false; });
    sheet.close();
    EXPECT_TRUE(calls.empty());
}

} // namespace
} // namespace tavrik::test
