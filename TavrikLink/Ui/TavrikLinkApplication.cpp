#include "TavrikLink/Ui/TavrikLinkApplication.hpp"

#include "TavrikCore/Support/Clock.hpp"
#include "TavrikLink/Ui/ContentView.hpp"
#include "TavrikLink/Ui/QtBackupFilePanel.hpp"
#include "TavrikLink/Ui/TavrikLinkMainWindow.hpp"
#include "TavrikLink/Ui/UnixSignalNotifier.hpp"
#include "TavrikLink/Views/WindowPresenters.hpp"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QIcon>
#include <QTimer>

#include <csignal>

namespace tavrik {

namespace {
// The icon beside the program is worn at once.
void setBundledApplicationIcon(const TavrikResources& resources)
{
    const QString path = resources.applicationIconPath();
    if (QFileInfo(path).isFile()) {
        const QIcon icon(path);
        if (!icon.isNull()) {
            QApplication::setWindowIcon(icon);
        }
    }
}

// The desktop's installed icon, when its theme has ours, takes over once the window has drawn its
// first frame: the theme's first search reads all its folders, and neither the map nor the first
// frame needs the icon.
class ThemeIconAfterFirstFrame : public QObject {
public:
    explicit ThemeIconAfterFirstFrame(QWidget* window)
        : QObject(window)
    {
        window->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            // Once this paint is on the screen.
            QTimer::singleShot(0, this, [this] {
                const QIcon themed = QIcon::fromTheme(QStringLiteral("tavrik-link"));
                if (!themed.isNull()) {
                    QApplication::setWindowIcon(themed);
                }
                deleteLater();
            });
        }
        return false;
    }
};
} // namespace

TavrikLinkApplication::TavrikLinkApplication(AppOptions options, Environment environment, QObject* parent)
    : QObject(parent)
    , appOptions(options)
    , environment(std::move(environment))
    , quitPresenter(this->environment.scheduler, this->environment.exit)
{
    // Closing the window is a quit request like any other, answered only after the shutdown.
    QApplication::setQuitOnLastWindowClosed(false);
    setBundledApplicationIcon(this->environment.resources);

    window = std::make_unique<TavrikLinkMainWindow>(commands);
    new ThemeIconAfterFirstFrame(window.get());
    connect(window.get(), &TavrikLinkMainWindow::quitRequested, this, [this] { quitPresenter.requestQuit(); });
    if (this->environment.controller) {
        // Without a panel of the caller's, the desktop's file dialogs over the window are used.
        std::unique_ptr<BackupFilePanel> dialogs;
        if (!this->environment.backupFilePanel) {
            dialogs = std::make_unique<QtBackupFilePanel>(window.get());
        }
        BackupFilePanel& panel = dialogs ? *dialogs : *this->environment.backupFilePanel;
        presenters = std::make_unique<WindowPresenters>(WindowPresenters::Environment {
            *this->environment.controller, this->environment.scheduler, quitPresenter, panel, std::move(dialogs) });
        content = new ContentView(
            { *presenters, commands, this->environment.clock ? *this->environment.clock : systemClock() });
        window->setRootView(content);
        connect(window.get(), &TavrikLinkMainWindow::importDataCommand, content, &ContentView::importDataCommand);
        connect(window.get(), &TavrikLinkMainWindow::exportDataCommand, content, &ContentView::exportDataCommand);
    }

    if (this->environment.handleTerminationSignals) {
        signalNotifier = std::make_unique<UnixSignalNotifier>(std::vector<int> { SIGTERM, SIGINT });
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
