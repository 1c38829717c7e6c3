#pragma once

#include "TavrikCore/Firmware/FirmwareUpdateNotice.hpp"
#include "TavrikCore/Firmware/FirmwareUploadStatus.hpp"
#include "TavrikCore/Model/ClockModels.hpp"
#include "TavrikCore/Model/RoutineModels.hpp"
#include "TavrikCore/Model/RoutinePayloads.hpp"
#include "TavrikCore/Model/ScheduleModels.hpp"
#include "TavrikCore/Model/SyncPayloads.hpp"
#include "TavrikCore/Model/TagModels.hpp"
#include "TavrikCore/Model/WifiModels.hpp"
#include "TavrikCore/Routine/RoutineDraft.hpp"
#include "TavrikCore/Support/Uuid.hpp"
#include "TavrikLink/Usb/UsbOnboardingModels.hpp"
#include "TavrikLink/Usb/UsbOnboardingTarget.hpp"
#include "TavrikPlatform/Bluetooth/BleCentral.hpp"

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

namespace tavrik {

class WindowAlertQueue;

// The main window's own state and its reactions to the controller. The window feeds it what it
// reads of the controller (ControllerState) and gives it the operations it may call (Actions);
// every reaction runs only when the value it watches really changed.
class ContentViewPresenter : public QObject {
    Q_OBJECT
public:
    enum class SidebarPane { routines, tags, firmware, settings };

    struct TagEditorRename {
        TagInfo tag;
        bool operator==(const TagEditorRename&) const = default;
    };
    struct TagEditorCreate {
        bool operator==(const TagEditorCreate&) const = default;
    };
    using TagEditorMode = std::variant<TagEditorRename, TagEditorCreate>;

    struct DataTransferNotice {
        Uuid id = Uuid::make();
        std::string title;
        std::string message;
        // A refusal or failure rather than news: the alert says so with its icon.
        bool failed = false;
        bool operator==(const DataTransferNotice&) const = default;
    };

    static constexpr double logDrawerMinWidth = 280;
    static constexpr double logDrawerMaxWidth = 680;

    // Window state with the values a new window starts with.
    struct State {
        bool showingTagSheet = false;
        std::string tagDraftName;
        std::string tagDraftUid;
        std::optional<TagEditorMode> tagMode;
        SidebarPane selectedPane = SidebarPane::routines;
        bool routinesExpanded = true;
        bool tagsExpanded = true;
        std::optional<std::uint32_t> selectedRoutineId;
        RoutineDraft routineDetailDraft = RoutineDraft().normalizedHierarchy();
        std::optional<std::int64_t> routineDetailSnapshotSignature;
        std::optional<std::int64_t> routineDetailMetadataSnapshotSignature;
        std::optional<std::uint32_t> selectedScheduleId;
        std::optional<std::uint32_t> removingRoutineStartTagId;
        std::optional<std::uint32_t> selectedTagId;
        std::string tagEditorName;
        bool isSyncingTagEditor = false;
        bool logDrawerExpanded = false;
        double logDrawerWidth = 360;
        std::optional<double> logDrawerDragStartWidth;
        std::set<Uuid> expandedLogEntryIds;
        bool showingUsbInstallAlert = false;
        bool showingUsbSetupFlow = false;
        bool usbOtherDeviceSelected = false;
        std::string usbWifiSsid;
        std::string usbWifiPassword;
        bool usbWifiPasswordVisible = false;
        std::optional<DataTransferNotice> dataTransferNotice;
        std::optional<std::string> selectedWifiCredentialSsid;
        bool showingWifiCredentialEditor = false;
        std::optional<std::string> editingWifiCredentialSsid;
        std::string wifiDraftSsid;
        std::string wifiDraftPassword;
        bool wifiDraftPasswordVisible = false;
        bool wifiDraftUsesOtherNetwork = false;
        int wifiSettingsScrollRequest = 0;
        // Where the migration backup went and whether the upgrade was begun are LegacyUpgradeState's.
        bool showingLegacyRestorePrompt = false;

