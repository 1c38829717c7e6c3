#include "TavrikCore/Support/Clock.hpp"
#include "TavrikCore/Support/RandomSource.hpp"
#include "TavrikLink/Support/SettingsKeyValueStore.hpp"
#include "TavrikLink/Ui/ContentView.hpp"
#include "TavrikLink/Ui/LogDrawerView.hpp"
#include "TavrikLink/Ui/TavrikLinkApplication.hpp"
#include "TavrikLink/Ui/TavrikLinkMainWindow.hpp"
#include "TavrikLink/Views/ContentViewPresenter.hpp"
#include "TavrikLink/Views/WindowAlertQueue.hpp"
#include "TavrikPlatform/Support/QtScheduler.hpp"
#include "tests/controller/ControllerTestSupport.hpp"
#include "tests/support/qt/LocalLinkSimulator.hpp"
#include "tests/support/qt/QtTestSupport.hpp"

#include <QAction>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <chrono>

namespace tavrik::test {
namespace {

using namespace std::chrono_literals;

constexpr int deadlineMs = 30000;

enum class QuitBy { ctrlQ, closeButton };

struct QuitCase {
    const char* name;
    bool demo;
    QuitBy way;
};

void PrintTo(const QuitCase& value, std::ostream* out)
{
    *out << value.name;
}

// The program as main() builds it, in this process so that the keyboard and the close button reach
// its window: the demo or a device on the local link over the given settings, then the teardown
// main() ends with. In the sanitizer build this is the whole window's life under them.
class ProgramWindowTest : public ::testing::Test {
protected:
    QTemporaryDir folder;
    QtScheduler scheduler;
    ManualScheduler adapterTime;
    FakeBleCentral central { adapterTime };
    SystemRandomSource random;
    InMemoryKeyValueStore defaults;
    // A settings file of the test's own, when it has one; it outlives the program over it.
    std::unique_ptr<SettingsKeyValueStore> settingsFile;
    LocalLinkSimulator simulator { std::filesystem::path(folder.path().toStdString()) / "Local Link" };
    std::unique_ptr<TavrikBleCentral> controller;
    std::unique_ptr<TavrikLinkApplication> app;
    std::vector<int> exits;

    void TearDown() override
    {
        app.reset();
        controller.reset();
        simulator.stop();
    }

    void launch(bool demo, KeyValueStore& store, SettingsKeyValueStore* settings = nullptr)
    {
        simulator.data.tags = { { 3, "04 A1", "Desk" }, { 4, "04 A2", "Door" } };
        simulator.data.routines = { RoutinePayload { 1, "Morning", {}, {}, { 3 } } };
        if (!demo) {
            simulator.run("window", 100ms, [] { return std::chrono::system_clock::now(); });
        }
        controller = std::make_unique<TavrikBleCentral>(TavrikBleCentral::Environment {
            central, scheduler, systemClock(), random, store, simulator.directory(), true, {} });
        if (demo) {
            controller->beginReviewDemo();
        }
        app = std::make_unique<TavrikLinkApplication>(AppOptions { .demo = demo },
            TavrikLinkApplication::Environment { scheduler, TavrikResources(QStringLiteral("/nonexistent/bin")),
                [this](int status) { exits.push_back(status); }, false, controller.get(), &systemClock(), nullptr,
                settings });
        app->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&app->mainWindow()));
        ASSERT_TRUE(processEventsUntil([&] { return controller->hasLoadedData(); }, deadlineMs));
    }

    void open(
        const std::function<void(ContentViewPresenter::State&)>& change, ContentViewPresenter::DetailContent expected)
    {
        ContentViewPresenter& window = app->contentView()->presenter();
        window.modify(change);
        QCoreApplication::processEvents();
        EXPECT_EQ(window.detailContent(), expected);
        EXPECT_NE(app->contentView()->detailPane(), nullptr);
    }
};

class ProgramQuitTest : public ProgramWindowTest, public ::testing::WithParamInterface<QuitCase> { };

