#pragma once

#include "TavrikCore/Link/ReliableDelivery.hpp"
#include "TavrikCore/Model/ClockModels.hpp"
#include "TavrikCore/Model/RoutinePayloads.hpp"
#include "TavrikCore/Model/ScheduleModels.hpp"
#include "TavrikCore/Model/SettingsModels.hpp"
#include "TavrikCore/Model/StoreSnapshot.hpp"
#include "TavrikCore/Model/SyncImportError.hpp"
#include "TavrikCore/Model/TagModels.hpp"
#include "TavrikCore/Model/WifiModels.hpp"
#include "TavrikCore/Support/Json.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrik {

// The data schema this application speaks.
inline constexpr int currentSyncDataVersion = 9;
// The lowest device data version that accepts the "groups" command channel.
inline constexpr int routineGroupsSyncDataVersion = 9;
// The lowest device data version that stores routine start tags.
inline constexpr int routineStartTagsSyncDataVersion = 8;

// What a sync session is for: read all data, write all data back, or carry single commands.
enum class SyncMode {
    load,
    restore,
    control,
};

// "load", "restore" or "control": the text the device and the control policy use for the mode.
std::string_view syncModeText(SyncMode mode);

// How far the running sync session has come. Only `failed` carries a text (the message shown).
class SyncStage {
public:
    enum class Kind {
        idle,
        waitingForDevice,
        connecting,
        transferring,
        completed,
        failed,
    };

    SyncStage() = default;

    static SyncStage idle() { return SyncStage(Kind::idle); }
    static SyncStage waitingForDevice() { return SyncStage(Kind::waitingForDevice); }
    static SyncStage connecting() { return SyncStage(Kind::connecting); }
    static SyncStage transferring() { return SyncStage(Kind::transferring); }
    static SyncStage completed() { return SyncStage(Kind::completed); }
    static SyncStage failed(std::string message);

    Kind kind() const { return caseKind; }
    bool isFailed() const { return caseKind == Kind::failed; }
    // The text of `failed`; empty for every other stage.
    const std::string& failureMessage() const { return message; }

    friend bool operator==(const SyncStage&, const SyncStage&) = default;

private:
    explicit SyncStage(Kind kind)
        : caseKind(kind)
    {
    }

    Kind caseKind = Kind::idle;
    std::string message;
};

// Opens a sync session ("sync_start"). `delivery` is offered on the secure profile only.
struct SyncStartEnvelope {
    std::string type = "sync_start";
    std::string mode;
    std::string code;
    std::optional<ReliableDeliveryOffer> delivery;

    SyncStartEnvelope(std::string mode, std::string code, std::optional<ReliableDeliveryOffer> delivery = std::nullopt);

    friend bool operator==(const SyncStartEnvelope&, const SyncStartEnvelope&) = default;
};

// Writes a whole data set to the device ("sync_restore"), always in the current data version.
struct SyncRestoreEnvelope {
    std::string type = "sync_restore";
    std::int64_t dataVersion = currentSyncDataVersion;
    std::string code;
    SyncSettingsPayload settings;
    std::optional<StoreSnapshotPayload> storeSnapshot;
    std::vector<ScheduledRoutine> schedules;
    std::vector<TagInfo> tags;
    std::vector<RoutinePayload> routines;

    SyncRestoreEnvelope(std::string code, SyncSettingsPayload settings, std::optional<StoreSnapshotPayload> storeSnapshot,
        std::vector<ScheduledRoutine> schedules, std::vector<TagInfo> tags, std::vector<RoutinePayload> routines);

    friend bool operator==(const SyncRestoreEnvelope&, const SyncRestoreEnvelope&) = default;
};

// The device's session replies: "sync_waiting", "sync_ready", "sync_done", "sync_error".
struct SyncControlEnvelope {
    std::string type;
    std::optional<std::string> mode;
    std::optional<std::string> message;
    std::optional<std::string> reason;
    std::optional<std::string> code;

    friend bool operator==(const SyncControlEnvelope&, const SyncControlEnvelope&) = default;
};

// All of the device's data ("sync_data"), and the body of a backup file. `type` is not checked here:
// messages are routed by "type" before they are read.
struct SyncDataEnvelope {
    std::string type = "sync_data";
    std::optional<std::int64_t> dataVersion;
    std::optional<std::string> firmwareVersion;
    std::optional<std::string> hardwareTarget;
    std::optional<SyncSettingsPayload> settings;
    std::optional<StoreSnapshotPayload> storeSnapshot;
    std::optional<WifiCapabilityPayload> wifi;
    std::optional<DeviceClockSnapshot> clock;
    std::vector<ScheduledRoutine> schedules;
    std::vector<TagInfo> tags;
    std::vector<RoutinePayload> routines;

    friend bool operator==(const SyncDataEnvelope&, const SyncDataEnvelope&) = default;
};

// The data the device is known to hold, kept to tell whether anything is unsaved.
struct SyncSnapshot {
    SyncSettingsPayload settings;
    std::vector<ScheduledRoutine> schedules;
    std::vector<TagInfo> tags;
    std::vector<RoutinePayload> routines;

    friend bool operator==(const SyncSnapshot&, const SyncSnapshot&) = default;
};

// Writers put keys in declaration order and leave absent optionals out.
Json toJson(const SyncStartEnvelope& envelope);
Json toJson(const SyncRestoreEnvelope& envelope);
Json toJson(const SyncDataEnvelope& envelope);

// Strict readers: a missing required key or a wrong-typed value, here or in any nested record,
// throws JsonDecodeError; unknown keys are ignored.
SyncControlEnvelope syncControlEnvelopeFromJson(const Json& json);
// The application's own messages read back, for code that stands in for the device. Every key but
// "delivery" and "storeSnapshot" is required; `type` and `dataVersion` are kept as read.
SyncStartEnvelope syncStartEnvelopeFromJson(const Json& json);
SyncRestoreEnvelope syncRestoreEnvelopeFromJson(const Json& json);
// "schedules", "tags" and "routines" are required (an empty list is fine); the rest is optional.
SyncDataEnvelope syncDataEnvelopeFromJson(const Json& json);

} // namespace tavrik
