#pragma once

#include "TavrikCore/Firmware/FirmwareAsset.hpp"
#include "TavrikCore/Link/BleDataChannel.hpp"
#include "TavrikCore/Link/BleDataMessageLogDetail.hpp"
#include "TavrikCore/Model/ClockModels.hpp"
#include "TavrikCore/Model/DeviceCapabilities.hpp"
#include "TavrikCore/Model/RoutineModels.hpp"
#include "TavrikCore/Model/RoutinePayloads.hpp"
#include "TavrikCore/Model/ScheduleModels.hpp"
#include "TavrikCore/Model/SettingsModels.hpp"
#include "TavrikCore/Model/SyncPayloads.hpp"
#include "TavrikCore/Model/TagModels.hpp"
#include "TavrikCore/Model/WifiModels.hpp"
#include "TavrikCore/Support/Clock.hpp"
#include "TavrikCore/Support/Data.hpp"
#include "TavrikCore/Support/Json.hpp"
#include "TavrikCore/Support/RandomSource.hpp"

#include <chrono>
#include <concepts>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace tavrik {

class FirmwareTransfer;

// One device link driven by a host with JSON actions. It does no input or output itself: every action
// returns the whole state and the effects (writes, downloads, disconnect requests) the host must perform.
// No threads or timers: time moves only through the injected clock, read during dispatch.
class CompanionSession final {
public:
    using Bytes = std::span<const std::uint8_t>;

    explicit CompanionSession(
        bool allowSimulator, const Clock& clock = systemClock(), RandomSource& random = defaultRandomSource());
    ~CompanionSession();
    CompanionSession(const CompanionSession&) = delete;
    CompanionSession& operator=(const CompanionSession&) = delete;

    // One action envelope and its payload; gives the response document. Never throws.
    Data dispatch(Bytes action, Bytes payload);

private:
    class EffectTransport;
    struct ResponseCache;
    // Lets the transfer engine stay an incomplete type here; only the firmware sources see it whole.
    struct FirmwareTransferDeleter {
        void operator()(FirmwareTransfer* transfer) const;
    };

    // A wall clock that reads a given zone; everything else comes from `clock`.
    class SessionZoneClock final : public Clock {
    public:
        SessionZoneClock(const Clock& base, const std::string& zone)
            : base(base)
            , zone(zone)
        {
        }
        std::chrono::system_clock::time_point now() const override { return base.now(); }
        std::string timeZoneId() const override { return zone; }
        std::string localeId() const override { return base.localeId(); }
        std::chrono::milliseconds uptime() const override { return base.uptime(); }

    private:
        const Clock& base;
        const std::string& zone;
    };

    // The network of the outstanding Wi-Fi request.
    struct WifiCandidateNetwork {
        std::string ssid;
        std::string password;
        std::string timezone; // POSIX TZ text

        friend bool operator==(const WifiCandidateNetwork&, const WifiCandidateNetwork&) = default;
    };

    // Lists and records that `replaceDevice` puts into a copy of `device`; absent members keep the stored ones.
    struct DeviceReplacement {
        std::optional<std::vector<ScheduledRoutine>> schedules {};
        std::optional<std::vector<TagInfo>> tags {};
        std::optional<std::vector<RoutinePayload>> routines {};
        std::optional<SyncSettingsPayload> settings {};
        std::optional<WifiCapabilityPayload> wifi {};
        std::optional<DeviceClockSnapshot> clock {};
    };

    // Operations are grouped by the source file that defines them. Each concern adds its own private
    // helpers inside its own group below; the shared operations are for everyone.

    // --- Dispatch and response (CompanionSession.cpp) ---
    // Routes one checked envelope; throws the action's error.
    void route(const std::string& action, const Json& request, Bytes payload);
    Data response(const std::optional<std::string>& error);