        bool operator==(const State&) const = default;
    };

    // What the window reads of the controller and its USB service.
    struct ControllerState {
        bool hasLoadedData = false;
        std::optional<SyncMode> syncMode;
        SyncStage syncStage = SyncStage::idle();
        bool legacyFirmwareUpgradeRequired = false;
        bool isReviewDemo = false;
        std::vector<std::string> backupMigrationWarnings;
        FirmwareUploadStatus::Phase uploadPhase = FirmwareUploadStatus::Phase::idle;
        std::vector<RoutineSummary> routineSummaries;
        std::vector<ScheduledRoutine> schedules;
        std::vector<TagInfo> tags;
        TagScanState tagScanState = TagScanState::idle();
        std::optional<TagScanResult> tagScanResult;
        std::optional<TimeSyncNotice> timeSyncNotice;
        std::optional<FirmwareUpdateNotice> firmwareUpdateNotice;
        std::optional<WifiConnectionNotice> wifiConnectionNotice;
        std::vector<WifiScannedNetwork> nearbyWifiNetworks;
        std::optional<std::string> wifiLastSavedSsid;
        std::optional<ActiveRoutineContext> activeRoutineContext;
        bool virtualTavrikConnected = false;
        std::optional<std::string> deviceFirmwareVersion;
        std::optional<int> idleDisconnectSecondsRemaining;
        bool canEjectTavrik = false;
        UsbOnboardingCheckState usbCheckState = UsbOnboardingCheckState::waitingForDevice;
        bool hasVerifiedUsbOnboardingDevice = false;
        std::optional<UsbOnboardingTarget> usbOnboardingTarget;
        std::vector<UsbWifiNetwork> usbWifiNetworks;
        UsbFlashStatus::Phase usbFlashPhase = UsbFlashStatus::Phase::idle;
        std::optional<UsbOnboardingNotice> usbOnboardingNotice;
        BleUnavailableReason bluetoothUnavailableReason = BleUnavailableReason::none;

        bool operator==(const ControllerState&) const = default;
    };

    // The operations the window may run. An empty one does nothing: panes and controller operations
    // built elsewhere fill them in.
    struct Actions {
        std::function<void()> recordUserInteraction;
        std::function<void(SyncMode)> beginSession;
        std::function<void()> beginReviewDemo;
        std::function<void()> refreshFirmwareAvailability;
        std::function<void()> ejectTavrik;
        std::function<void()> installTerminationHandler;
        std::function<void()> removeTerminationHandler;
        std::function<void()> startActivityMonitoring;
        std::function<void()> stopActivityMonitoring;
        std::function<void()> syncScheduleSelection;
        std::function<void()> syncTagSelection;
        std::function<void()> updateUsbMonitoring;
        std::function<void()> stopUsbDeviceMonitoring;
        std::function<void()> beginUsbOnboarding;
        std::function<void()> cancelUsbOnboarding;
        std::function<void()> startUsbWifiScan;
        std::function<void()> invalidateUsbWifiVerification;
        std::function<void(const std::string& ssid, const std::string& password)> startUsbOnboardingFlash;
        std::function<void()> clearUsbOnboardingNotice;
        std::function<void()> importTavrikData;
        // Gives the saved file's path, or nothing when cancelled or failed.
        std::function<std::optional<std::string>()> exportTavrikData;
        std::function<void()> restoreLegacyMigrationBackup;
        // "Keep Current Data": the legacy upgrade the user began is over.
        std::function<void()> endLegacyUpgrade;
        std::function<void()> startFirmwareInstall;
        std::function<void()> clearFirmwareUpdateNotice;
        std::function<void()> clearWifiConnectionNotice;
        std::function<void()> acceptTimeSyncNotice;
        std::function<void()> dismissTimeSyncNotice;
        std::function<void()> clearLog;
        // Sidebar entries whose panes are built elsewhere.
        std::function<void()> beginCreatingRoutine;
        std::function<void()> beginCreatingTag;
        // Closes the tag editor and ends a scan under way.
        std::function<void()> cancelTagEdit;
        std::function<void(const TagInfo&)> selectTag;
        std::function<bool()> showingNewRoutineDraft;
        std::function<std::optional<std::string>(const ActiveRoutineContext&)> activeStepLine;
        std::function<std::string()> usbInstallAlertMessage;
        // Runs work on the next turn of the event loop; empty runs it at once.
        std::function<void(std::function<void()>)> defer;
    };

