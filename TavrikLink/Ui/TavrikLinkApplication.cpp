#include "TavrikLink/Ui/TavrikLinkApplication.hpp"

#include "TavrikCore/Support/Clock.hpp"
#include "TavrikLink/Ui/ContentView.hpp"
#include "TavrikLink/Ui/QtBackupFilePanel.hpp"
#include "TavrikLink/Ui/TavrikLinkMainWindow.hpp"
#include "TavrikLink/Ui/UnixSignalNotifier.hpp"
#include "TavrikLink/Views/WindowPresenters.hpp"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QTimer>

#include <csignal>

namespace tavrik {

namespace {
// The desktop's installed icon when it has ours, else the one beside the program. The one beside
// the program is worn at once; the theme is searched from the loop, since its first search reads
// all its folders and the window would wait for it.
void setApplicationIcon(const TavrikResources& resources, QObject* context)
{
    const QString path = resources.applicationIconPath();
    if (QFileInfo(path).isFile()) {
        const QIcon icon(path);
        if (!icon.isNull()) {
            QApplication::setWindowIcon(icon);
        }
    }
    QTimer::singleShot(0, context, [] {
        const QIcon themed = QIcon::fromTheme(QStringLiteral("tavrik-link"));
        if (!themed.isNull()) {
            QApplication::setWindowIcon(themed);
        }
    });
}
} // namespace

TavrikLinkApplication::TavrikLinkApplication(AppOptions options, Environment environment, QObject* parent)
    : QObject(parent)
    , appOptions(options)
    , environment(std::move(environment))
    , quitPresenter(this->environment.scheduler, coordinator, this->environment.exit)
{
    // Closing the window is a quit request like any other, answered only after the shutdown.
    QApplication::setQuitOnLastWindowClosed(false);
    setApplicationIcon(this->environment.resources, this);

    window = std::make_unique<TavrikLinkMainWindow>(commands);
    connect(window.get(), &TavrikLinkMainWindow::quitRequested, this, [this] { quitPresenter.requestQuit(); });
    if (this->environment.controller) {
        // Without a panel of the caller's, the desktop's file dialogs over the window are used.
        std::unique_ptr<BackupFilePanel> dialogs;
        if (!this->environment.backupFilePanel) {
            dialogs = std::make_unique<QtBackupFilePanel>(window.get());
        }
        BackupFilePanel& panel = dialogs ? *dialogs : *this->environment.backupFilePanel;
        presenters = std::make_unique<WindowPresenters>(WindowPresenters::Environment { *this->environment.controller,
            this->environment.scheduler, coordinator, panel, std::move(dialogs), this->environment.settings });
        content = new ContentView(
            { *presenters, commands, this->environment.clock ? *this->environment.clock : systemClock() });
        window->setRootView(content);
        connect(window.get(), &TavrikLinkMainWindow::importDataCommand, content, &ContentView::importDataCommand);
        connect(window.get(), &TavrikLinkMainWindow::exportDataCommand, content, &ContentView::exportDataCommand);
    }

    if (this->environment.handleTerminationSignals) {
        signalNotifier = std::make_unique<UnixSignalNotifier>(std::vector<int> { SIGTERM, SIGINT, SIGHUP });
        connect(signalNotifier.get(), &UnixSignalNotifier::signalReceived, this,
            [this](int) { quitPresenter.requestQuit(); });
    }
}

TavrikLinkApplication::~TavrikLinkApplication() = default;

void TavrikLinkApplication::show()
{
    window->show();
}

} // namespace tavrik