    // --- Shared operations used by every concern (CompanionSession.cpp) ---
    // One log line, stamped with the wall time in UTC; the newest 500 are kept.
    void appendLog(const std::string& text);
    // One JSON message to the device; throws SyncImportError ("Connect to Tavrik first",
    // "Could not send to Tavrik").
    void send(const Json& value);
    template <class Value>
    requires(!std::is_convertible_v<const Value&, const Json&>) && requires(const Value& value)
    {
        {
            toJson(value)
            } -> std::convertible_to<Json>;
    }
    void send(const Value& value) { send(Json(toJson(value))); }
    // "channel:command" to the device; throws like `send`.
    void command(std::string_view channelName, std::string_view commandText);
    // The guard of every device edit: connected, loaded, no sync running, not busy; otherwise throws
    // "Connect and finish loading Tavrik first".
    void requireDevice() const;
    // A copy of `device` with the given parts replaced; nothing when there is no device.
    std::optional<SyncDataEnvelope> replaceDevice(const DeviceReplacement& replacement) const;
    // The routine as a loaded detail: fresh list ids, complete.
    RoutineDetailModel detail(const RoutinePayload& routine);
    void emitEffect(Json effect);
    void emitDisconnectEffect();
    // Seconds of uptime, as every progress and interaction stamp is kept.
    double uptimeNow() const;
    // A firmware transfer is active or a firmware image is being downloaded.
    bool busy() const;
    // A JSON number that is exactly an unsigned 64-bit integer (9.0 reads as 9); nothing for null.
    static std::optional<std::uint64_t> readUInt64(const Json* value);
    // Whole milliseconds between two uptime readings, so that limits in seconds compare exactly.
    static std::int64_t elapsedMilliseconds(double now, double since);

    // --- Connection (CompanionSession_Connection.cpp) ---
    void connect(const Json& request);
    void connectSimulator();
    void disconnect();
    void receiveFrame(Bytes payload);
    void writeComplete();
    void receiveSimulatorMessage(Bytes payload);
    void tick();
    // Channel hooks.
    void recordMessageLog(const BleDataMessageLogDetail& detail);
    void recordMessage(std::uint16_t messageId, const Data& payload);

    // --- Sync and device messages (CompanionSession_Sync.cpp) ---
    void beginLoad();
    void restore();
    void migrateBackup(Bytes payload);
    // One whole message from the device, framed or not. Never throws: problems become the status.
    void receiveMessage(Bytes bytes);
    void installSyncData(Bytes bytes, const Json& message);
    void handleSyncControl(Bytes bytes);
    void handleRoutineDetail(const Json& message);
    void handleRoutinesState(const Json& message);
    void handleRoutineEvent(const Json& message);
    void handleScanResult(const Json& message);
    // Sets the status to the text and logs it.
    void reportStatus(const std::string& text);

    // --- Firmware state the connection and the response need (CompanionSession_Transfer.cpp) ---
    // The transfer engine, made on first use.
    FirmwareTransfer& transfer();
    Json firmwareStateObject();
    std::optional<Json> firmwareAssetObject() const;
    // Disconnect while busy: the transfer stops and reports the interruption.
    void interruptFirmwareTransfer(const std::string& message);
    // Tick rule for a stalled transfer; gives whether it applied.
    bool timeOutFirmwareTransfer(double now);
    void handleFirmwareStatus(Bytes bytes);
    // A firmware action failed: the download slot empties and the transfer shows the error.
    void failFirmwareAction(const std::string& message);
    // Whether the text names a known hardware target.
    static bool isKnownHardwareTarget(std::string_view target);

    // --- Routine draft (CompanionSession_Draft.cpp) ---
    // "editRoutineDraft": edits the payload's routine and stores it in `editedRoutine`.
    void editRoutineDraft(const Json& request, Bytes payload);

    // --- Editing actions (CompanionSession_Edit.cpp) ---
    // Every edit action and "wifi"; starts with `requireDevice()`.
    void performEdit(std::string_view action, const Json& request, Bytes payload);
    // The request's "id" as a non-zero UInt32; throws "Choose a saved item first".
    std::uint32_t id(const Json& request) const;
    // One more than the largest id; past 4294967295 the lowest unused one. Throws "No unused identifiers
    // remain" only when every id is taken.
    static std::uint32_t nextID(const std::vector<std::uint32_t>& ids);
    void saveTag(Bytes payload);
    void deleteTag(const Json& request);
    void saveRoutine(Bytes payload);
    void deleteRoutine(const Json& request);
    void saveSchedule(Bytes payload);
    void changeSettings(const Json& request);
    void scanTag(const Json& request);
    void cancelScan();
    void triggerRoutine(const Json& request);
    // Sets the device clock to the present moment, read when the command is built.
    void setDeviceClock(const Json& request);