    enum class MainContent { legacyUpgrade, loadOverlay, split };
    enum class DetailContent { routinePane, routineEmptyState, tags, firmware, settings };

    // The status strip of the title bar.
    struct TitleBarStatus {
        std::optional<std::string> routineName;
        std::string routineLine; // the step line, "Routine running" or "No routine running"
        std::optional<std::string> simulatorText;
        std::optional<std::string> firmwareText;
        std::optional<std::string> countdownText;
        // Why nothing can connect over Bluetooth, in a few words and in full.
        std::optional<std::string> bluetoothText;
        std::string bluetoothAdvice;
        bool operator==(const TitleBarStatus&) const = default;
    };

    explicit ContentViewPresenter(Actions actions, QObject* parent = nullptr);
    ~ContentViewPresenter() override;

    const State& state() const { return current; }
    const ControllerState& controller() const { return observed; }
    Actions& actions() { return act; }
    const Actions& actions() const { return act; }
    WindowAlertQueue& alerts() { return *alertQueue; }

    // Applies a change to the window state, then runs the reactions of the fields it really changed.
    void modify(const std::function<void(State&)>& change);
    // The controller published; reactions run for the values that differ from the last ones seen.
    void observe(const ControllerState& next);

    // Window lifecycle.
    void appear();
    void disappear();
    bool hasAppeared() const { return appeared; }
    bool isMonitoringActivity() const { return activityMonitoring; }

    // What fills the window, and which pane the detail column shows.
    MainContent mainContent() const;
    DetailContent detailContent() const;
    bool showsTitleBarStrip() const { return mainContent() == MainContent::split; }
    TitleBarStatus titleBarStatus() const;
    bool canEject() const { return observed.canEjectTavrik; }
    // Whether Bluetooth's trouble matters now: not in the demo, nor while the simulator link serves.
    bool bluetoothProblemMatters() const;

    // User actions of the window.
    void eject();
    void toggleLogDrawer();
    // A resize drag of the log drawer, by the pointer's horizontal travel since the drag began at
    // the drawer's width as shown.
    void beginLogDrawerDrag(double shownWidth);
    void dragLogDrawer(double translationX);
    void endLogDrawerDrag();
    void setLogEntryExpanded(const Uuid& id, bool expanded);
    void clearLog();
    void importDataCommand();
    void exportDataCommand();
    void saveMigrationBackup();
    void tryAgain();
    void recordUserInteraction();
    // A sheet was closed by any means (Escape, the window's close button, its own buttons).
    void tagSheetClosed();
    void wifiSheetClosed();

    // Sidebar.
    void selectPane(SidebarPane pane);
    void selectRoutine(std::uint32_t routineId);
    void selectTag(const TagInfo& tag);
    void setRoutinesExpanded(bool expanded);
    void setTagsExpanded(bool expanded);

signals:
    // The window state or the observed controller state changed.
    void changed();

private:
    void react(const State& before, const State& after);
    void reactToController(const ControllerState& before, const ControllerState& after);
    void refreshStateAlerts(const State& before, const State& after);
    void refreshControllerAlerts(const ControllerState& before, const ControllerState& after);
    void call(const std::function<void()>& action) const
    {
        if (action) {
            action();
        }
    }
    void finishChange();

    Actions act;
    State current;
    ControllerState observed;
    std::unique_ptr<WindowAlertQueue> alertQueue;
    bool appeared = false;
    bool activityMonitoring = false;
    int depth = 0;
    bool dirty = false;
};

std::string_view sidebarPaneName(ContentViewPresenter::SidebarPane pane);

} // namespace tavrik
