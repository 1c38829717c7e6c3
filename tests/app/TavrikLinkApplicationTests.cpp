#include "TavrikLink/Ui/TavrikLinkApplication.hpp"
#include "TavrikLink/Ui/TavrikLinkMainWindow.hpp"
#include "TavrikLink/Views/TavrikViewCommands.hpp"
#include "tests/support/ManualScheduler.hpp"
#include "tests/support/qt/QtTestSupport.hpp"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace tavrik::test {
namespace {

struct ApplicationFixture : ::testing::Test {
    ManualScheduler scheduler;
    QTemporaryDir installDir;
    std::vector<int> exits;

    std::unique_ptr<TavrikLinkApplication> make(AppOptions options = {}, bool handleSignals = false)
    {
        return std::make_unique<TavrikLinkApplication>(options,
            TavrikLinkApplication::Environment { scheduler, TavrikResources(installDir.filePath("bin")),
                [this](int status) { exits.push_back(status); }, handleSignals });
    }
};

QStringList menuTitles(QMainWindow& window)
{
    QStringList titles;
    for (QAction* action : window.menuBar()->actions()) {
        titles << action->text();
    }
    return titles;
}

QStringList itemTexts(QMenu* menu)
{
    QStringList texts;
    for (QAction* action : menu->actions()) {
        texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
    }
    return texts;
}

TEST_F(ApplicationFixture, OpensTheSingleWindowWithItsMenusAndShortcuts)
{
    auto app = make(AppOptions { .demo = true });
    EXPECT_TRUE(app->options().demo);
    EXPECT_FALSE(QApplication::quitOnLastWindowClosed());

    TavrikLinkMainWindow& window = app->mainWindow();
    app->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(window.windowTitle(), "Tavrik Link");
    EXPECT_EQ(window.size(), QSize(900, 648));
    EXPECT_NE(window.centralWidget(), nullptr);

    EXPECT_EQ(menuTitles(window), QStringList({ "&File", "&View" }));
    const QList<QAction*> menus = window.menuBar()->actions();
    EXPECT_EQ(itemTexts(menus[0]->menu()), QStringList({ "Import Data...", "Export Data...", "-", "Quit" }));
    EXPECT_EQ(itemTexts(menus[1]->menu()), QStringList({ "Show Logs" }));
    EXPECT_EQ(window.importDataAction()->shortcut(), QKeySequence("Ctrl+Shift+I"));
    EXPECT_EQ(window.exportDataAction()->shortcut(), QKeySequence("Ctrl+Shift+E"));
    EXPECT_EQ(window.logDrawerAction()->shortcut(), QKeySequence("Ctrl+Shift+L"));
    EXPECT_EQ(window.quitAction()->shortcut(), QKeySequence("Ctrl+Q"));
    EXPECT_TRUE(window.importDataAction()->isEnabled());
    EXPECT_TRUE(window.exportDataAction()->isEnabled());
    EXPECT_FALSE(window.logDrawerAction()->isEnabled()) << "no drawer toggle published yet";

    // Import and export only announce themselves; the root view runs the flows.
    QSignalSpy imports(&window, &TavrikLinkMainWindow::importDataCommand);
    QSignalSpy exports(&window, &TavrikLinkMainWindow::exportDataCommand);
    QTest::keyClick(&window, Qt::Key_I, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(&window, Qt::Key_E, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(imports.count(), 1);
    EXPECT_EQ(exports.count(), 1);

    // The quit waits for the installed shutdown, then exits with 0.
    std::function<void()> completion;
    int shutdowns = 0;
    app->quitSequence().setPrepareForTermination([&](std::function<void()> done) {
        ++shutdowns;
        completion = std::move(done);
    });
    window.quitAction()->trigger();
    QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(window.close()) << "the close button asks for the quit and keeps the window";
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(shutdowns, 1);
    EXPECT_TRUE(exits.empty());
    completion();
    EXPECT_EQ(exits, std::vector<int>({ 0 }));
}

TEST_F(ApplicationFixture, TheLogItemFollowsWhatTheWindowPublishes)
{
    auto app = make();
    TavrikLinkMainWindow& window = app->mainWindow();
    app->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    bool expanded = false;
    TavrikViewCommands& commands = app->viewCommands();
    commands.publish(
        [&] {
            expanded = !expanded;
            commands.setLogDrawerExpanded(expanded);
        },
        false);
    EXPECT_TRUE(window.logDrawerAction()->isEnabled());
    EXPECT_EQ(window.logDrawerAction()->text(), "Show Logs");

    QTest::keyClick(&window, Qt::Key_L, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(expanded);
    EXPECT_EQ(window.logDrawerAction()->text(), "Hide Logs");
    window.logDrawerAction()->trigger();
    EXPECT_FALSE(expanded);
    EXPECT_EQ(window.logDrawerAction()->text(), "Show Logs");

    // The window withdraws its toggle (it went away): an open drawer no longer shows as such.
    commands.setLogDrawerExpanded(true);
    commands.withdraw();
    EXPECT_FALSE(window.logDrawerAction()->isEnabled());
    EXPECT_EQ(window.logDrawerAction()->text(), "Show Logs");
    QTest::keyClick(&window, Qt::Key_L, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_FALSE(expanded);
}

// A root view that withdraws its toggle as it goes, as the window's content does.
class WithdrawingRootView : public QWidget {
public:
    WithdrawingRootView(TavrikViewCommands& commands, bool& windowWholeAtTeardown)
        : commands(commands)
        , windowWholeAtTeardown(windowWholeAtTeardown)
    {
    }
    ~WithdrawingRootView() override
    {
        windowWholeAtTeardown = qobject_cast<TavrikLinkMainWindow*>(window()) != nullptr;
        commands.withdraw();
    }

private:
    TavrikViewCommands& commands;
    bool& windowWholeAtTeardown;
};

TEST(MainWindowTeardown, TheRootViewGoesWhileTheWindowIsWhole)
{
    // The content's farewell reaches the window's menu; if the content outlived the window's own
    // destructor, that call would land in a half-destroyed object.
    TavrikViewCommands commands;
    bool windowWholeAtTeardown = false;
    {
        TavrikLinkMainWindow window(commands);
        commands.publish([] {}, false);
        window.setRootView(new WithdrawingRootView(commands, windowWholeAtTeardown));
    }
    EXPECT_TRUE(windowWholeAtTeardown);
}

TEST_F(ApplicationFixture, TerminationSignalsStartTheOrderlyQuit)
{
    auto app = make({}, true);
    std::function<void()> completion;
    int shutdowns = 0;
    app->quitSequence().setPrepareForTermination([&](std::function<void()> done) {
        ++shutdowns;
        completion = std::move(done);
    });
    ASSERT_EQ(std::raise(SIGTERM), 0);
    ASSERT_TRUE(processEventsUntil([&] { return shutdowns == 1; }));
    ASSERT_EQ(std::raise(SIGINT), 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(shutdowns, 1);
    EXPECT_TRUE(exits.empty());

    // A device that never answers: the limit ends the wait.
    scheduler.advance(AppQuitPresenter::defaultWaitLimit);
    EXPECT_EQ(exits, std::vector<int>({ 0 }));
    EXPECT_TRUE(app->quitSequence().gaveUpWaiting());
}

TEST_F(ApplicationFixture, TheWindowWearsTheIconInstalledForTheDesktopEntry)
{
    // The install layout: the icon where freedesktop programs keep theirs, beside share/tavrik-link.
    const QString icons = installDir.filePath(QStringLiteral("share/icons/hicolor/scalable/apps"));
    ASSERT_TRUE(QDir().mkpath(icons));
    ASSERT_TRUE(QDir().mkpath(installDir.filePath(QStringLiteral("share/tavrik-link"))));
    ASSERT_TRUE(QFile::copy(QStringLiteral(TAVRIK_DESKTOP_FILES "/tavrik-link.svg"), icons + "/tavrik-link.svg"));
    QApplication::setWindowIcon(QIcon());
    auto app = make();
    EXPECT_FALSE(QApplication::windowIcon().isNull());
    EXPECT_FALSE(QApplication::windowIcon().pixmap(64).isNull());

    // The entry starts this program under the window's title, with that icon.
    QFile entry(QStringLiteral(TAVRIK_DESKTOP_FILES "/tavrik-link.desktop"));
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines = QString::fromUtf8(entry.readAll()).split(QLatin1Char('\n'));
    EXPECT_EQ(lines.value(0), QStringLiteral("[Desktop Entry]"));
    for (const char* line : { "Type=Application", "Name=Tavrik Link", "Exec=tavrik-link", "Icon=tavrik-link",
             "Terminal=false", "StartupWMClass=tavrik-link" }) {
        EXPECT_TRUE(lines.contains(QString::fromLatin1(line))) << line;
    }
}

TEST_F(ApplicationFixture, TheDesktopThemeIsSearchedForTheIconOnlyOnceTheWindowHasBeenDrawn)
{
    // A theme with our icon: the search reads all its folders, so it waits for the window's first frame.
    QTemporaryDir themes;
    const QString apps = themes.filePath(QStringLiteral("test-theme/scalable/apps"));
    ASSERT_TRUE(QDir().mkpath(apps));
    QFile index(themes.filePath(QStringLiteral("test-theme/index.theme")));
    ASSERT_TRUE(index.open(QIODevice::WriteOnly));
    index.write("[Icon Theme]\nName=Test\nDirectories=scalable/apps\n\n"
                "[scalable/apps]\nSize=48\nMinSize=8\nMaxSize=512\nType=Scalable\n");
    index.close();
    ASSERT_TRUE(QFile::copy(QStringLiteral(TAVRIK_DESKTOP_FILES "/tavrik-link.svg"), apps + "/tavrik-link.svg"));
    struct ThemeRestorer {
        QStringList paths = QIcon::themeSearchPaths();
        QString name = QIcon::themeName();
        ~ThemeRestorer()
        {
            QIcon::setThemeSearchPaths(paths);
            QIcon::setThemeName(name);
        }
    } restorer;
    QIcon::setThemeSearchPaths({ themes.path() });
    QIcon::setThemeName(QStringLiteral("test-theme"));
    QApplication::setWindowIcon(QIcon());

    auto app = make();
    QCoreApplication::processEvents();
    EXPECT_TRUE(QApplication::windowIcon().isNull()) << "nothing is beside the program and nothing is drawn yet";

    app->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&app->mainWindow()));
    EXPECT_TRUE(processEventsUntil([] { return QApplication::windowIcon().name() == QStringLiteral("tavrik-link"); }));
    EXPECT_FALSE(QApplication::windowIcon().pixmap(64).isNull());
}

} // namespace
} // namespace tavrik::test
