#pragma once

#include <memory>

namespace tavrik {

class BackupFilePanel;
class ContentViewBinding;
class ContentViewPresenter;
class LogDrawerModel;
class RoutinePanePresenter;
class Scheduler;
class ScheduleSectionPresenter;
class TagEditorPresenter;
class TagPanePresenter;
class TavrikBleCentral;
class AppQuitPresenter;
class UsbSetupPresenter;
class WifiSettingsPresenter;
class WindowPanes;

// The main window's presenters over the controller, built in one place so the widgets get
// presenters handed to them and never see the controller: the window's presenter and log, what its
// panes share, the binding that keeps them current, and a fresh presenter for each pane the window
// builds. Lives as long as the window and must outlive it.
class WindowPresenters {
public:
    struct Environment {
        TavrikBleCentral& controller;
        Scheduler& scheduler;
        // Where the shown window installs the controller's shutdown, run before a quit.
        AppQuitPresenter& quit;
        // The backup save and open dialogs; must outlive this unless handed over as ownPanel.
        BackupFilePanel& backupFilePanel;
        std::unique_ptr<BackupFilePanel> ownPanel;
    };

    explicit WindowPresenters(Environment environment);
    ~WindowPresenters();

    ContentViewPresenter& window() { return *windowPresenter; }
    LogDrawerModel& log() { return *logModel; }
    WindowPanes& panes() { return *shared; }

    // A new presenter for each pane; the pane that gets it owns it.
    std::unique_ptr<RoutinePanePresenter> routinePane();
    ScheduleSectionPresenter* scheduleSection();
    TagPanePresenter* tagPane();
    TagEditorPresenter* tagEditor();
    WifiSettingsPresenter* wifiSettings();
    std::unique_ptr<UsbSetupPresenter> usbSetup();

private:
    TavrikBleCentral& controller;
    std::unique_ptr<ContentViewPresenter> windowPresenter;
    std::unique_ptr<LogDrawerModel> logModel;
    std::unique_ptr<WindowPanes> shared;
    std::unique_ptr<ContentViewBinding> binding;
};

} // namespace tavrik
