#pragma once

#include "TavrikCore/Firmware/FirmwareAsset.hpp"
#include "TavrikCore/Firmware/FirmwareCatalog.hpp"
#include "TavrikCore/Firmware/FirmwareHardwareTarget.hpp"
#include "TavrikCore/Firmware/FirmwareUpdateNotice.hpp"
#include "TavrikCore/Firmware/FirmwareUploadStatus.hpp"
#include "TavrikCore/Link/BleDataChannel.hpp"
#include "TavrikCore/Link/BleDataMessageLogDetail.hpp"
#include "TavrikCore/Model/ClockModels.hpp"
#include "TavrikCore/Model/Commands.hpp"
#include "TavrikCore/Model/RoutineModels.hpp"
#include "TavrikCore/Model/RoutinePayloads.hpp"
#include "TavrikCore/Model/ScheduleModels.hpp"
#include "TavrikCore/Model/SettingsModels.hpp"
#include "TavrikCore/Model/StoreSnapshot.hpp"
#include "TavrikCore/Model/SyncPayloads.hpp"
#include "TavrikCore/Model/TagModels.hpp"
#include "TavrikCore/Model/TavrikBleProtocolProfile.hpp"
#include "TavrikCore/Model/WifiModels.hpp"
#include "TavrikCore/Routine/RoutineDraft.hpp"
#include "TavrikCore/Routine/RoutineMutationPlanner.hpp"
#include "TavrikCore/Support/Clock.hpp"
#include "TavrikCore/Support/Data.hpp"
#include "TavrikCore/Support/RandomSource.hpp"
#include "TavrikCore/Support/ScheduledTask.hpp"
#include "TavrikCore/Support/Scheduler.hpp"
#include "TavrikCore/Support/Uuid.hpp"
#include "TavrikLink/Controller/BaselineSnapshot.hpp"
#include "TavrikLink/Controller/CommandPath.hpp"
#include "TavrikLink/Controller/ControllerLog.hpp"
#include "TavrikLink/Controller/LinkClaims.hpp"
#include "TavrikLink/Controller/LinkEnd.hpp"
#include "TavrikLink/Controller/PreparedBackup.hpp"
#include "TavrikLink/Controller/WifiRequests.hpp"
#include "TavrikLink/Firmware/FirmwareManifestLoader.hpp"
#include "TavrikLink/Link/BluetoothDeviceLink.hpp"
#include "TavrikLink/Link/LocalLinkTransport.hpp"
#include "TavrikLink/Support/KeyValueStore.hpp"
#include "TavrikLink/Support/SlicedWork.hpp"
#include "TavrikLink/Usb/UsbOnboardingService.hpp"
#include "TavrikPlatform/Bluetooth/BleCentral.hpp"
#include "TavrikPlatform/Firmware/FirmwareUploadService.hpp"

