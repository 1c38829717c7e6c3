#pragma once

#include "TavrikLink/Views/ContentViewPresenter.hpp"

#include <memory>

namespace tavrik {

class BackupFileActions;
class BackupFilePanel;
class FirmwarePanePresenter;
class LegacyUpgradeState;
class SettingsPanePresenter;
class TavrikBleCentral;

// What the window's panes share and what must outlive any one pane: the settings and firmware
// presenters, the legacy upgrade's memory and the backup file actions, whose notices show in the
// window's alert queue. The panes
// come and go with the sidebar's selection; these stay as long as the window.
class WindowPanes {
public:
    // The controller, the presenter and the panel must outlive this, unless it owns the panel.
    WindowPanes(TavrikBleCentral& controller, ContentViewPresenter& presenter, BackupFilePanel& panel,
        std::unique_ptr<BackupFilePanel> ownPanel = nullptr);
    ~WindowPanes();

    SettingsPanePresenter& settings() { return *settingsPresenter; }
    FirmwarePanePresenter& firmware() { return *firmwarePresenter; }
    FirmwarePanePresenter& legacyFirmware() { return *legacyFirmwarePresenter; }
    LegacyUpgradeState& legacy() { return *legacyState; }
    BackupFileActions& backup() { return *backupActions; }

    // Points the window's empty backup actions at these.
    void connectActions();
    // The window state changed: tells the settings pane of a new sidebar selection and of a request
    // to show its Wi-Fi section.
    void windowChanged();

private:
    void backupNoticeChanged();

    ContentViewPresenter& presenter;
    std::unique_ptr<LegacyUpgradeState> legacyState;
    std::unique_ptr<SettingsPanePresenter> settingsPresenter;
    std::unique_ptr<FirmwarePanePresenter> firmwarePresenter;
    std::unique_ptr<FirmwarePanePresenter> legacyFirmwarePresenter;
    std::unique_ptr<BackupFilePanel> ownPanel;
    std::unique_ptr<BackupFileActions> backupActions;
    // The window's notice that shows the backup actions' current one.
    std::optional<Uuid> forwardedNotice;
    ContentViewPresenter::SidebarPane shownPane = ContentViewPresenter::SidebarPane::routines;
    int scrollRequest = 0;
};

} // namespace tavrik
