#include "TavrikCore/Support/Clock.hpp"
#include "TavrikCore/Support/RandomSource.hpp"
#include "TavrikLink/Ui/ContentView.hpp"
#include "TavrikLink/Ui/SettingsPane.hpp"
#include "TavrikLink/Ui/SidebarView.hpp"
#include "TavrikLink/Ui/TavrikLinkApplication.hpp"
#include "TavrikLink/Ui/TavrikLinkMainWindow.hpp"
#include "TavrikLink/Views/BackupFileActions.hpp"
#include "TavrikLink/Views/BackupFilePanel.hpp"
#include "TavrikLink/Views/SettingsPanePresenter.hpp"
#include "TavrikLink/Views/WindowPanes.hpp"
#include "TavrikPlatform/Support/QtScheduler.hpp"
#include "tests/controller/ControllerTestSupport.hpp"
#include "tests/support/qt/LocalLinkSimulator.hpp"
#include "tests/support/qt/QtTestSupport.hpp"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <chrono>

namespace tavrik::test {
namespace {

using namespace std::chrono_literals;

constexpr int deadlineMs = 30000;

// Answers the open dialog with one file and records what was asked.
class ChosenFilePanel final : public BackupFilePanel {
public:
    QString file;
    int opened = 0;

    std::optional<QString> chooseSaveLocation(const SaveRequest&) override { return std::nullopt; }
    std::optional<QString> chooseFileToOpen(const OpenRequest&) override
    {
        ++opened;
        return file;
    }
};

QStringList sidebarLabels(ContentView& view)
{
    QStringList labels;
    for (const auto& row : view.sidebar()->rows()) {
        labels << QString::fromStdString(row.label);
    }
    return labels;
}

void writeFile(const QString& path, const std::string& text)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text.data(), static_cast<qint64>(text.size()));
}

// The program as main() builds it, in this process: the real controller on the real event loop and
// clock, polling real link files in a temporary folder where the simulator plays the device.
class LocalLinkWindowTest : public ::testing::Test {
protected:
    QTemporaryDir folder;
    QtScheduler scheduler;
    ManualScheduler adapterTime;
    FakeBleCentral central { adapterTime };
    SystemRandomSource random;
    InMemoryKeyValueStore defaults;
    LocalLinkSimulator simulator { std::filesystem::path(folder.path().toStdString()) / "Local Link" };
    std::unique_ptr<TavrikBleCentral> controller;
    // The window's open dialog.
    ChosenFilePanel panel;
    std::unique_ptr<TavrikLinkApplication> app;

    void TearDown() override
    {
        app.reset();
        controller.reset();
        simulator.stop();
    }

    ContentView& openLoaded()
    {
        simulator.data.tags = { { 3, "04 A1", "Desk" }, { 4, "04 A2", "Door" } };
        simulator.data.routines = { RoutinePayload { 1, "Morning", {}, {}, {} } };
        simulator.run("window", 100ms, [] { return std::chrono::system_clock::now(); });
        controller = std::make_unique<TavrikBleCentral>(TavrikBleCentral::Environment {
            central, scheduler, systemClock(), random, defaults, simulator.directory(), true, {} });
        app = std::make_unique<TavrikLinkApplication>(AppOptions {},
            TavrikLinkApplication::Environment { scheduler, TavrikResources(QStringLiteral("/nonexistent/bin")),
                [](int) {}, false, controller.get(), &systemClock(), &panel });
        app->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&app->mainWindow()));
        EXPECT_TRUE(processEventsUntil([&] { return controller->hasLoadedData(); }, deadlineMs));
        QCoreApplication::processEvents();
        return *app->contentView();
    }

    bool waitForCommand(const std::string& command)
    {
        return processEventsUntil(
            [&] { return std::ranges::count(simulator.receivedCommands(), command) > 0; }, deadlineMs);
    }
};

TEST_F(LocalLinkWindowTest, LoadsIntoTheWindowSendsASettingsEditAndRefusesAnImportMeantForTheSimulator)
{
    ContentView& view = openLoaded();
    ASSERT_TRUE(controller->virtualTavrikConnected());
    EXPECT_EQ(view.mainContent()->objectName(), "navigationSplit");
    EXPECT_EQ(sidebarLabels(view),
        (QStringList { "Routines", "Morning", "Add Routine", "Tags", "Desk", "Door", "Add Tag", "Firmware", "Settings" }));

    SettingsPanePresenter settings(*controller);
    SettingsPane pane(settings);
    pane.show();
    ASSERT_FALSE(pane.muteToggle()->isChecked());
    QTest::mouseClick(pane.muteToggle(), Qt::LeftButton, {}, QPoint(4, pane.muteToggle()->height() / 2));
    ASSERT_TRUE(waitForCommand("settings:update muteNonAlarmSounds=1"));
    EXPECT_TRUE(controller->muteNonAlarmSounds());

    // The simulator takes backups through its own window; the import says so and sends nothing.
    QTemporaryDir backups;
    panel.file = backups.filePath(QStringLiteral("tavrik-data.json"));
    const Data exported = controller->exportSyncData();
    writeFile(panel.file, std::string(exported.begin(), exported.end()));
    const std::size_t before = simulator.received().size();
    // The File menu's "Import Data..." item.
    app->mainWindow().importDataAction()->trigger();
    const BackupFileActions& actions = view.panes().backup();
    ASSERT_TRUE(processEventsUntil([&] { return actions.dataTransferNotice().has_value(); }, deadlineMs));
    EXPECT_EQ(panel.opened, 1);
    EXPECT_EQ(view.presenter().state().dataTransferNotice->title, "Import Failed");
    EXPECT_EQ(actions.dataTransferNotice()->title, "Import Failed");
    EXPECT_TRUE(actions.dataTransferNotice()->message.contains(
        QStringLiteral("Use Open backup in Tavrik Simulator to import routines and tags.")))
        << actions.dataTransferNotice()->message.toStdString();
    // A later edit marks the point up to which a restore would have arrived.
    QTest::mouseClick(pane.muteToggle(), Qt::LeftButton, {}, QPoint(4, pane.muteToggle()->height() / 2));
    ASSERT_TRUE(waitForCommand("settings:update muteNonAlarmSounds=0"));
    for (std::size_t index = before; index < simulator.received().size(); ++index) {
        EXPECT_EQ(simulator.received()[index].text().find("restore"), std::string::npos)
            << simulator.received()[index].text();
    }
}