#include <QObject>

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace tavrik {

namespace test {
class ControllerProbe;
}

// The application's one controller: the Bluetooth connection, the data channel, sync sessions, the
// command path, the log, and the device data the views show. Everything runs on the event loop's
// thread; waits go through the scheduler.
class TavrikBleCentral final : public QObject, private BleCentralDelegate, private BlePeripheralDelegate {
    Q_OBJECT
    friend class test::ControllerProbe;

public:
    // Fetches one firmware image checked against the asset's size and digest (the manifest loader's).
    using FirmwareDownload = FirmwareUploadService::Download;

    // What the controller talks to, injected so tests can stand in for each.
    struct Environment {
        BleCentral& central;
        Scheduler& scheduler;
        const Clock& clock;
        RandomSource& random;
        KeyValueStore& defaults;
        std::filesystem::path localLinkDirectory;
        bool automaticallyPollLocalLink = true;
        FirmwareDownload firmwareDownload {};
        // The USB onboarding service's outside world; none means the live one.
        std::optional<UsbOnboardingEnvironment> usbEnvironment {};
    };

    // A command waiting for a connection.
    using AtomicCommand = CommandPath::Command;
    // An item id as the persist key shows it: a device id or a planner key such as "3:17".
    using PersistId = CommandPath::ItemId;

    static constexpr std::chrono::milliseconds loadTimeout { 15000 };
    // How much of a large "sync_data" message one turn of the event loop reads: routines a step.
    static constexpr SlicedWork::Budget loadSlice { 64, std::chrono::milliseconds(8) };
    // A "sync_data" message of at least this many routines is read in slices: two steps a routine
    // (read, then converted) would not fit one slice.
    static constexpr std::size_t slicedLoadRoutines = loadSlice.steps / 2;
    static constexpr std::size_t logCapacity = ControllerLog::capacity;
    static constexpr std::size_t logLineByteLimit = ControllerLog::lineByteLimit;
    static constexpr std::size_t logByteCapacity = ControllerLog::byteCapacity;

    explicit TavrikBleCentral(Environment environment, QObject* parent = nullptr);
    ~TavrikBleCentral() override;
    TavrikBleCentral(const TavrikBleCentral&) = delete;
    TavrikBleCentral& operator=(const TavrikBleCentral&) = delete;

    // --- Published state (read accessors; each has a change signal below) ---
    const std::vector<std::string>& logEntries() const { return log_.lines(); }
    const std::vector<TavrikLogEntry>& logItems() const { return log_.entries(); }
    const std::string& statusText() const { return statusText_; }
    // Why Bluetooth cannot be used right now (none while it can), for the window to explain.
    BleUnavailableReason bluetoothUnavailableReason() const { return bluetoothUnavailableReason_; }
    const std::vector<ScheduledRoutine>& schedules() const { return schedules_; }
    const std::vector<ScheduleDefinition>& routines() const { return routines_; }
    const std::optional<std::string>& scheduleError() const { return scheduleError_; }
    const std::vector<TagInfo>& tags() const { return tags_; }
    const std::optional<std::string>& tagError() const { return tagError_; }
    const TagScanState& tagScanState() const { return tagScanState_; }
    const std::optional<TagScanResult>& tagScanResult() const { return tagScanResult_; }
    const std::vector<RoutineSummary>& routineSummaries() const { return routineSummaries_; }
    const std::map<std::uint32_t, RoutineDetailModel>& routineDetails() const { return routineDetails_; }
    const std::optional<std::string>& routineError() const { return routineError_; }
    const std::optional<ActiveRoutineContext>& activeRoutineContext() const { return activeRoutineContext_; }
    bool isConnected() const { return isConnected_; }
    const std::optional<SyncMode>& syncMode() const { return syncMode_; }
    const SyncStage& syncStage() const { return syncStage_; }
    bool hasLoadedData() const { return hasLoadedData_; }
    bool isReviewDemo() const { return isReviewDemo_; }
    bool legacyFirmwareUpgradeRequired() const { return legacyFirmwareUpgradeRequired_; }
    const std::vector<std::string>& backupMigrationWarnings() const { return backupMigrationWarnings_; }
    const std::optional<FirmwareAsset>& availableFirmwareAsset() const { return availableFirmwareAsset_; }
    const std::optional<std::string>& deviceFirmwareVersion() const { return deviceFirmwareVersion_; }
    FirmwareHardwareTarget deviceHardwareTarget() const { return deviceHardwareTarget_; }
    const std::string& firmwareSourceDescription() const { return firmwareSourceDescription_; }
    const std::string& firmwareChannelDescription() const { return firmwareChannelDescription_; }
    const std::string& firmwareManifestDescription() const { return firmwareManifestDescription_; }
    const std::optional<std::string>& firmwareAvailableVersion() const { return firmwareAvailableVersion_; }
    bool useLocalFirmwareBuilds() const { return useLocalFirmwareBuilds_; }
    const std::optional<FirmwareUpdateNotice>& firmwareUpdateNotice() const { return firmwareUpdateNotice_; }
    const std::optional<TimeSyncNotice>& timeSyncNotice() const { return timeSyncNotice_; }
    bool wifiSupported() const { return wifiSupported_; }
    std::int64_t wifiCredentialCapacity() const { return wifiCredentialCapacity_; }
    const std::vector<WifiCredentialSummary>& savedWifiCredentials() const { return savedWifiCredentials_; }
    const std::vector<WifiScannedNetwork>& nearbyWifiNetworks() const { return nearbyWifiNetworks_; }
    const WifiRequestActivityState& wifiRequestActivity() const { return wifiRequests_.activity(); }
    const std::optional<std::string>& wifiSettingsMessage() const { return wifiSettingsMessage_; }
    const std::optional<WifiConnectionNotice>& wifiConnectionNotice() const { return wifiConnectionNotice_; }
    const std::optional<WifiValidationFailure>& wifiValidationFailure() const { return wifiValidationFailure_; }
    const std::optional<std::string>& wifiLastSavedSsid() const { return wifiLastSavedSsid_; }
    const std::optional<int>& idleDisconnectSecondsRemaining() const { return idleDisconnectSecondsRemaining_; }
    bool muteNonAlarmSounds() const { return muteNonAlarmSounds_; }
    bool killSwitchSupported() const { return killSwitchSupported_; }
    const std::string& killSwitchUid() const { return killSwitchUid_; }
    // The device refused a settings change ("Settings update failed"); shown by the settings pane.
    const std::optional<std::string>& settingsError() const { return settingsError_; }
    bool routineStartTagsSupported() const { return routineStartTagsSupported_; }
    const std::optional<std::int64_t>& deviceSyncDataVersion() const { return deviceSyncDataVersion_; }
    bool virtualTavrikConnected() const { return localLink_->attached(); }

    const std::string& appVersion() const { return appVersion_; }
    bool tagScanSessionActive() const { return claims_.taken(LinkClaim::tagScan); }
    bool tagScanCommandPending() const { return tagScanCommandPending_; }
    // The local simulator's road.
    LocalLinkTransport& localLink() { return *localLink_; }
    const LocalLinkTransport& localLink() const { return *localLink_; }

    // --- Log (TavrikBleCentral_Log.cpp) ---
    void appendLog(const std::string& text, bool allowDuplicates);
    void appendBleDataLog(const BleDataMessageLogDetail& detail);
    // The log drawer's clear button.
    void clearLog();

    // --- Sync session (TavrikBleCentral_Session.cpp) ---
    void beginSession(SyncMode mode);
    void startRestoreSession();

    // --- Installing sync data (TavrikBleCentral_Install.cpp) ---
    // The routines of received data as the controller holds them, built a routine at a time.
    struct ReceivedRoutines {
        std::vector<RoutineSummary> summaries;
        std::map<std::uint32_t, RoutineDetailModel> details;
    };
    // Gives false, changing nothing, when the envelope names a hardware target this program does not know.
    // The routines come from `received` when given (built beforehand), else from the envelope.
    bool applySyncData(const SyncDataEnvelope& envelope, bool updateDeviceCapabilities,
        std::optional<std::int64_t> reportedDataVersion, std::optional<ReceivedRoutines> received = std::nullopt);

    // --- Idle disconnect, eject and termination (TavrikBleCentral_Lifecycle.cpp) ---
    static constexpr int idleDisconnectTimeoutSeconds = LinkEnd::idleSeconds;
    // Restarts the idle minute; the window calls it for every key, mouse and scroll event.
    void recordUserInteraction();
    // Enables the window's eject control.
    bool canEjectTavrik() const;
    void ejectTavrik();
    // The orderly quit: tells the device, lets go of the link and then calls `completion` once, also
    // when the device never answers. From its start on, no disconnect begins a new load, scan or connection.
    void prepareForAppTermination(std::function<void()> completion);
    bool isPreparingForTermination() const { return isPreparingForTermination_; }

    // --- Routine control, tag and clock commands (TavrikBleCentral_RoutineControl.cpp) ---
    // Sends on "tag" ("scan", "scan purpose=kill_switch", "cancel"); true when accepted.
    bool sendTagCommand(const std::string& command);

    // --- Device clock (TavrikBleCentral_Clock.cpp) ---
    // The notice's "Update Time".
    void acceptTimeSyncNotice();
    // The notice's "Cancel": closes it and restarts the idle minute.
    void dismissTimeSyncNotice();

    // --- Review demo (TavrikBleCentral_Demo.cpp) ---
    // Enters (or re-enters) the demo with fresh sample data; the program's --demo switch calls it.
    void beginReviewDemo();
    // Leaves the demo and begins a real load session.
    void endReviewDemo();
    static SyncDataEnvelope reviewDemoData();

    // --- Routines (TavrikBleCentral_Routines.cpp) ---
    // Saves a new routine; its id, or nothing when refused (the reason is in routineError).
    std::optional<std::uint32_t> createRoutine(const RoutineDraft& draft);
    // Saves an edited routine; true when something was applied, false when refused or unchanged.
    bool updateRoutine(std::uint32_t id, const RoutineDraft& draft);
    void deleteRoutine(std::uint32_t id);
    // Asks the device to start the routine.
    void triggerRoutine(std::uint32_t id);
    // A routine start that gets no answer lets go of the link after this long, like a Wi-Fi request.
    static constexpr std::chrono::milliseconds routineStartTimeout = WifiRequests::timeout;

    // --- Schedules (TavrikBleCentral_Schedules.cpp) ---
    // A recurring schedule for the routine at 08:00 every day; gives its new (local) id.
    std::uint32_t createSchedule(std::uint32_t routineId);
    // Hour and minute are clamped to 0...23 and 0...59; on a one-time schedule they move its moment.
    void setScheduleHour(std::uint32_t id, std::int64_t hour);
    void setScheduleMinute(std::uint32_t id, std::int64_t minute);
    // Weekdays 0 (Sunday) to 6; makes the schedule recurring.
    void setScheduleDays(std::uint32_t id, const std::set<int>& selectedDays);
    void setScheduleEnabled(std::uint32_t id, bool enabled);
    void setScheduleKind(std::uint32_t id, ScheduleKind kind);
    // The one-time moment, read as wall-clock time in the clock's zone; makes the schedule one-time.
    void setScheduleStartsAt(std::uint32_t id, Moment date);
    void deleteSchedule(std::uint32_t id);
    // Sends "update id=<id> <attribute>=<value>" on the channel, debounced per item and attribute.
    // The value goes in as given: callers quote free text first.
    void update(AtomicCommandChannel channel, std::uint32_t id, std::string_view attribute, std::string_view value);

    // --- Device settings (TavrikBleCentral_Settings.cpp) ---
    // Also remembered in the user defaults, except in demo mode.
    void setMuteNonAlarmSounds(bool value);
    // Blank runs are collapsed and letters upper-cased; an empty text removes the kill-switch tag.
    // Does nothing when the device has no kill-switch setting.
    void setKillSwitchUid(std::string_view uid);

    // --- Tags (TavrikBleCentral_Tags.cpp) ---
    // Saved-tag edits: shown at once, then sent on the "tag" channel. A duplicate name or UID sets
    // tagError and changes nothing.
    void createTag(const std::string& name, const std::string& uid);
    void updateTag(std::uint32_t id, const std::string& name);
    void updateTagUid(std::uint32_t id, const std::string& uid);
    // False, with tagError naming the routines, when a routine still uses the tag.
    bool deleteTag(std::uint32_t id);
    // The saved tag a step's tag reference (decimal id text) names.
    std::optional<TagInfo> tagForIdReference(std::string_view reference) const;
    template <class Value>
    static bool hasSyncedChange(const Value& from, const Value& to)
    {
        return from.syncSignature() != to.syncSignature();
    }
    // Asks the device to read the next tag held near its reader, connecting first when needed.
    void beginTagScan(TagScanPurpose purpose);
    // Closes the scan; a connection made only for the scan is dropped.
    void endTagScanSession();
    // A view stopping a scan clears the scan command that still waits for a connection.
    void setTagScanCommandPending(bool pending) { tagScanCommandPending_ = pending; }

    // --- Wi-Fi (TavrikBleCentral_Wifi.cpp) ---
    static constexpr std::chrono::milliseconds wifiRequestTimeout = WifiRequests::timeout;
    void scanWifiNetworks();
    void checkSavedWifiCredentials();
    void validateAndSaveWifiCredential(const std::string& ssid, const std::string& password);
    // Saves without validation when `verified` is false ("Save Anyway" passes failedWifiCandidate()).
    void sendWifiUpsert(const WifiCandidate& candidate, bool verified);
    void removeWifiCredential(const std::string& ssid);
    // The network whose validation or save failed last.
    const std::optional<WifiCandidate>& failedWifiCandidate() const { return failedWifiCandidate_; }
    void clearFailedWifiCandidate() { failedWifiCandidate_.reset(); }
    void clearWifiValidationFailure();
    void clearWifiSettingsMessage();
    void dismissWifiConnectionNotice();
    // Forgets the outstanding request and its time-out (messages and notices stay), and ends a command
    // connection that was kept only for it.
    void resetWifiRequestState();
    static std::string wifiFailureMessage(const std::string& reason, const std::optional<std::string>& fallback);

    // --- Backup (TavrikBleCentral_Backup.cpp) ---
    // The bytes of a backup file of the current data; throws with the user text when the data is inconsistent.
    Data exportSyncData();
    // Migrates a backup file's bytes, installs them and starts a restore session that writes them to the
    // device. Throws with the user text; a refused file leaves everything as it was.
    void importSyncData(const Data& data);
    // The same in parts, so that the migration and the conversion can run away from the window's
    // thread: whether a backup may be imported now (throws the refusal), its preparation, and the
    // install of a prepared one (checked again, as the device may have changed meanwhile).
    void checkSyncDataImport() const;
    using BackupPreparation = std::function<PreparedBackup(const Data&)>;
    // Migrates a backup's bytes and converts its routines, touching nothing of the controller, so that
    // it may run on a worker thread: converting a large routine is most of an import's work. The ids
    // of the new nodes come from a generator seeded here, from the controller's own source.
    BackupPreparation backupPreparation();
    // Installs a prepared backup and starts the restore session, as importSyncData does.
    void importPreparedBackup(PreparedBackup prepared);

    // --- Firmware (TavrikBleCentral_Firmware.cpp) ---
    // Starts a new catalog lookup for the connected board, dropping any earlier one (the pane's
    // "Check Again", the window's first showing, demo mode starting or ending).
    void refreshFirmwareAvailability();
    // Installs `availableFirmwareAsset` over Bluetooth; refusals show in the upload status.
    void startFirmwareInstall();
    // Stops a running download or transfer (the pane's "Cancel Upload").
    void cancelFirmwareInstall();
    // Clears `firmwareUpdateNotice` (the notice alert's buttons).
    void dismissFirmwareUpdateNotice();
    // The channel manifest later lookups read; the published stable channel unless set.
    void setFirmwareChannelURL(const Url& url);
    const Url& firmwareChannelURL() const;
    FirmwareUploadService& firmwareUpload() { return *firmwareUpload_; }
    const FirmwareUploadService& firmwareUpload() const { return *firmwareUpload_; }
    UsbOnboardingService& usbOnboarding() { return *usbOnboarding_; }
    const UsbOnboardingService& usbOnboarding() const { return *usbOnboarding_; }

signals:
    void logChanged(); // logEntries and logItems change together
    void statusTextChanged();
    void bluetoothUnavailableReasonChanged();
    void schedulesChanged();
    void routinesChanged();
    void scheduleErrorChanged();
    void tagsChanged();
    void tagErrorChanged();
    void tagScanStateChanged();
    void tagScanResultChanged();
    void routineSummariesChanged();
    void routineDetailsChanged();
    void routineErrorChanged();
    void activeRoutineContextChanged();
    void isConnectedChanged();
    void syncModeChanged();
    void syncStageChanged();
    void hasLoadedDataChanged();
    void isReviewDemoChanged();
    void legacyFirmwareUpgradeRequiredChanged();
    void backupMigrationWarningsChanged();
    void availableFirmwareAssetChanged();
    void deviceFirmwareVersionChanged();
    void deviceHardwareTargetChanged();
    void firmwareDescriptionsChanged(); // source, channel and manifest descriptions
    void firmwareAvailableVersionChanged();
    void useLocalFirmwareBuildsChanged();
    void firmwareUpdateNoticeChanged();
    void timeSyncNoticeChanged();
    void wifiSupportedChanged();
    void wifiCredentialCapacityChanged();
    void savedWifiCredentialsChanged();
    void nearbyWifiNetworksChanged();
    void wifiRequestActivityChanged();
    void wifiSettingsMessageChanged();
    void wifiConnectionNoticeChanged();
    void wifiValidationFailureChanged();
    void wifiLastSavedSsidChanged();
    void idleDisconnectSecondsRemainingChanged();
    void muteNonAlarmSoundsChanged();
    void killSwitchSupportedChanged();
    void killSwitchUidChanged();
    void settingsErrorChanged();
    void routineStartTagsSupportedChanged();
    void deviceSyncDataVersionChanged();
    void virtualTavrikConnectedChanged();
    // A service the controller owns changed; views bound to it redraw.
    void firmwareUploadChanged();
    void usbOnboardingChanged();

private:
    // Assigns and emits only when the value really changed.
    template <class T, class U>
    void publish(T& field, U&& value, void (TavrikBleCentral::*changed)())
    {
        if (field == value) {
            return;
        }
        beforeDataChange(&field);
        field = std::forward<U>(value);
        emit(this->*changed)();
    }
    // A field is about to change: what was derived from the data it belongs to is settled first.
    void beforeDataChange(const void* field);
    void setStatusText(const std::string& text) { publish(statusText_, text, &TavrikBleCentral::statusTextChanged); }
    void setSyncStage(SyncStage stage) { publish(syncStage_, std::move(stage), &TavrikBleCentral::syncStageChanged); }
    void setSyncMode(std::optional<SyncMode> mode) { publish(syncMode_, mode, &TavrikBleCentral::syncModeChanged); }
    void setIsConnected(bool value) { publish(isConnected_, value, &TavrikBleCentral::isConnectedChanged); }
    void setScheduleError(std::optional<std::string> value)
    {
        publish(scheduleError_, std::move(value), &TavrikBleCentral::scheduleErrorChanged);
    }
    void setTagError(std::optional<std::string> value)
    {
        publish(tagError_, std::move(value), &TavrikBleCentral::tagErrorChanged);
    }
    void setRoutineError(std::optional<std::string> value)
    {
        publish(routineError_, std::move(value), &TavrikBleCentral::routineErrorChanged);
    }
    void setTagScanState(TagScanState value)
    {
        publish(tagScanState_, std::move(value), &TavrikBleCentral::tagScanStateChanged);
    }
    // Runs the routine-summary observer after every assignment.
    void setRoutineSummaries(std::vector<RoutineSummary> value);
    void replaceRoutineSummary(std::size_t index, RoutineSummary summary);
    bool moveRoutineDefinition(std::uint32_t id);
    std::vector<std::uint32_t> savedTagIds() const;
    void setHasLoadedData(bool value) { publish(hasLoadedData_, value, &TavrikBleCentral::hasLoadedDataChanged); }
    // Ends the running session's bookkeeping: mode, shown mode and code.
    void clearSessionFields();
    std::string drawSyncCode();
    // Some work holds a claim on the link, so a connection is wanted.
    bool isConnectionWanted() const;
    // Sets the stage, firmware status, routine error or tag scan state, whichever work waits.
    void reportConnectionProgress();
    void renewBaseline();
    std::unique_ptr<FirmwareUploadService> makeFirmwareUploadService();
    // Sends the queue in order; the first refused command and every later one stay queued, in order.
    void deliverQueuedCommands();
    // Gives up every queued command, telling where each edit was made that it was not saved.
    void dropQueuedCommands();
    // Shows a channel's save-failure message where its edits are made (the log for settings).
    void reportUnsavedCommand(AtomicCommandChannel channel);
    // A load or restore has ended: what waited for it goes out now or, with the link gone, is given up
    // and reported.
    void deliverWorkHeldBySession();
    // Drops the queued edits (reported) and the pending routine and clock commands; ends the command connection.
    void giveUpHeldWork();

    // Internal steps; tests reach the few they need through their probe.
    void startScanningIfPossible();
    void failUnavailableDataChannel();
    // The load's or restore's bound on the device's silence starts (again), or stops.
    void armSyncBound();
    void disarmSyncBound();
    // The claims on the link that the session, the Wi-Fi requests and the firmware install hold.
    bool heldElsewhere(LinkClaim claim) const;
    // A claim's bound ran out: its work ends with `failure`.
    void handleExpiredClaim(LinkClaim claim, const std::string& failure);
    void failIncompleteLoad(const std::string& message);
    void finishControlSessionIfIdle();
    // The planner's step and group commands, one persist each, in its order.
    void persistNodeCommands(const std::vector<RoutineMutationPlanner::RoutineNodePersistCommand>& commands);
    void persist(AtomicCommandChannel channel, const PersistId& id, const std::vector<std::string>& commands,
        bool debounce, const std::optional<std::string>& attribute);
    // Connected and able to carry a command: a data characteristic is attached or the local link is up.
    bool isDeviceAttached() const;
    SyncSnapshot currentSnapshot() const;
    void updateNextLocalIds();
    void receiveRoutine(ReceivedRoutines& received, const RoutinePayload& routine);
    static void receiveRoutine(ReceivedRoutines& received, const RoutinePayload& routine, RandomSource& random);
    // Turns the migrated routines into `prepared`'s received ones, leaving the envelope without routines.
    static void convertRoutines(PreparedBackup& prepared, RandomSource& ids);
    bool shouldScheduleIdleDisconnect() const;
    // Work that keeps the link up whatever the idle minute says.
    bool isLinkHeldByWork() const;
    // The idle minute ran out: edits the link keeps refusing get one more try, then are given up.
    void giveUpRefusedEdits();
    void showIdleCountdown(std::optional<int> seconds);
    // Tells the device on "system", then after a short grace resets and begins a new load (or the demo).
    void disconnectAndReturnToLoad(std::string_view command, const std::string& logMessage);
    void startCommandConnection();
    void updateStatus(const std::string& text);
    // Connects to the simulator's offered session when some work wants the link.
    void connectVirtualTavrikIfNeeded();
    // Starts a routine on the device ("trigger id=..."), connecting first when needed.
    void startRoutineControl(const std::string& command);
    void evaluateTimeSyncNeed(const std::optional<DeviceClockSnapshot>& reading);
    void refreshActiveRoutineContextIfNeeded(std::optional<std::uint32_t> routineId);
    // `relabelledOnly`: the one routine whose label alone changed since the last refresh.
    void refreshRoutineDefinitions(std::optional<std::uint32_t> relabelledOnly = std::nullopt);
    std::vector<RoutineStepModel> routineStepModels(const std::vector<RoutineStepPayload>& steps) const;
    std::vector<RoutineGroupModel> routineGroupModels(const std::vector<RoutineGroupPayload>& groups) const;
    std::vector<RoutinePayload> buildRoutinePayloads() const;
    // Throws SyncImportError naming the first broken tag reference of the stored routines with
    // `details` put in their place.
    void validateRoutineTagReferences(const std::vector<RoutineDetailModel>& details) const;
    // The schedules as a backup holds them, labelled with their routines' names; throws
    // SyncImportError for a schedule without a routine or without an id.
    std::vector<ScheduledRoutine> schedulesResolvedForPersistence() const;
    std::vector<TagInfo> normalizedTags(const std::vector<TagInfo>& tags);
    void deactivateTagScanSession();
    void recordBackupMigration(const BackupMigrationResult& result);
    void selectFirmwareAssetForConnectedTarget();
    void updateFirmwareNoticeIfNeeded();
    std::string firmwareStatusMessage(const FirmwareAsset& asset) const;
    // Why this application version may not install the image over Bluetooth, or nothing.
    std::optional<std::string> otaCompatibilityError(const FirmwareAsset& asset) const;

    // Internal state; tests read it only through their probe.
    const std::optional<std::string>& syncCode() const { return syncCode_; }
    const std::optional<SyncMode>& sessionMode() const { return sessionMode_; }
    const std::optional<SyncSnapshot>& baselineSnapshot() const { return baselineSnapshot_.value(); }
    const std::optional<TavrikBleProtocolProfile>& activeBleProfile() const { return activeBleProfile_; }
    const std::shared_ptr<BlePeripheral>& targetPeripheral() const { return targetPeripheral_; }
    const std::optional<BleCharacteristic>& dataCharacteristic() const { return bluetoothLink_->dataCharacteristic(); }
    const std::optional<BleCharacteristic>& firmwareCharacteristic() const
    {
        return bluetoothLink_->firmwareCharacteristic();
    }
    bool isExpectingResetDisconnect() const { return isExpectingResetDisconnect_; }
    const std::optional<std::string>& pendingRoutineCommand() const { return pendingRoutineCommand_; }
    const std::optional<std::string>& pendingClockCommand() const { return pendingClockCommand_; }
    bool isReadingLoadInSlices() const { return loadWork_.isRunning(); }
    std::uint32_t nextLocalScheduleId() const { return nextLocalScheduleId_; }
    std::uint32_t nextLocalTagId() const { return nextLocalTagId_; }
    std::uint32_t nextLocalRoutineId() const { return nextLocalRoutineId_; }
    TagScanPurpose tagScanPurpose() const { return tagScanPurpose_; }
    BleDataChannel& dataService() { return bluetoothLink_->channel(); }
    bool didOfferTimeSyncForCurrentLoad() const { return didOfferTimeSyncForCurrentLoad_; }
    // Saved routines whose echo from the device is still awaited, with the saved content's signature.
    const std::map<std::uint32_t, std::int64_t>& pendingRoutineDetailSignatures() const
    {
        return pendingRoutineDetailSignatures_;
    }

    // The steps that events from the links and the user's operations run through. Tests reach them
    // only through their probe.
    void handleStateChange(BleManagerState state);
    void handleDiscovery(const std::shared_ptr<BlePeripheral>& peripheral, int rssi);
    void handleConnect(const std::shared_ptr<BlePeripheral>& peripheral);
    void handleConnectFailure(const std::optional<BleError>& error);
    void handleDisconnect(const std::optional<BleError>& error);
    void handleServices(BlePeripheral& peripheral, const std::optional<BleError>& error);
    void handleCharacteristics(const Uuid& serviceUuid, BlePeripheral& peripheral, const std::optional<BleError>& error);
    void handleDataSubscription(const BleCharacteristic& characteristic, const std::optional<BleError>& error);
    void sendSyncStart();
    void handleSyncControl(const Data& payload, const std::string& fallback);
    void sendSyncRestore();
    void handleDataEnvelope(std::uint16_t messageId, Data payload);
    // A message that is not held back: routed, or read whole when it is data.
    void routeDataEnvelope(const Data& payload);
    // Starts reading a current "sync_data" message a few routines at a turn; false when the message
    // takes the whole-document road.
    bool startSlicedLoad(Data& payload);
    // Takes in the data `read` gives, or shows why there is none.
    void installSyncData(
        const std::function<BackupMigrationResult()>& read, std::optional<ReceivedRoutines> received = std::nullopt);
    // The messages that waited for a sliced load, in order, until one starts another.
    void deliverHeldMessages();
    // A sliced load ends unread with its connection, and what waited for it with it.
    void cancelSlicedLoad();
    // Called before an edit touches the window's data: data that arrived and are still being read
    // are taken in first, so the edit applies to them as it would had they been read at once.
    void takeInArrivedData();
    void sendOrQueue(const AtomicCommand& command);
    void sendAtomicCommandsIfNeeded();
    void resetLocalData(bool preserveExpectedDisconnect);
    void resetConnectionState();
    void sendRoutineCommand(const std::string& command);
    // Sends the routine command that waited for the link, if any.
    void sendPendingRoutineCommand();
    // Sends everything held for the command connection: queued edits, then the routine, clock and
    // Wi-Fi requests that waited.
    void sendHeldCommands();
    void sendPendingClockCommandIfNeeded();
    void handleClockPayload(const Data& payload);
    void sendCurrentTimeToTavrik();
    void handleRoutinePayload(const Data& payload);
    void resetRoutineState();
    void handleSchedulePayload(const Data& payload);
    void resetScheduleState();
    void handleTagPayload(const Data& payload);
    void resetTagState();
    void handleWifiStatus(const Data& payload);
    void handleWifiScanResults(const Data& payload);
    void sendPendingWifiRequestIfNeeded();
    void handleFirmwarePayload(const Data& payload);

    // BleCentralDelegate
    void centralDidUpdateState() override;
    void centralDidDiscover(std::shared_ptr<BlePeripheral> peripheral, int rssi) override;
    void centralDidConnect(std::shared_ptr<BlePeripheral> peripheral) override;
    void centralDidFailToConnect(std::shared_ptr<BlePeripheral> peripheral, std::optional<BleError> error) override;
    void centralDidDisconnect(std::shared_ptr<BlePeripheral> peripheral, std::optional<BleError> error) override;
    // BlePeripheralDelegate
    void peripheralDidDiscoverServices(BlePeripheral& peripheral, std::optional<BleError> error) override;
    void peripheralDidDiscoverCharacteristics(
        BlePeripheral& peripheral, const Uuid& serviceUuid, std::optional<BleError> error) override;
    void peripheralDidUpdateNotificationState(
        BlePeripheral& peripheral, const BleCharacteristic& characteristic, std::optional<BleError> error) override;
    void peripheralDidUpdateValue(BlePeripheral& peripheral, const BleCharacteristic& characteristic, const Data& value,
        std::optional<BleError> error) override;
    void peripheralDidWriteValue(
        BlePeripheral& peripheral, const BleCharacteristic& characteristic, std::optional<BleError> error) override;
    void peripheralIsReadyToSendWriteWithoutResponse(BlePeripheral& peripheral) override;

    // Seams
    BleCentral& central;
    Scheduler& scheduler;
    const Clock& clock;
    RandomSource& random;
    KeyValueStore& defaults;
    FirmwareDownload firmwareDownload;

    // Published device data and view state
    ControllerLog log_ { clock, random, [this] { emit logChanged(); } };
    std::string statusText_ = "Bluetooth idle";
    BleUnavailableReason bluetoothUnavailableReason_ = BleUnavailableReason::none;
    std::vector<ScheduledRoutine> schedules_;
    std::vector<ScheduleDefinition> routines_;
    std::optional<std::string> scheduleError_;
    std::vector<TagInfo> tags_;
    std::optional<std::string> tagError_;
    TagScanState tagScanState_ = TagScanState::idle();
    std::optional<TagScanResult> tagScanResult_;
    std::vector<RoutineSummary> routineSummaries_;
    std::map<std::uint32_t, RoutineDetailModel> routineDetails_;
    std::optional<std::string> routineError_;
    std::optional<ActiveRoutineContext> activeRoutineContext_;
    bool isConnected_ = false;
    std::optional<SyncMode> syncMode_;
    SyncStage syncStage_ = SyncStage::idle();
    bool hasLoadedData_ = false;
    bool isReviewDemo_ = false;
    bool legacyFirmwareUpgradeRequired_ = false;
    std::vector<std::string> backupMigrationWarnings_;
    std::optional<FirmwareAsset> availableFirmwareAsset_;
    std::optional<std::string> deviceFirmwareVersion_;
    FirmwareHardwareTarget deviceHardwareTarget_ = FirmwareHardwareTarget::m5StickC;
    std::string firmwareSourceDescription_ = "Published HTTPS";
    std::string firmwareChannelDescription_ = "stable";
    std::string firmwareManifestDescription_; // the published channel's address, set by the constructor
    std::optional<std::string> firmwareAvailableVersion_;
    bool useLocalFirmwareBuilds_ = false;
    std::optional<FirmwareUpdateNotice> firmwareUpdateNotice_;
    std::optional<TimeSyncNotice> timeSyncNotice_;
    bool wifiSupported_ = false;
    std::int64_t wifiCredentialCapacity_ = 0;
    std::vector<WifiCredentialSummary> savedWifiCredentials_;
    std::vector<WifiScannedNetwork> nearbyWifiNetworks_;
    std::optional<std::string> wifiSettingsMessage_;
    std::optional<WifiConnectionNotice> wifiConnectionNotice_;
    std::optional<WifiValidationFailure> wifiValidationFailure_;
    std::optional<std::string> wifiLastSavedSsid_;
    std::optional<int> idleDisconnectSecondsRemaining_;
    bool muteNonAlarmSounds_ = false; // read from the user defaults by the constructor
    bool killSwitchSupported_ = false;
    std::string killSwitchUid_;
    std::optional<std::string> settingsError_;
    bool routineStartTagsSupported_ = false;
    std::optional<std::int64_t> deviceSyncDataVersion_;

    // Bluetooth connection
    std::shared_ptr<BlePeripheral> targetPeripheral_;
    std::optional<TavrikBleProtocolProfile> activeBleProfile_;
    bool isExpectingResetDisconnect_ = false;
    std::unique_ptr<BluetoothDeviceLink> bluetoothLink_;
    // The link messages go out on: the simulator's while it is attached, else Bluetooth.
    DeviceLink& link();
    const DeviceLink& link() const;
    // The link is ready for messages: sends what the waiting work holds for the device.
    void handleLinkReady();

    // Sync session
    std::optional<std::string> syncCode_;
    BaselineSnapshot baselineSnapshot_ { [this] { return currentSnapshot(); } };
    // The tag ids against which the stored routines last passed the tag-reference check.
    std::optional<std::vector<std::uint32_t>> routineReferencesCheckedWith_;
    std::optional<StoreSnapshotPayload> storeSnapshot_;
    std::optional<SyncMode> sessionMode_;
    SlicedWork loadWork_ { scheduler, loadSlice };
    std::deque<std::pair<std::uint16_t, Data>> heldMessages_;
    bool didOfferTimeSyncForCurrentLoad_ = false;

    // Command path and routine control
    std::optional<std::string> pendingRoutineCommand_;
    // The routine command's exchange is over: answered, timed out or given up. While a sent routine
    // command awaits its answer (the routine-control claim), a device "error" is that answer.
    void endRoutineExchange();
    std::optional<std::string> pendingClockCommand_;
    std::map<std::uint32_t, std::int64_t> pendingRoutineDetailSignatures_;
    CommandPath commandPath_ { scheduler,
        { [this](const AtomicCommand& command) { return sendCommandOnLink(command); },
            [this](const AtomicCommand& command) { sendOrQueue(command); } } };
    // Sends one command of the path on the link that is attached, unless a version gate stops it.
    CommandPath::Sent sendCommandOnLink(const AtomicCommand& command);
    // The last peripheral whose link the controller saw come up.
    std::weak_ptr<BlePeripheral> linkedPeripheral_;
    // Before the link is let go: every edit still in its debounce or queued goes out now, in order.
    void sendWaitingEdits();
    // Channels whose edits the link refused and that wait to be sent again; once none of a channel
    // waits any more, its "Failed to save … change" goes.
    std::set<AtomicCommandChannel> refusedSavesWaiting_;
    void clearDeliveredSaveFailures();
    // The device answered a command of `channel` with its whole list: items whose newer edit it has
    // not answered yet keep the window's state (presence and fields), so an answer to an older edit
    // never undoes what the user typed since. The answer to the last edit settles the item.
    template <class Item>
    void keepUnansweredEdits(AtomicCommandChannel channel, std::vector<Item>& answer, const std::vector<Item>& shown);

    // Local simulator link
    std::unique_ptr<LocalLinkTransport> localLink_;
    bool automaticallyPollLocalLink_ = true;

    // Services
    std::unique_ptr<FirmwareManifestLoader> manifestLoader_;
    std::unique_ptr<UsbOnboardingService> usbOnboarding_;
    std::unique_ptr<FirmwareUploadService> firmwareUpload_;
    std::string appVersion_;

    // Data operations: routines, tags, schedules, Wi-Fi and the firmware lookup
    std::uint32_t nextLocalScheduleId_ = 1;
    std::uint32_t nextLocalTagId_ = 1;
    std::uint32_t nextLocalRoutineId_ = 1;
    bool tagScanCommandPending_ = false;
    TagScanPurpose tagScanPurpose_ = TagScanPurpose::generic;
    ScheduledTask tagScanKeepaliveTask_ { scheduler };
    Uuid firmwareLookupGeneration_;
    WifiRequests wifiRequests_ { scheduler, random,
        { [this](const WifiRequestContext& expired) {
             handleFailedWifiRequest(expired, "request_timeout", std::nullopt);
             finishControlSessionIfIdle();
         },
            [this] { emit wifiRequestActivityChanged(); } } };
    std::optional<WifiCandidate> failedWifiCandidate_;
    bool didShowWifiFailureForCurrentSession_ = false;
    std::optional<FirmwareCatalog> firmwareCatalog_;

    // Connection life: local link, idle disconnect, eject, routine control, clock, demo
    bool isPreparingForTermination_ = false;
    // Which work holds the link, each claim's bound, and the rest after failed connects.
    LinkClaims claims_ { scheduler,
        { [this](LinkClaim claim) { return heldElsewhere(claim); },
            [this](LinkClaim claim, const std::string& failure) { handleExpiredClaim(claim, failure); },
            [this] {
                if (sessionMode_ == SyncMode::load && !isConnected_ && !targetPeripheral_) {
                    startScanningIfPossible();
                }
            } } };
    // Gives a failure to every piece of work that waits for the link: the session, an upload, the
    // command connection and a tag scan (which `endTagScan` also closes).
    void failWaitingWork(const std::string& message, bool endTagScan);
    // The data channel failed: shows the status, tells the waiting work, and on the secure profile
    // lets go of the connection.
    void failDataChannel(const std::string& status, const std::string& message);
    // A load whose connect failed looks for the device again, showing `status`; true when it does.
    bool retryLoadAfterConnectFailure(const std::optional<BleError>& error, const std::string& status);
    // Discovery found no usable service or data characteristic: the connect failed, with `status`.
    void failDiscovery(const std::string& status);
    // The idle minute and the disconnect and quit graces; the controller keeps their effects.
    LinkEnd linkEnd_ { scheduler,
        { [this] { return shouldScheduleIdleDisconnect() && !isPreparingForTermination_; },
            [this] { return isConnected_; }, [this] { return isLinkHeldByWork(); }, [this] { giveUpRefusedEdits(); },
            [this](std::optional<int> seconds) { showIdleCountdown(seconds); },
            [this] { disconnectAndReturnToLoad("disconnect", "Disconnecting Bluetooth after one minute idle"); } } };
    // Callers waiting for the orderly quit; shared so that they are answered even if the controller goes first.
    std::shared_ptr<std::vector<std::function<void()>>> terminationCompletions_;
    // The clock command for the current local time.
    std::optional<std::string> currentClockCommand() const;
    void releaseLinkForTermination();
    static void finishAppTermination(std::vector<std::function<void()>>& completions);

    // Routine operations state
    void storeRoutineDetail(const RoutineDetailModel& detail);
    ActiveRoutineContext makeActiveRoutineContext(std::uint32_t routineId, std::int64_t stepIndex, bool isRunning) const;
    RoutineDetailModel routineDetail(std::uint32_t id, const std::string& label, const RoutineDraft& draft);
    // The refusal text of a save, checked in the order the user should fix things; `updatingId` is
    // the routine's id for an update, nothing for a create.
    std::optional<std::string> routineSaveRefusal(
        const RoutineDraft& draft, std::optional<std::uint32_t> updatingId) const;

    // Schedule and settings operations state
    // The edit core: applies `mutate` to the schedule and sends the one update when its signature changed.
    void updateSchedule(std::uint32_t id, std::string_view attribute, std::string_view value,
        const std::function<void(ScheduledRoutine&)>& mutate);
    void publishSchedules(std::vector<ScheduledRoutine> schedules);

    // Tag operations state
    void startTagScanKeepalive();
    // A rename or new UID: applied at once, then sent as one debounced attribute update.
    void editTag(std::uint32_t id, std::string_view attribute, const std::string& value,
        const std::function<void(TagInfo&)>& mutate);

    // Settings operations state
    // The device's "error" after a settings command.
    void handleSettingsError();

    // A change the device refused: its values are loaded again once the link is free, over the
    // open connection and without hiding the refusal's error text.
    void reloadAfterRefusedChange();
    void scheduleRefusedChangeReload();
    void startRefusedChangeReloadIfLinkFree();
    void finishRefusedChangeReload();
    bool refusedChangeReloadWanted_ = false;
    bool refusedChangeReloadRunning_ = false;
    ScheduledTask refusedChangeReloadCheck_ { scheduler };
    ScheduledTask refusedChangeReloadGuard_ { scheduler };

    // Wi-Fi operations state
    void sendWifiRequest(const WifiRequestEnvelope& envelope, const WifiRequestContext& context);
    void handleSuccessfulWifiRequest(const WifiRequestContext& context, const std::optional<std::string>& ssid);
    void handleFailedWifiRequest(
        const WifiRequestContext& context, const std::string& reason, const std::optional<std::string>& message);
    void setWifiSettingsMessage(std::optional<std::string> message);
    std::string wifiTimeZone() const;

    // Firmware lookup and install state
    std::optional<Url> firmwareChannelURL_;
    FirmwareManifestLoader::Handle firmwareLookupLoad_ = FirmwareManifestLoader::invalidHandle;
    void finishFirmwareLookup(const Uuid& generation, FirmwareManifestLoader::CatalogResult result);
    // An install runs: its image is downloading or being transferred.
    bool isFirmwareBusy() const;
    // The connected board has a data channel but no firmware characteristic: no image can reach it.
    bool lacksFirmwareChannel() const;
    // Source, channel and manifest change together, with one signal.
    void setFirmwareDescriptions(std::string source, std::string channel, std::string manifest);
};

} // namespace tavrik