    // --- Wi-Fi and clock (CompanionSession_Wifi.cpp) ---
    // `handleWifi` gets "wifi_status" and "wifi_scan_results" messages; `evaluateClock` runs when sync
    // data is installed. Both may throw: the caller turns the error into the status.
    void wifiAction(const Json& request);
    void sendWifi(std::string_view operation);
    void handleWifi(const Json& message);
    void evaluateClock(const std::optional<DeviceClockSnapshot>& clockSnapshot);
    // The zone of that IANA name when it is known, otherwise the system's zone (CompanionSession_Clock.cpp).
    std::string knownZoneOrSystem(const std::optional<std::string>& zoneName) const;

    // --- Firmware actions (CompanionSession_Firmware.cpp) ---
    // "firmwareCheck", "firmwareInstall", "firmwareCancel" and "downloadResult" (already matched against
    // the outstanding download by the dispatch). A throw here also fails the transfer's status.
    void firmwareAction(std::string_view action, const Json& request, Bytes payload);
    // A firmware refusal that leaves the download slot and the transfer's status as they are (a check or
    // install while busy): the dispatch passes it on without failing the transfer.
    class FirmwareRefusalKeepingState final : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };
    void requestDownload(const Url& url, std::string_view kind);
    void checkFirmwareCompatibility(const FirmwareAsset& asset) const;
    void applyFirmwareCatalog(const std::optional<Data>& releaseData);
    std::unique_ptr<FirmwareTransfer> makeFirmwareTransfer();

    // --- Fields ---
    std::uint64_t generation = 0;
    std::uint64_t revision = 0;
    std::shared_ptr<BleDataTransport> transport; // an EffectTransport while a physical link is up
    std::unique_ptr<BleDataChannel> channel;
    std::optional<SyncDataEnvelope> backup;
    std::optional<std::int64_t> sourceVersion;
    std::vector<std::string> warnings;
    std::deque<std::string> messages;
    std::vector<Json> effects;
    bool connected = false;
    bool allowSimulator = false;
    bool simulator = false;
    std::optional<SyncDataEnvelope> device;
    DeviceCapabilities capabilities;
    std::string status = "Disconnected";
    std::optional<std::string> disconnectNotice;
    std::optional<std::string> syncCode;
    std::optional<std::string> syncMode;
    double lastProgress = 0;
    double lastInteraction = 0;
    std::deque<std::string> logs;
    std::optional<Json> scanResult;
    std::optional<Json> wifiResult;
    std::optional<std::string> wifiRequestId;
    std::optional<WifiCandidateNetwork> wifiCandidate;
    std::optional<std::string> wifiOperation;
    bool wifiVerified = false;
    std::optional<std::string> wifiFailure;
    std::optional<std::string> wifiSaved;
    bool scanPurposeKillSwitch = false;
    std::optional<Json> clockNotice;
    std::string timeZoneID;
    std::deque<Json> logDetails;
    bool scanActive = false;
    bool restorePending = false;
    std::unique_ptr<FirmwareTransfer, FirmwareTransferDeleter> firmwareTransfer; // through `transfer()`
    std::optional<FirmwareAsset> firmwareAsset;
    std::optional<std::string> downloadId;
    std::optional<std::string> downloadKind;
    std::optional<Data> channelManifest;
    std::string clientVersion;
    std::optional<RoutinePayload> editedRoutine;
    std::map<std::uint32_t, RoutinePayload> pendingRoutines;
    std::optional<RoutineActiveState> activeRoutine;

    // Seams: wall time and uptime come only from `clock`, randomness only from `random`.
    const Clock& clock;
    RandomSource& random;
    std::unique_ptr<ResponseCache> responseCache;
};

} // namespace tavrik
