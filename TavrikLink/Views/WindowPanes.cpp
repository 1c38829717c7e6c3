#include "TavrikLink/Views/WindowPanes.hpp"

#include "TavrikLink/Controller/TavrikBleCentral.hpp"
#include "TavrikLink/Views/BackupFileActions.hpp"
#include "TavrikLink/Views/BackupFilePanel.hpp"
#include "TavrikLink/Views/ContentViewPresenter.hpp"
#include "TavrikLink/Views/FirmwarePanePresenter.hpp"
#include "TavrikLink/Views/LegacyUpgradeState.hpp"
#include "TavrikLink/Views/SettingsPanePresenter.hpp"

#include <utility>

namespace tavrik {

WindowPanes::WindowPanes(TavrikBleCentral& controller, ContentViewPresenter& presenter, BackupFilePanel& panel,
    std::unique_ptr<BackupFilePanel> ownPanel)
    : presenter(presenter)
    , legacyState(std::make_unique<LegacyUpgradeState>())
    , settingsPresenter(std::make_unique<SettingsPanePresenter>(controller))
    , firmwarePresenter(std::make_unique<FirmwarePanePresenter>(FirmwarePanePresenter::Flow::firmwarePane, controller))
    , legacyFirmwarePresenter(std::make_unique<FirmwarePanePresenter>(
          FirmwarePanePresenter::Flow::legacyUpgrade, controller, legacyState.get()))
    , ownPanel(std::move(ownPanel))
{
    ContentViewPresenter* window_ = &presenter;
    BackupFileActions::Window effects {
        [window_] {
            if (window_->actions().syncScheduleSelection) {
                window_->actions().syncScheduleSelection();
            }
        },
        [window_] {
            if (window_->actions().syncTagSelection) {
                window_->actions().syncTagSelection();
            }
        },
        [window_](std::optional<std::uint32_t> id) {
            window_->modify([&](ContentViewPresenter::State& state) { state.selectedRoutineId = id; });
        },
        [window_] { window_->selectPane(ContentViewPresenter::SidebarPane::routines); },
    };
    backupActions = std::make_unique<BackupFileActions>(controller, std::move(effects), panel, *legacyState);
    // Backup outcomes join the window's one alert queue.
    QObject::connect(backupActions.get(), &BackupFileActions::dataTransferNoticeChanged, backupActions.get(),
        [this] { backupNoticeChanged(); });

    // The legacy upgrade's memory and its decisions live in the one LegacyUpgradeState.
    legacyState->follow(controller);
    QObject::connect(legacyState.get(), &LegacyUpgradeState::restoreOffered, legacyState.get(), [this] {
        this->presenter.modify([](ContentViewPresenter::State& state) { state.showingLegacyRestorePrompt = true; });
    });
    shownPane = presenter.state().selectedPane;
    scrollRequest = presenter.state().wifiSettingsScrollRequest;
}

WindowPanes::~WindowPanes()
{
    // The actions hold on to the panel and the legacy state.
    backupActions.reset();
}

void WindowPanes::backupNoticeChanged()
{
    const auto& notice = backupActions->dataTransferNotice();
    if (notice) {
        const ContentViewPresenter::DataTransferNotice shown { Uuid::make(), notice->title.toStdString(),
            notice->message.toStdString(), notice->failed };
        forwardedNotice = shown.id;
        presenter.modify([&](ContentViewPresenter::State& state) { state.dataTransferNotice = shown; });
        return;
    }
    const auto forwarded = std::exchange(forwardedNotice, std::nullopt);
    if (forwarded) {
        presenter.modify([&](ContentViewPresenter::State& state) {
            if (state.dataTransferNotice && state.dataTransferNotice->id == *forwarded) {
                state.dataTransferNotice.reset();
            }
        });
    }
}

void WindowPanes::connectActions()
{
    ContentViewPresenter::Actions& actions = presenter.actions();
    BackupFileActions* backup = backupActions.get();
    if (!actions.importTavrikData) {
        actions.importTavrikData = [backup] { backup->importTavrikData(); };
    }
    if (!actions.exportTavrikData) {
        actions.exportTavrikData = [backup]() -> std::optional<std::string> {
            if (const auto path = backup->exportTavrikData()) {
                return path->toStdString();
            }
            return std::nullopt;
        };
    }
    if (!actions.restoreLegacyMigrationBackup) {
        actions.restoreLegacyMigrationBackup = [backup] { backup->restoreLegacyMigrationBackup(); };
    }
    if (!actions.endLegacyUpgrade) {
        LegacyUpgradeState* legacy = legacyState.get();
        actions.endLegacyUpgrade = [legacy] { legacy->setUpgradeStarted(false); };
    }
}

void WindowPanes::windowChanged()
{
    const ContentViewPresenter::State& state = presenter.state();
    // The user answered the backup's alert (or another notice took its place).
    if (forwardedNotice && (!state.dataTransferNotice || state.dataTransferNotice->id != *forwardedNotice)) {
        forwardedNotice.reset();
        backupActions->dismissNotice();
    }
    if (state.selectedPane != shownPane) {
        shownPane = state.selectedPane;
        settingsPresenter->selectedPaneChanged(shownPane == ContentViewPresenter::SidebarPane::settings);
    }
    if (state.wifiSettingsScrollRequest != scrollRequest) {
        scrollRequest = state.wifiSettingsScrollRequest;
        settingsPresenter->requestWifiSettingsScroll();
    }
}

} // namespace tavrik
