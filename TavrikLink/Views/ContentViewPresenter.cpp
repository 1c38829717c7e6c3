#include "TavrikLink/Views/ContentViewPresenter.hpp"

#include "TavrikLink/Views/BluetoothAvailabilityText.hpp"
#include "TavrikLink/Views/ConnectionOverlayPresenter.hpp"
#include "TavrikLink/Views/WindowAlertQueue.hpp"

#include <algorithm>
#include <utility>

namespace tavrik {

namespace {

using Button = WindowAlertQueue::Button;
using Role = WindowAlertQueue::Button::Role;

const std::string usbNoticeKind = "usbOnboardingNotice:";
const std::string firmwareNoticeKind = "firmwareUpdateNotice:";
const std::string usbInstallKind = "usbInstallConfirmation";
const std::string dataNoticeKind = "dataTransferNotice:";
const std::string legacyRestoreKind = "legacyRestorePrompt";
const std::string wifiNoticeKind = "wifiConnectionNotice:";
const std::string timeSyncKind = "timeSyncNotice:";
const std::string tagScanFailureKind = "tagScanFailure";

template <class List>
bool containsSsid(const List& networks, const std::string& ssid)
{
    return std::any_of(networks.begin(), networks.end(), [&](const auto& network) { return network.ssid == ssid; });
}

// A notice's alert follows the notice: a new notice replaces the alert of its kind, keyed by the
// notice's id, and a cleared notice takes the alert away.
template <class Notice, class MakeAlert>
void showNotice(WindowAlertQueue& queue, const std::optional<Notice>& before, const std::optional<Notice>& after,
    const std::string& kind, MakeAlert raise)
{
    if (before == after) {
        return;
    }
    if (!after) {
        queue.withdrawKind(kind);
        return;
    }
    const std::string key = kind + after->id.text();
    queue.withdrawKind(kind, key);
    raise(*after, key);
}

// A prompt the window's own state asks for, shown while its flag is set.
template <class MakeAlert>
void showPrompt(WindowAlertQueue& queue, bool before, bool after, const std::string& kind, MakeAlert raise)
{
    if (before == after) {
        return;
    }
    if (after) {
        raise();
    } else {
        queue.withdraw(kind);
    }
}

} // namespace

std::string_view sidebarPaneName(ContentViewPresenter::SidebarPane pane)
{
    switch (pane) {
    case ContentViewPresenter::SidebarPane::routines:
        return "routines";
    case ContentViewPresenter::SidebarPane::tags:
        return "tags";
    case ContentViewPresenter::SidebarPane::firmware:
        return "firmware";
    case ContentViewPresenter::SidebarPane::settings:
        return "settings";
    }
    return "routines";
}

ContentViewPresenter::ContentViewPresenter(Actions actions, QObject* parent)
    : QObject(parent)
    , act(std::move(actions))
    , alertQueue(std::make_unique<WindowAlertQueue>())
{
}

ContentViewPresenter::~ContentViewPresenter() = default;

void ContentViewPresenter::finishChange()
{
    if (depth == 0 && dirty) {
        dirty = false;
        emit changed();
    }
}

void ContentViewPresenter::modify(const std::function<void(State&)>& change)
{
    const State before = current;
    change(current);
    if (current == before) {
        return;
    }
    dirty = true;
    ++depth;
    // Reactions compare against the value this change produced; later changes react on their own.
    const State after = current;
    react(before, after);
    --depth;
    finishChange();
}

void ContentViewPresenter::observe(const ControllerState& next)
{
    if (next == observed) {
        return;
    }
    // The state holds every routine's summary: the old one is moved out, not copied.
    const ControllerState before = std::exchange(observed, next);
    dirty = true;
    ++depth;
    reactToController(before, next);
    --depth;
    finishChange();
}

void ContentViewPresenter::react(const State& before, const State& after)
{
    if (before.selectedRoutineId != after.selectedRoutineId) {
        call(act.syncScheduleSelection);
    }
    // The settings pane keeps its kill-switch scan and ends it when it is left (WindowPanes).
    if (before.selectedPane != after.selectedPane) {
        call(act.updateUsbMonitoring);
    }
    if (before.showingUsbSetupFlow != after.showingUsbSetupFlow) {
        if (after.showingUsbSetupFlow) {
            modify([](State& state) {
                state.usbOtherDeviceSelected = false;
                state.usbWifiSsid.clear();
                state.usbWifiPassword.clear();
                state.usbWifiPasswordVisible = false;
            });
            call(act.beginUsbOnboarding);
        } else {
            call(act.cancelUsbOnboarding);
            call(act.updateUsbMonitoring);
        }
    }
    if (before.usbWifiSsid != after.usbWifiSsid || before.usbWifiPassword != after.usbWifiPassword) {
        call(act.invalidateUsbWifiVerification);
    }
    refreshStateAlerts(before, after);
}

void ContentViewPresenter::reactToController(const ControllerState& before, const ControllerState& after)
{
    if (before.schedules != after.schedules) {
        call(act.syncScheduleSelection);
    }
    if (before.tags != after.tags) {
        call(act.syncTagSelection);
    }
    // Kill-switch scans are the settings pane's own; here only a new tag's scan is followed.
    if (before.tagScanState != after.tagScanState) {
        const bool creating = current.tagMode && std::holds_alternative<TagEditorCreate>(*current.tagMode);
        if (creating && after.tagScanState.kind() == TagScanState::Kind::pending) {
            modify([](State& state) { state.showingTagSheet = true; });
        } else if (creating && !current.showingTagSheet && after.tagScanState.isFailed()) {
            // "Add Tag" whose scan cannot even start (the demo has no reader): say why, then give up
            // the new tag, rather than leave the click without an answer.
            alertQueue->raise({ tagScanFailureKind, "Add Tag", after.tagScanState.failureMessage(),
                { { "OK", Role::cancel, [this] { call(act.cancelTagEdit); } } }, WindowAlertQueue::Kind::warning });
        }
    }
    if (before.tagScanResult != after.tagScanResult && after.tagScanResult) {
        const std::string uid = after.tagScanResult->uid;
        if (current.tagMode && std::holds_alternative<TagEditorCreate>(*current.tagMode)) {
            modify([&](State& state) {
                state.tagDraftUid = uid;
                state.showingTagSheet = true;
            });
        }
    }
    if (before.usbCheckState != after.usbCheckState
        && after.usbCheckState != UsbOnboardingCheckState::readyForTargetSelection
        && after.usbCheckState != UsbOnboardingCheckState::targetSetup) {
        modify([](State& state) { state.usbOtherDeviceSelected = false; });
    }
    if (!before.hasVerifiedUsbOnboardingDevice && after.hasVerifiedUsbOnboardingDevice
        && after.usbOnboardingTarget == UsbOnboardingTarget::lilyGoTEmbedCc1101) {
        call(act.startUsbWifiScan);
    }
    if (before.usbWifiNetworks != after.usbWifiNetworks) {
        if (after.usbWifiNetworks.empty()) {
            modify([](State& state) { state.usbWifiSsid.clear(); });
        } else if (!containsSsid(after.usbWifiNetworks, current.usbWifiSsid)) {
            const std::string first = after.usbWifiNetworks.front().ssid;
            modify([&](State& state) { state.usbWifiSsid = first; });
        }
    }
    const bool overlayBefore = ConnectionOverlayPresenter::shouldShowLoadOverlay(before);
    const bool overlayAfter = ConnectionOverlayPresenter::shouldShowLoadOverlay(after);
    if (overlayBefore != overlayAfter) {
        if (!overlayAfter) {
            modify([](State& state) { state.showingUsbSetupFlow = false; });
        }
        call(act.updateUsbMonitoring);
    }
    if (before.nearbyWifiNetworks != after.nearbyWifiNetworks && current.showingWifiCredentialEditor
        && !current.editingWifiCredentialSsid && !current.wifiDraftUsesOtherNetwork
        && !containsSsid(after.nearbyWifiNetworks, current.wifiDraftSsid)) {
        const auto supported = std::find_if(after.nearbyWifiNetworks.begin(), after.nearbyWifiNetworks.end(),
            [](const WifiScannedNetwork& network) { return network.supported != 0; });
        const std::string ssid = supported == after.nearbyWifiNetworks.end() ? std::string() : supported->ssid;
        modify([&](State& state) { state.wifiDraftSsid = ssid; });
    }
    if (before.wifiLastSavedSsid != after.wifiLastSavedSsid && current.showingWifiCredentialEditor
        && after.wifiLastSavedSsid && *after.wifiLastSavedSsid == current.wifiDraftSsid) {
        const std::string saved = *after.wifiLastSavedSsid;
        modify([&](State& state) {
            state.showingWifiCredentialEditor = false;
            state.wifiDraftPassword.clear();
            state.selectedWifiCredentialSsid = saved;
        });
    }
    // No overlay covers loaded data during a restore, so a restore that fails says so where the
    // import was started: in an alert.
    if (before.syncMode == SyncMode::restore && after.syncStage.isFailed() && before.syncStage != after.syncStage) {
        const std::string reason = after.syncStage.failureMessage();
        modify([&](State& state) {
            state.dataTransferNotice = DataTransferNotice { Uuid::make(), "Restore Failed", reason, true };
        });
    }
    refreshControllerAlerts(before, after);
}

void ContentViewPresenter::refreshStateAlerts(const State& before, const State& after)
{
    WindowAlertQueue& queue = *alertQueue;
    showPrompt(queue, before.showingUsbInstallAlert, after.showingUsbInstallAlert, usbInstallKind, [&] {
        const auto hide = [this] { modify([](State& state) { state.showingUsbInstallAlert = false; }); };
        queue.raise({ usbInstallKind, "Install Tavrik Firmware?",
            act.usbInstallAlertMessage ? act.usbInstallAlertMessage() : std::string(),
            { { "Install over USB", Role::destructive,
                  [this, hide] {
                      hide();
                      if (act.startUsbOnboardingFlash) {
                          act.startUsbOnboardingFlash(current.usbWifiSsid, current.usbWifiPassword);
                      }
                  } },
                { "Cancel", Role::cancel, hide } },
            WindowAlertQueue::Kind::warning });
    });
    showNotice(queue, before.dataTransferNotice, after.dataTransferNotice, dataNoticeKind,
        [&](const auto& notice, const std::string& key) {
            const auto clear = [this, id = notice.id] {
                modify([&](State& state) {
                    if (state.dataTransferNotice && state.dataTransferNotice->id == id) {
                        state.dataTransferNotice.reset();
                    }
                });
            };
            queue.raise({ key, notice.title, notice.message, { { "OK", Role::normal, clear } },
                notice.failed ? WindowAlertQueue::Kind::warning : WindowAlertQueue::Kind::information });
        });
    showPrompt(queue, before.showingLegacyRestorePrompt, after.showingLegacyRestorePrompt, legacyRestoreKind, [&] {
        queue.raise({ legacyRestoreKind, "Restore Migration Backup?",
            "The firmware upgrade is complete. Restore the migration backup to ensure the legacy routines, tags, "
            "and schedules are written in the current format.",
            { { "Restore Backup", Role::normal,
                  [this] {
                      modify([](State& state) { state.showingLegacyRestorePrompt = false; });
                      call(act.restoreLegacyMigrationBackup);
                  } },
                { "Keep Current Data", Role::cancel, [this] {
                     modify([](State& state) { state.showingLegacyRestorePrompt = false; });
                     call(act.endLegacyUpgrade);
                 } } } });
    });
}

void ContentViewPresenter::refreshControllerAlerts(const ControllerState& before, const ControllerState& after)
{
    WindowAlertQueue& queue = *alertQueue;
    showNotice(queue, before.usbOnboardingNotice, after.usbOnboardingNotice, usbNoticeKind,
        [&](const auto& notice, const std::string& key) {
            // Flashing erases the board: the same careful button as the install confirmation.
            queue.raise({ key, "Install Tavrik Firmware?", notice.message,
                { { "Install over USB", Role::destructive,
                      [this] {
                          selectPane(SidebarPane::firmware);
                          if (act.startUsbOnboardingFlash) {
                              act.startUsbOnboardingFlash(current.usbWifiSsid, current.usbWifiPassword);
                          }
                          call(act.clearUsbOnboardingNotice);
                      } },
                    { "Cancel", Role::cancel, [this] { call(act.clearUsbOnboardingNotice); } } },
                WindowAlertQueue::Kind::warning });
        });
    showNotice(queue, before.firmwareUpdateNotice, after.firmwareUpdateNotice, firmwareNoticeKind,
        [&](const auto& notice, const std::string& key) {
            queue.raise({ key, "Firmware Update Available", notice.message,
                { { "Install", Role::normal,
                      [this] {
                          selectPane(SidebarPane::firmware);
                          call(act.startFirmwareInstall);
                          call(act.clearFirmwareUpdateNotice);
                      } },
                    { "Cancel", Role::cancel, [this] { call(act.clearFirmwareUpdateNotice); } } } });
        });
    showNotice(queue, before.wifiConnectionNotice, after.wifiConnectionNotice, wifiNoticeKind,
        [&](const auto& notice, const std::string& key) {
            queue.raise({ key, "Tavrik couldn\u2019t connect to Wi-Fi", notice.message,
                { { "Open Wi-Fi settings", Role::normal,
                      [this] {
                          selectPane(SidebarPane::settings);
                          modify([](State& state) { ++state.wifiSettingsScrollRequest; });
                          call(act.clearWifiConnectionNotice);
                      } },
                    { "Dismiss", Role::cancel, [this] { call(act.clearWifiConnectionNotice); } } },
                WindowAlertQueue::Kind::warning });
        });
    showNotice(queue, before.timeSyncNotice, after.timeSyncNotice, timeSyncKind,
        [&](const auto& notice, const std::string& key) {
            WindowAlertQueue::Alert alert { key, "Update Tavrik Time?", timeSyncMessage(notice),
                { { "Update Time", Role::normal, [this] { call(act.acceptTimeSyncNotice); } },
                    { "Cancel", Role::cancel,
                        [this] {
                            call(act.dismissTimeSyncNotice);
                            call(act.recordUserInteraction);
                        } } },
                WindowAlertQueue::Kind::question };
            queue.raise(std::move(alert));
        });
}

void ContentViewPresenter::appear()
{
    appeared = true;
    modify([](State& state) { state.usbOtherDeviceSelected = false; });
    call(act.installTerminationHandler);
    if (!activityMonitoring) {
        activityMonitoring = true;
        call(act.startActivityMonitoring);
    }
    call(act.syncScheduleSelection);
    call(act.syncTagSelection);
    call(act.refreshFirmwareAvailability);
    call(act.updateUsbMonitoring);
    if (!observed.hasLoadedData && observed.syncStage.kind() == SyncStage::Kind::idle) {
        if (observed.isReviewDemo) {
            call(act.beginReviewDemo);
        } else if (act.beginSession) {
            act.beginSession(SyncMode::load);
        }
    }
}

void ContentViewPresenter::disappear()
{
    appeared = false;
    call(act.removeTerminationHandler);
    call(act.stopUsbDeviceMonitoring);
    if (activityMonitoring) {
        activityMonitoring = false;
        call(act.stopActivityMonitoring);
    }
}

ContentViewPresenter::MainContent ContentViewPresenter::mainContent() const
{
    if (ConnectionOverlayPresenter::shouldShowLegacyUpgrade(observed)) {
        return MainContent::legacyUpgrade;
    }
    if (ConnectionOverlayPresenter::shouldShowLoadOverlay(observed)) {
        return MainContent::loadOverlay;
    }
    return MainContent::split;
}

ContentViewPresenter::DetailContent ContentViewPresenter::detailContent() const
{
    switch (current.selectedPane) {
    case SidebarPane::routines: {
        const bool creating = act.showingNewRoutineDraft && act.showingNewRoutineDraft();
        const bool selected = current.selectedRoutineId
            && std::any_of(observed.routineSummaries.begin(), observed.routineSummaries.end(),
                [&](const RoutineSummary& summary) { return summary.id == *current.selectedRoutineId; });
        return creating || selected ? DetailContent::routinePane : DetailContent::routineEmptyState;
    }
    case SidebarPane::tags:
        return DetailContent::tags;
    case SidebarPane::firmware:
        return DetailContent::firmware;
    case SidebarPane::settings:
        return DetailContent::settings;
    }
    return DetailContent::routineEmptyState;
}

ContentViewPresenter::TitleBarStatus ContentViewPresenter::titleBarStatus() const
{
    TitleBarStatus status;
    if (observed.activeRoutineContext) {
        status.routineName = observed.activeRoutineContext->routineName;
        std::optional<std::string> line;
        if (act.activeStepLine) {
            line = act.activeStepLine(*observed.activeRoutineContext);
        }
        status.routineLine = line ? *line : std::string("Routine running");
    } else {
        status.routineLine = "No routine running";
    }
    if (observed.virtualTavrikConnected) {
        status.simulatorText = "Simulator \u00b7 Local";
    }
    if (observed.deviceFirmwareVersion) {
        status.firmwareText = "Tavrik " + *observed.deviceFirmwareVersion;
    }
    if (observed.idleDisconnectSecondsRemaining) {
        status.countdownText = "Disconnecting in " + std::to_string(*observed.idleDisconnectSecondsRemaining) + "s";
    }
    if (const auto bluetooth = BluetoothAvailabilityText::explain(observed.bluetoothUnavailableReason);
        bluetooth && bluetoothProblemMatters()) {
        status.bluetoothText = bluetooth->brief;
        status.bluetoothAdvice = bluetooth->problem + " " + bluetooth->advice;
    }
    return status;
}

bool ContentViewPresenter::bluetoothProblemMatters() const
{
    return !observed.isReviewDemo && !observed.virtualTavrikConnected;
}

void ContentViewPresenter::eject()
{
    modify([](State& state) {
        state.selectedRoutineId.reset();
        state.selectedScheduleId.reset();
        state.selectedTagId.reset();
        state.routineDetailDraft = RoutineDraft().normalizedHierarchy();
        state.routineDetailSnapshotSignature.reset();
        state.routineDetailMetadataSnapshotSignature.reset();
        state.showingUsbSetupFlow = false;
    });
    call(act.ejectTavrik);
}

void ContentViewPresenter::toggleLogDrawer()
{
    modify([](State& state) { state.logDrawerExpanded = !state.logDrawerExpanded; });
}

void ContentViewPresenter::beginLogDrawerDrag(double shownWidth)
{
    // The drag starts from the width on screen: the panes may have left the drawer less than it
    // asked for, and the handle must move with the pointer from the first pixel.
    modify([&](State& state) {
        state.logDrawerWidth = std::min(std::max(shownWidth, logDrawerMinWidth), logDrawerMaxWidth);
        state.logDrawerDragStartWidth = state.logDrawerWidth;
    });
}

void ContentViewPresenter::dragLogDrawer(double translationX)
{
    modify([&](State& state) {
        if (!state.logDrawerDragStartWidth) {
            state.logDrawerDragStartWidth = state.logDrawerWidth;
        }
        // The handle is on the drawer's leading edge: moving it left widens the drawer.
        state.logDrawerWidth
            = std::min(std::max(*state.logDrawerDragStartWidth - translationX, logDrawerMinWidth), logDrawerMaxWidth);
    });
}

void ContentViewPresenter::endLogDrawerDrag()
{
    modify([](State& state) { state.logDrawerDragStartWidth.reset(); });
}

void ContentViewPresenter::setLogEntryExpanded(const Uuid& id, bool expanded)
{
    modify([&](State& state) {
        if (expanded) {
            state.expandedLogEntryIds.insert(id);
        } else {
            state.expandedLogEntryIds.erase(id);
        }
    });
}

void ContentViewPresenter::clearLog()
{
    modify([](State& state) { state.expandedLogEntryIds.clear(); });
    call(act.clearLog);
}

void ContentViewPresenter::importDataCommand()
{
    auto run = [this] {
        if (observed.legacyFirmwareUpgradeRequired) {
            modify([](State& state) {
                state.dataTransferNotice = DataTransferNotice { Uuid::make(), "Firmware Upgrade Required",
                    "Save a migration backup and upgrade this legacy Tavrik before importing data.", true };
            });
        } else {
            call(act.importTavrikData);
        }
    };
    act.defer ? act.defer(run) : run();
}

void ContentViewPresenter::exportDataCommand()
{
    auto run = [this] {
        if (act.exportTavrikData) {
            act.exportTavrikData();
        }
    };
    act.defer ? act.defer(run) : run();
}

void ContentViewPresenter::saveMigrationBackup()
{
    // The export remembers a legacy board's backup itself (BackupFileActions).
    if (act.exportTavrikData) {
        act.exportTavrikData();
    }
}

void ContentViewPresenter::tryAgain()
{
    if (observed.isReviewDemo) {
        call(act.beginReviewDemo);
    } else if (act.beginSession) {
        act.beginSession(SyncMode::load);
    }
}

void ContentViewPresenter::recordUserInteraction()
{
    call(act.recordUserInteraction);
}

void ContentViewPresenter::tagSheetClosed()
{
    modify([](State& state) { state.showingTagSheet = false; });
    if (current.tagMode) {
        call(act.cancelTagEdit);
    }
}

void ContentViewPresenter::wifiSheetClosed()
{
    modify([](State& state) { state.showingWifiCredentialEditor = false; });
}

void ContentViewPresenter::selectPane(SidebarPane pane)
{
    modify([&](State& state) { state.selectedPane = pane; });
}

void ContentViewPresenter::selectRoutine(std::uint32_t routineId)
{
    modify([&](State& state) {
        state.selectedPane = SidebarPane::routines;
        state.selectedRoutineId = routineId;
        // The detail editor takes a fresh copy of the routine.
        state.routineDetailSnapshotSignature.reset();
        state.routineDetailMetadataSnapshotSignature.reset();
    });
}

void ContentViewPresenter::selectTag(const TagInfo& tag)
{
    selectPane(SidebarPane::tags);
    if (act.selectTag) {
        act.selectTag(tag);
    } else {
        modify([&](State& state) { state.selectedTagId = tag.id; });
    }
}

void ContentViewPresenter::setRoutinesExpanded(bool expanded)
{
    modify([&](State& state) { state.routinesExpanded = expanded; });
}

void ContentViewPresenter::setTagsExpanded(bool expanded)
{
    modify([&](State& state) { state.tagsExpanded = expanded; });
}

} // namespace tavrik