TEST_F(LocalLinkWindowTest, ATagRenamedInTheWindowReachesTheSimulator)
{
    ContentView& view = openLoaded();
    ASSERT_TRUE(controller->virtualTavrikConnected());
    view.sidebar()->activateRow(static_cast<int>(sidebarLabels(view).indexOf("Door")));
    QLineEdit* name = nullptr;
    ASSERT_TRUE(processEventsUntil(
        [&] {
            const auto fields = view.findChildren<QLineEdit*>(QStringLiteral("tagNameField"));
            const auto shown = std::ranges::find_if(fields, [](QLineEdit* field) { return field->isVisible(); });
            name = shown == fields.end() ? nullptr : *shown;
            return name != nullptr && name->text() == "Door";
        },
        deadlineMs))
        << "the tag pane did not open on the tag";
    name->setFocus();
    QTest::keyClick(name, Qt::Key_Home);
    QTest::keyClicks(name, "Back ");
    ASSERT_TRUE(processEventsUntil(
        [&] {
            const auto commands = simulator.receivedCommands();
            return std::ranges::any_of(commands, [](const std::string& command) {
                return command.starts_with("tag:") && command.find("id=4") != std::string::npos
                    && command.find("Back Door") != std::string::npos;
            });
        },
        deadlineMs))
        << "the simulator received no rename";
    EXPECT_TRUE(std::ranges::any_of(controller->tags(), [](const TagInfo& tag) { return tag.name == "Back Door"; }));
}

// Over Bluetooth (a fake adapter and board on virtual time) the same window takes the import to the
// device as a restore.
class BluetoothWindowTest : public ControllerTest {
protected:
    ChosenFilePanel panel;
    std::unique_ptr<TavrikLinkApplication> app;

    ContentView& open()
    {
        makeController();
        app = std::make_unique<TavrikLinkApplication>(AppOptions {},
            TavrikLinkApplication::Environment { scheduler, TavrikResources(QStringLiteral("/nonexistent/bin")),
                [](int) {}, false, controller.get(), &clock, &panel });
        app->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&app->mainWindow()));
        settle();
        return *app->contentView();
    }

    void TearDown() override { app.reset(); }
};

TEST_F(BluetoothWindowTest, SettingsEditAndImportedBackupReachTheDeviceExactly)
{
    FakeTavrik& tavrik = addDevice();
    tavrik.data.tags = { { 3, "04 A1", "Desk" }, { 4, "04 A2", "Door" } };
    tavrik.data.routines = { RoutinePayload { 1, "Morning", {}, {}, {} } };
    ContentView& view = open();
    ASSERT_TRUE(controller->hasLoadedData());
    EXPECT_TRUE(sidebarLabels(view).contains("Door"));

    SettingsPanePresenter settings(*controller);
    SettingsPane pane(settings);
    pane.show();
    QTest::mouseClick(pane.muteToggle(), Qt::LeftButton, {}, QPoint(4, pane.muteToggle()->height() / 2));
    scheduler.advance(200ms);
    settle();
    EXPECT_EQ(std::ranges::count(tavrik.receivedCommands(), "settings:update muteNonAlarmSounds=1"), 1);

    // A backup in which one tag was renamed.
    const Data exported = controller->exportSyncData();
    Json backup = parseJson(std::string(exported.begin(), exported.end()));
    std::string text = dumpJson(backup);
    const std::string from = "\"Door\"";
    ASSERT_NE(text.find(from), std::string::npos) << text;
    text.replace(text.find(from), from.size(), "\"Back door\"");
    QTemporaryDir backups;
    panel.file = backups.filePath(QStringLiteral("tavrik-data.json"));
    writeFile(panel.file, text);

    app->mainWindow().importDataAction()->trigger();
    settle();
    const BackupFileActions& actions = view.panes().backup();
    ASSERT_TRUE(processEventsUntil([&] { return !actions.isImporting(); }));
    settle();
    EXPECT_EQ(panel.opened, 1);
    ASSERT_TRUE(actions.dataTransferNotice());
    EXPECT_EQ(actions.dataTransferNotice()->title, "Import Started")
        << actions.dataTransferNotice()->message.toStdString();
    ASSERT_TRUE(tavrik.lastRestore()) << "the device received no restore";
    EXPECT_EQ(tavrik.lastRestore()->tags, (std::vector<TagInfo> { { 3, "04 A1", "Desk" }, { 4, "04 A2", "Back door" } }));
    EXPECT_EQ(controller->statusText(), "Imported data saved");
    QCoreApplication::processEvents();
    EXPECT_TRUE(sidebarLabels(view).contains("Back door"));
}

} // namespace
} // namespace tavrik::test
