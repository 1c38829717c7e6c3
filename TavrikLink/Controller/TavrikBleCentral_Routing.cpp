#include "TavrikLink/Controller/TavrikBleCentral.hpp"

#include "TavrikCore/Backup/BackupMigrationPipeline.hpp"
#include "TavrikCore/Support/Json.hpp"

#include <QByteArrayView>
#include <QStringDecoder>

namespace tavrik {

namespace {

bool isValidUtf8(const Data& payload)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = decoder.decode(
        QByteArrayView(reinterpret_cast<const char*>(payload.data()), static_cast<qsizetype>(payload.size())));
    return !decoder.hasError();
}

} // namespace

void TavrikBleCentral::handleDataEnvelope(std::uint16_t, const Data& payload)
{
    if (isReviewDemo_) {
        return;
    }
    if (!isValidUtf8(payload)) {
        appendLog("[ble:data] binary payload not supported", true);
        return;
    }
    Json message;
    std::string type;
    try {
        message = parseJson(payload);
        type = json::requiredString(json::requireObject(message, "message"), "type");
    } catch (const std::exception& failure) {
        appendLog(std::string("[ble:data] invalid JSON: ") + failure.what(), true);
        return;
    }

    if (type == "simulator_disconnected") {
        if (localLink_->attached()) {
            localLink_->disconnect(true);
            handleDisconnect(std::nullopt);
        }
    } else if (type == "log_line") {
        // A device line that repeats the newest log text is shown once.
        const Json* line = json::member(message, "message");
        if (line && line->is_string()) {
            appendLog(line->get<std::string>(), false);
        }
    } else if (type == "sync_waiting" || type == "sync_ready" || type == "sync_done" || type == "sync_error") {
        handleSyncControl(payload, std::string(payload.begin(), payload.end()));
    } else if (type == "sync_data") {
        try {
            // The message is read once: its tree is migrated in place and gone before the install.
            BackupMigrationResult result = BackupMigrationPipeline::migrateParsed(std::move(message));
            // Data of unknown hardware is refused by the install; its migration notes are not shown.
            const std::optional<std::string>& target = result.envelope.hardwareTarget;
            if (!target || firmwareHardwareTargetFromRawValue(*target)) {
                recordBackupMigration(result);
            }
            if (applySyncData(result.envelope, true, rawValue(result.sourceVersion))) {
                deliverWorkHeldBySession();
            }
        } catch (const std::exception& failure) {
            const std::string description = failure.what();
            appendLog("Sync data decode failed: " + description, true);
            setSyncStage(SyncStage::failed(activeBleProfile_ == TavrikBleProtocolProfile::legacyUnencryptedV1
                    ? "Legacy data could not be prepared: " + description
                    : std::string("Connect data invalid")));
        }
    } else if (type == "state") {
        handleSchedulePayload(payload);
    } else if (type == "clock_state") {
        handleClockPayload(payload);
    } else if (type == "routines_state" || type == "routine_detail" || type == "routine_steps_state"
        || type == "routine_event") {
        handleRoutinePayload(payload);
    } else if (type == "tags_state" || type == "scan_pending" || type == "scan_result" || type == "scan_timeout") {
        handleTagPayload(payload);
    } else if (type == "error") {
        // The device answers a routine start it refused, or else an edit it refused: that belongs
        // to the channel of the last command sent.
        if (routineCommandAwaitingAnswer_) {
            handleRoutinePayload(payload);
            return;
        }
        if (!commandPath_.lastChannel()) {
            handleTagPayload(payload);
            return;
        }
        switch (*commandPath_.lastChannel()) {
        case AtomicCommandChannel::schedule:
            handleSchedulePayload(payload);
            break;
        case AtomicCommandChannel::tag:
            handleTagPayload(payload);
            break;
        case AtomicCommandChannel::routine:
        case AtomicCommandChannel::steps:
        case AtomicCommandChannel::groups:
            handleRoutinePayload(payload);
            break;
        case AtomicCommandChannel::settings:
            handleSettingsError();
            break;
        }
    } else if (type == "firmware_status") {
        handleFirmwarePayload(payload);
    } else if (type == "wifi_scan_results") {
        handleWifiScanResults(payload);
    } else if (type == "wifi_status") {
        handleWifiStatus(payload);
    } else {
        appendLog("[ble:data] unhandled payload type " + type, true);
    }
}

} // namespace tavrik
