#include "TavrikLink/Controller/TavrikBleCentral.hpp"

#include "TavrikCore/Backup/BackupMigrationPipeline.hpp"
#include "TavrikCore/Backup/SyncDataRoutineReader.hpp"
#include "TavrikCore/Support/Json.hpp"

#include <QByteArrayView>

#include <algorithm>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

namespace tavrik {

namespace {

std::string_view textOf(const Data& payload)
{
    return { reinterpret_cast<const char*>(payload.data()), payload.size() };
}

// How much of a long message one step of a load checks or cuts apart.
constexpr std::size_t loadPiece = 262144;

bool isContinuationByte(std::uint8_t byte)
{
    return (byte & 0xC0) == 0x80;
}

// Whether the bytes from `from` on, for one piece, are UTF-8; moves `from` past the piece. A piece
// ends before a character's first byte, so the pieces are valid exactly when the whole is.
bool isValidUtf8Piece(const Data& bytes, std::size_t& from)
{
    std::size_t end = std::min(bytes.size(), from + loadPiece);
    // No character has more than three bytes after its first: a longer run is never text.
    for (int moved = 0; end < bytes.size() && isContinuationByte(bytes[end]); ++moved, ++end) {
        if (moved == 3) {
            return false;
        }
    }
    const bool valid = QByteArrayView(bytes.data() + from, static_cast<qsizetype>(end - from)).isValidUtf8();
    from = end;
    return valid;
}

} // namespace

void TavrikBleCentral::handleDataEnvelope(std::uint16_t messageId, Data payload)
{
    if (isReviewDemo_) {
        return;
    }
    // What the device sent after its data is handled on that data, as it would have been had the
    // data been taken in at once.
    if (loadWork_.isRunning()) {
        heldMessages_.emplace_back(messageId, std::move(payload));
        return;
    }
    // A long message is checked and cut apart in the load's own turns, not in the one that brought it.
    if (payload.size() <= loadPiece && !QByteArrayView(textOf(payload)).isValidUtf8()) {
        appendLog("[ble:data] binary payload not supported", true);
        return;
    }
    if (startSlicedLoad(payload)) {
        return;
    }
    routeDataEnvelope(payload);
}

bool TavrikBleCentral::startSlicedLoad(Data& payload)
{
    // A message one slice would take in whole is read whole, at once, as any other message. The
    // message is kept only when it is read in slices, and left with the caller otherwise; a long
    // one is always kept, and handed on whole once its pieces show it is not such data.
    const bool longMessage = payload.size() > loadPiece;
    std::optional<SyncDataRoutineReader> reader;
    if (!longMessage) {
        reader = SyncDataRoutineReader::start(textOf(payload), slicedLoadRoutines);
        if (!reader) {
            return false;
        }
    }
    // Read a routine at a step, then checked whole, then turned into the controller's routines a
    // routine at a step, then taken in at one step: the window shows all of it at once.
    struct SlicedLoad {
        Data payload;
        // A long message: how far it is known to be text, then its cut so far.
        std::optional<std::size_t> textChecked;
        std::optional<SyncDataPieces::Splitter> splitter;
        std::optional<SyncDataRoutineReader> reader;
        std::optional<BackupMigrationResult> result;
        ReceivedRoutines received;
        std::size_t converted = 0;
    };
    // Moving the bytes keeps them where they are, so the reader's pieces still point into them.
    auto load = std::make_shared<SlicedLoad>();
    load->payload = std::move(payload);
    load->reader = std::move(reader);
    if (longMessage) {
        load->textChecked = 0;
        load->splitter.emplace(textOf(load->payload));
    }
    // Reading begins at the next turn: the turn that brought the message spent time of its own on it.
    loadWork_.start(
        [this, load] {
            if (load->textChecked) {
                if (!isValidUtf8Piece(load->payload, *load->textChecked)) {
                    loadWork_.stop();
                    appendLog("[ble:data] binary payload not supported", true);
                    deliverHeldMessages();
                    return false;
                }
                if (*load->textChecked == load->payload.size()) {
                    load->textChecked.reset();
                }
                return true;
            }
            if (load->splitter) {
                if (!load->splitter->advance(loadPiece)) {
                    return true;
                }
                std::optional<SyncDataPieces> pieces = load->splitter->take();
                load->splitter.reset();
                if (pieces) {
                    load->reader = SyncDataRoutineReader::start(std::move(*pieces), slicedLoadRoutines);
                }
                if (!load->reader) {
                    loadWork_.stop();
                    routeDataEnvelope(load->payload);
                    deliverHeldMessages();
                    return false;
                }
                return true;
            }
            if (load->reader) {
                try {
                    if (load->reader->readNextRoutine()) {
                        return true;
                    }
                    load->result = load->reader->finish();
                } catch (const std::exception&) {
                    // Nothing is taken in: the whole message is read again, for the fault as it was always named.
                }
                load->reader.reset();
                if (!load->result) {
                    loadWork_.stop();
                    routeDataEnvelope(load->payload);
                    deliverHeldMessages();
                    return false;
                }
                Data().swap(load->payload);
                // Data of hardware this program does not know goes straight to the install, which refuses it.
                const std::optional<std::string>& target = load->result->envelope.hardwareTarget;
                if (target && !firmwareHardwareTargetFromRawValue(*target)) {
                    load->converted = load->result->envelope.routines.size();
                } else {
                    load->received.summaries.reserve(load->result->envelope.routines.size());
                }
                return true;
            }
            std::vector<RoutinePayload>& routines = load->result->envelope.routines;
            if (load->converted < routines.size()) {
                receiveRoutine(load->received, routines[load->converted]);
                // Held once in the controller's own form is enough.
                routines[load->converted] = {};
                ++load->converted;
                return true;
            }
            routines.clear();
            loadWork_.stop();
            installSyncData([&load] { return std::move(*load->result); }, std::move(load->received));
            deliverHeldMessages();
            return false;
        },
        SlicedWork::Start::nextTurn);
    return true;
}

void TavrikBleCentral::deliverHeldMessages()
{
    while (!loadWork_.isRunning() && !heldMessages_.empty()) {
        auto [messageId, payload] = std::move(heldMessages_.front());
        heldMessages_.pop_front();
        handleDataEnvelope(messageId, std::move(payload));
    }
}

void TavrikBleCentral::takeInArrivedData()
{
    loadWork_.finishNow();
}

void TavrikBleCentral::cancelSlicedLoad()
{
    loadWork_.stop();
    heldMessages_.clear();
}

void TavrikBleCentral::installSyncData(
    const std::function<BackupMigrationResult()>& read, std::optional<ReceivedRoutines> received)
{
    try {
        BackupMigrationResult result = read();
        // Data of unknown hardware is refused by the install; its migration notes are not shown.
        const std::optional<std::string>& target = result.envelope.hardwareTarget;
        if (!target || firmwareHardwareTargetFromRawValue(*target)) {
            recordBackupMigration(result);
        }
        if (applySyncData(result.envelope, true, rawValue(result.sourceVersion), std::move(received))) {
            deliverWorkHeldBySession();
        }
    } catch (const std::exception& failure) {
        const std::string description = failure.what();
        appendLog("Sync data decode failed: " + description, true);
        setSyncStage(SyncStage::failed(activeBleProfile_ == TavrikBleProtocolProfile::legacyUnencryptedV1
                ? "Legacy data could not be prepared: " + description
                : std::string("Connect data invalid")));
    }
}

void TavrikBleCentral::routeDataEnvelope(const Data& payload)
{
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
        // The message is read once: its tree is migrated in place and gone before the install.
        installSyncData([&message] { return BackupMigrationPipeline::migrateParsed(std::move(message)); });
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
        if (claims_.taken(LinkClaim::routineControl)) {
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
