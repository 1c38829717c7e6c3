#pragma once

#include "TavrikLink/Support/AppOptions.hpp"
#include "TavrikLink/Support/TavrikResources.hpp"
#include "TavrikLink/Views/AppQuitPresenter.hpp"
#include "TavrikLink/Views/TavrikViewCommands.hpp"

#include <QObject>

#include <functional>
#include <memory>

namespace tavrik {

class BackupFilePanel;
class Clock;
class ContentView;
class Scheduler;
class TavrikBleCentral;
class TavrikLinkMainWindow;
class UnixSignalNotifier;
class WindowPresenters;

// The running program: its one window, the orderly quit and the files it ships with. Created after
// the QApplication; the window is shown by show().
class TavrikLinkApplication : public QObject {
    Q_OBJECT
public:
    struct Environment {
        Scheduler& scheduler;
        TavrikResources resources;
        // Ends the event loop; QCoreApplication::exit in the program.
        std::function<void(int status)> exit;
        // SIGTERM and SIGINT start the orderly quit (off in tests that send no signals).
        bool handleTerminationSignals = true;
        // The device controller the window shows, through the presenters built over it; without one
        // the window stays empty.
        TavrikBleCentral* controller = nullptr;
        const Clock* clock = nullptr;
        // The backup save and open dialogs; the desktop's own without one.
        BackupFilePanel* backupFilePanel = nullptr;
    };

    TavrikLinkApplication(AppOptions options, Environment environment, QObject* parent = nullptr);
    ~TavrikLinkApplication() override;

    void show();
    void requestQuit() { quitPresenter.requestQuit(); }

    const AppOptions& options() const { return appOptions; }
    const TavrikResources& resources() const { return environment.resources; }
    TavrikViewCommands& viewCommands() { return commands; }
    TavrikLinkMainWindow& mainWindow() { return *window; }
    // The window's root view; none without a controller.
    ContentView* contentView() { return content; }
    AppQuitPresenter& quitSequence() { return quitPresenter; }
    const AppQuitPresenter& quitSequence() const { return quitPresenter; }

private:
    AppOptions appOptions;
    Environment environment;
    TavrikViewCommands commands;
    AppQuitPresenter quitPresenter;
    // Declared before the window, which holds on to them: they go after it.
    std::unique_ptr<WindowPresenters> presenters;
    std::unique_ptr<TavrikLinkMainWindow> window;
    ContentView* content = nullptr;
    std::unique_ptr<UnixSignalNotifier> signalNotifier;
};

} // namespace tavrik