TEST_P(ProgramQuitTest, OpensEveryPaneThenQuitsAfterTellingTheDevice)
{
    const QuitCase& quit = GetParam();
    launch(quit.demo, defaults);
    ASSERT_FALSE(HasFatalFailure());
    TavrikLinkMainWindow& mainWindow = app->mainWindow();
    ASSERT_FALSE(controller->routineSummaries().empty());
    ASSERT_FALSE(controller->tags().empty());

    using Pane = ContentViewPresenter::SidebarPane;
    using Detail = ContentViewPresenter::DetailContent;
    using State = ContentViewPresenter::State;
    const std::uint32_t routineId = controller->routineSummaries().front().id;
    const std::uint32_t tagId = controller->tags().front().id;
    open([&](State& state) { state.selectedRoutineId = routineId; }, Detail::routinePane);
    open(
        [&](State& state) {
            state.selectedPane = Pane::tags;
            state.selectedTagId = tagId;
        },
        Detail::tags);
    open([](State& state) { state.selectedPane = Pane::firmware; }, Detail::firmware);
    open([](State& state) { state.selectedPane = Pane::settings; }, Detail::settings);
    open([](State& state) { state.selectedPane = Pane::routines; }, Detail::routinePane);
    ASSERT_TRUE(mainWindow.logDrawerAction()->isEnabled());
    mainWindow.logDrawerAction()->trigger();
    QCoreApplication::processEvents();
    EXPECT_TRUE(app->contentView()->logDrawer()->isVisible());

    if (quit.way == QuitBy::ctrlQ) {
        QTest::keyClick(&mainWindow, Qt::Key_Q, Qt::ControlModifier);
    } else {
        EXPECT_FALSE(mainWindow.close()) << "the window stays until the device is told";
    }
    ASSERT_TRUE(processEventsUntil([&] { return !exits.empty(); }, deadlineMs));
    EXPECT_EQ(exits, std::vector<int>({ 0 }));
    if (!quit.demo) {
        simulator.pump();
        EXPECT_EQ(std::ranges::count(simulator.receivedCommands(), "system:disconnect"), 1);
    }
    // As main() returns: the window and everything in it go before the controller.
    app.reset();
}

INSTANTIATE_TEST_SUITE_P(Program, ProgramQuitTest,
    ::testing::Values(QuitCase { "DemoByCtrlQ", true, QuitBy::ctrlQ },
        QuitCase { "DemoByClosingTheWindow", true, QuitBy::closeButton },
        QuitCase { "DeviceByCtrlQ", false, QuitBy::ctrlQ },
        QuitCase { "DeviceByClosingTheWindow", false, QuitBy::closeButton }),
    [](const auto& info) { return std::string(info.param.name); });

// Settings that cannot be saved are said once, in the log and in the window, however often they change.
TEST_F(ProgramWindowTest, ASettingsFileThatCannotBeWrittenIsToldOnceInTheLogAndTheWindow)
{
    QFile blocker(folder.filePath(QStringLiteral("config")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    const QString file = folder.filePath(QStringLiteral("config/Tavrik Link.ini"));
    settingsFile = std::make_unique<SettingsKeyValueStore>(file);
    SettingsKeyValueStore& settings = *settingsFile;
    launch(false, settings, &settings);
    ASSERT_FALSE(HasFatalFailure());

    for (const bool mute : { true, false, true }) {
        controller->setMuteNonAlarmSounds(mute);
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(settings.boolValue("tavrik.muteNonAlarmSounds"), true) << "kept for the run";
    const std::string told = "Settings: " + file.toStdString() + " cannot be written";
    EXPECT_EQ(std::ranges::count_if(
                  controller->logItems(), [&](const TavrikLogEntry& entry) { return entry.text.starts_with(told); }),
        1);
    const WindowAlertQueue& alerts = app->contentView()->presenter().alerts();
    EXPECT_EQ(alerts.keys(), std::vector<std::string>({ "settingsFile" }));
    ASSERT_NE(alerts.current(), nullptr);
    EXPECT_EQ(alerts.current()->title, "Settings Not Saved");
    EXPECT_TRUE(alerts.current()->message.starts_with(told));
}

} // namespace
} // namespace tavrik::test
