#include "TavrikCore/Session/CompanionSession.hpp"
#include "TavrikCore/Session/SessionRequest.hpp"

#include "TavrikCore/Backup/BackupMigrationPipeline.hpp"
#include "TavrikCore/Model/SyncImportError.hpp"
#include "TavrikCore/Support/Base64.hpp"
#include "TavrikCore/Support/InternetDateTime.hpp"
#include "TavrikCore/Support/Uuid.hpp"

#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <cmath>
#include <limits>
#include <map>
#include <utility>

namespace tavrik {

namespace {

using SortedJson = nlohmann::json;

constexpr std::size_t maximumActionLength = 65536;
constexpr std::size_t maximumPayloadLength = 16777216;
constexpr std::size_t maximumLogs = 500;
constexpr std::size_t maximumLogDetails = 100;
constexpr std::size_t maximumMessages = 32;
constexpr std::string_view stateEncodingFailed = R"({"version":1,"ok":false,"error":"State encoding failed"})";

std::string jsonText(const SortedJson& value)
{
    return value.dump(-1, ' ', false, SortedJson::error_handler_t::replace);
}

std::string_view textOf(CompanionSession::Bytes bytes)
{
    return { reinterpret_cast<const char*>(bytes.data()), bytes.size() };
}

// The bytes as UTF-8 text, each invalid sequence replaced by U+FFFD.
std::string replacingInvalidUtf8(const Data& bytes)
{
    const auto length = static_cast<std::int32_t>(std::min<std::size_t>(bytes.size(), INT32_MAX));
    std::int32_t offset = 0;
    bool valid = bytes.size() <= static_cast<std::size_t>(INT32_MAX);
    while (valid && offset < length) {
        UChar32 character;
        U8_NEXT(bytes.data(), offset, length, character);
        valid = character >= 0;
    }
    if (valid) {
        return stringFromData(bytes);
    }
    std::string text;
    icu::UnicodeString::fromUTF8(icu::StringPiece(reinterpret_cast<const char*>(bytes.data()), length)).toUTF8String(text);
    return text;
}

// The text of a value that changes rarely, made again only when the value differs from the last one.
template <class Value>
class CachedText {
public:
    template <class Make>
    const std::optional<std::string>& text(const Value& value, Make&& make)
    {
        if (!source || !(*source == value)) {
            text_ = make(value);
            source = value;
        }
        return text_;
    }

private:
    // Empty until the first text is made: an empty record (a std::deque allocates even when empty)
    // is not built for nothing, and the constructor cannot throw.
    std::optional<Value> source;
    std::optional<std::string> text_;
};

} // namespace

// The records that dominate a large state are written again only when they change.
struct CompanionSession::ResponseCache {
    CachedText<SyncDataEnvelope> device;
    CachedText<SyncDataEnvelope> backup;
    CachedText<std::deque<std::string>> messages;
    // Whole device messages, which may be large: sorting and writing them again for every response
    // would cost the message's size on every frame that follows.
    CachedText<Json> scanResult;
    CachedText<Json> wifiResult;
};

CompanionSession::CompanionSession(bool allowSimulator, const Clock& clock, RandomSource& random)
    : allowSimulator(allowSimulator)
    , clock(clock)
    , random(random)
    , responseCache(std::make_unique<ResponseCache>())
{
    lastProgress = uptimeNow();
    lastInteraction = lastProgress;
    timeZoneID = clock.timeZoneId();
    channel = std::make_unique<BleDataChannel>([this](const std::string& text) { appendLog(text); }, random);
    channel->onMessageLog = [this](const BleDataMessageLogDetail& detail) { recordMessageLog(detail); };
    channel->onMessage = [this](std::uint16_t messageId, const Data& payload) { recordMessage(messageId, payload); };
}

CompanionSession::~CompanionSession() = default;

Data CompanionSession::dispatch(Bytes action, Bytes payload)
{
    try {
        effects.clear();
        std::optional<std::string> error;
        try {
            if (action.size() > maximumActionLength || payload.size() > maximumPayloadLength) {
                throw SyncImportError("Native request exceeds its size limit");
            }
            const Json request = parseJson(textOf(action));
            const Json* version = request.is_object() ? json::member(request, "version") : nullptr;
            const Json* name = request.is_object() ? json::member(request, "action") : nullptr;
            if (!version || !json::isInteger(*version) || json::asInt(*version) != 1 || !name || !name->is_string()) {
                throw SyncImportError("Invalid action envelope");
            }
            const std::string actionName = name->get<std::string>();
            const bool connectionCallback
                = session::isOneOf(actionName, { "receiveFrame", "receiveMessage", "writeComplete" });
            if (connectionCallback && !(connected && readUInt64(json::member(request, "generation")) == generation)) {
                throw SyncImportError("Stale connection callback");
            }
            if (!connectionCallback && actionName != "state" && actionName != "tick") {
                lastInteraction = uptimeNow();
            }
            if (auto zone = session::stringMember(request, "timeZone")) {
                timeZoneID = std::move(*zone);
            }
            route(actionName, request, payload);
            ++revision;
        } catch (const std::exception& failure) {
            error = failure.what();
        }
        return response(error);
    } catch (...) {
        return dataFromString(stateEncodingFailed);
    }
}

void CompanionSession::route(const std::string& action, const Json& request, Bytes payload)
{
    if (action == "state" || action == "interact") {
        return;
    }
    if (action == "editRoutineDraft") {
        editRoutineDraft(request, payload);
    } else if (action == "tick") {
        tick();
    } else if (action == "clearLogs") {
        logs.clear();
        logDetails.clear();
    } else if (action == "dismissClockNotice") {
        clockNotice.reset();
    } else if (action == "connectSimulator") {
        connectSimulator();
    } else if (action == "receiveMessage") {
        receiveSimulatorMessage(payload);
    } else if (action == "migrateBackup") {
        migrateBackup(payload);
    } else if (action == "connect") {
        connect(request);
    } else if (action == "disconnect") {
        disconnect();
    } else if (action == "receiveFrame") {
        receiveFrame(payload);
    } else if (action == "writeComplete") {
        writeComplete();
    } else if (session::isOneOf(action, { "firmwareCheck", "firmwareInstall", "firmwareCancel", "downloadResult" })) {
        if (action == "downloadResult") {
            const Json* requestId = json::member(request, "requestId");
            if (!downloadId || !requestId || !requestId->is_string() || requestId->get<std::string>() != *downloadId
                || readUInt64(json::member(request, "generation")) != generation || !connected) {
                throw SyncImportError("Stale download result");
            }
        }
        try {
            firmwareAction(action, request, payload);
        } catch (const FirmwareRefusalKeepingState&) {
            throw;
        } catch (const std::exception& failure) {
            failFirmwareAction(failure.what());
            throw;
        }
    } else if (action == "load") {
        beginLoad();
    } else if (action == "restore") {
        restore();
    } else if (session::isOneOf(action,
                   { "saveTag", "deleteTag", "saveRoutine", "deleteRoutine", "saveSchedule", "deleteSchedule",
                       "settings", "scanTag", "cancelScan", "triggerRoutine", "stopRoutine", "clock", "wifi" })) {
        performEdit(action, request, payload);
    } else {
        throw SyncImportError("Unknown action: " + action);
    }
}

Data CompanionSession::response(const std::optional<std::string>& error)
{
    try {
        SortedJson state = SortedJson::object();
        state["generation"] = generation;
        state["revision"] = revision;
        state["connected"] = connected;
        state["warnings"] = warnings;
        state["status"] = status;
        state["logs"] = logs;
        SortedJson details = SortedJson::array();
        for (const Json& detail : logDetails) {
            details.push_back(SortedJson(detail));
        }
        state["logDetails"] = std::move(details);
        state["wifiBusy"] = wifiRequestId.has_value();
        state["simulator"] = simulator;
        state["scanActive"] = scanActive;
        state["scanPurposeKillSwitch"] = scanPurposeKillSwitch;
        state["firmware"] = SortedJson(firmwareStateObject());
        state["capabilities"] = {
            { "groups", capabilities.groups() },
            { "startTags", capabilities.startTags() },
            { "wifi", capabilities.wifi },
            { "killSwitch", capabilities.killSwitch },
            { "restore", capabilities.restore() },
            { "ota", capabilities.ota() },
        };

        if (disconnectNotice) {
            state["disconnectNotice"] = *disconnectNotice;
        }
        if (activeRoutine) {
            if (auto text = strictSortedJsonText(toJson(*activeRoutine), false)) {
                state["activeRoutine"] = SortedJson::parse(*text);
            }
        }
        if (wifiFailure) {
            state["wifiFailure"] = *wifiFailure;
        }
        if (wifiSaved) {
            state["wifiSaved"] = *wifiSaved;
        }
        if (clockNotice) {
            state["clockNotice"] = SortedJson(*clockNotice);
        }
        if (connected && !busy() && !scanActive && !wifiRequestId && !syncMode) {
            const std::int64_t elapsedSeconds = elapsedMilliseconds(uptimeNow(), lastInteraction) / 1000;
            const std::int64_t remaining = 60 - elapsedSeconds;
            if (remaining <= 15) {
                state["idleSeconds"] = std::max<std::int64_t>(remaining, 0);
            }
        }
        if (editedRoutine) {
            if (auto text = strictSortedJsonText(toJson(*editedRoutine), false)) {
                state["editedRoutine"] = SortedJson::parse(*text);
            }
        }
        if (auto asset = firmwareAssetObject()) {
            state["firmwareAsset"] = SortedJson(*asset);
        }
        if (device) {
            // A zone name the system does not know reads as the system's own zone, as for the clock check.
            const std::string previewZone = knownZoneOrSystem(timeZoneID);
            const SessionZoneClock previewClock(clock, previewZone);
            // Schedules grouped by routine once: a pass over every schedule for each routine would cost
            // the product of the two lists on every response.
            std::map<std::uint32_t, std::vector<const ScheduledRoutine*>> schedulesByRoutine;
            for (const ScheduledRoutine& schedule : device->schedules) {
                schedulesByRoutine[schedule.routineId].push_back(&schedule);
            }
            SortedJson previews = SortedJson::object();
            for (const RoutinePayload& routine : device->routines) {
                const auto found = schedulesByRoutine.find(routine.id);
                if (found == schedulesByRoutine.end()) {
                    continue;
                }
                if (auto text = RoutineSchedulePreview::text(found->second, previewClock)) {
                    previews[std::to_string(routine.id)] = *text;
                }
            }
            state["routineSchedulePreviews"] = std::move(previews);
        }
        if (sourceVersion) {
            state["sourceVersion"] = *sourceVersion;
        }

        // Every member's text by key; the large records come from the cache. std::map keeps keys sorted.
        std::map<std::string, std::string> members;
        for (const auto& [key, value] : state.items()) {
            members.emplace(key, jsonText(value));
        }
        members.emplace("messages", *responseCache->messages.text(messages, [](const std::deque<std::string>& lines) {
            return std::optional<std::string>(jsonText(SortedJson(lines)));
        }));
        const auto deviceMessageText
            = [](const Json& message) { return std::optional<std::string>(jsonText(SortedJson(message))); };
        if (scanResult) {
            members.emplace("scanResult", *responseCache->scanResult.text(*scanResult, deviceMessageText));
        }
        if (wifiResult) {
            members.emplace("wifiResult", *responseCache->wifiResult.text(*wifiResult, deviceMessageText));
        }
        if (device) {
            const auto& text = responseCache->device.text(*device,
                [](const SyncDataEnvelope& envelope) { return strictSortedJsonText(toJson(envelope), false); });
            if (text) {
                members.emplace("device", *text);
            }
        }
        if (backup) {
            const auto& text = responseCache->backup.text(*backup, [](const SyncDataEnvelope& envelope) {
                try {
                    BackupMigrationPipeline::validateCurrentEnvelope(envelope);
                } catch (const std::exception&) {
                    return std::optional<std::string>();
                }
                return strictSortedJsonText(toJson(envelope), false);
            });
            if (text) {
                members.emplace("backup", *text);
            }
        }

        std::size_t length = 64;
        for (const auto& [key, text] : members) {
            length += key.size() + text.size() + 4;
        }
        SortedJson effectList = SortedJson::array();
        for (const Json& effect : effects) {
            effectList.push_back(SortedJson(effect));
        }
        const std::string effectsText = jsonText(effectList);
        const std::string errorText = error ? jsonText(SortedJson(*error)) : std::string();
        length += effectsText.size() + errorText.size();

        std::string text;
        text.reserve(length);
        text += "{\"effects\":";
        text += effectsText;
        if (error) {
            text += ",\"error\":";
            text += errorText;
        }
        text += error ? ",\"ok\":false" : ",\"ok\":true";
        text += ",\"state\":{";
        bool first = true;
        for (const auto& [key, value] : members) {
            if (!first) {
                text += ',';
            }
            first = false;
            text += jsonText(SortedJson(key));
            text += ':';
            text += value;
        }
        text += "},\"version\":1}";
        return Data(text.begin(), text.end());
    } catch (...) {
        return dataFromString(stateEncodingFailed);
    }
}

void CompanionSession::appendLog(const std::string& text)
{
    logs.push_back("[" + internetDateTimeText(clock.now()) + "] " + text);
    while (logs.size() > maximumLogs) {
        logs.pop_front();
    }
}

void CompanionSession::send(const Json& value)
{
    if (!connected) {
        throw SyncImportError("Connect to Tavrik first");
    }
    if (simulator) {
        const std::optional<std::string> text = strictJsonText(value);
        if (!text) {
            appendLog("[ble:data] invalid JSON encoding");
            throw SyncImportError("Could not send to Tavrik");
        }
        emitEffect(Json { { "type", "applicationWrite" }, { "payload", base64Encoded(*text) } });
        return;
    }
    if (!channel->sendEncodable(value)) {
        throw SyncImportError("Could not send to Tavrik");
    }
}

void CompanionSession::command(std::string_view channelName, std::string_view commandText)
{
    if (!connected) {
        throw SyncImportError("Connect to Tavrik first");
    }
    if (simulator) {
        std::string text;
        text.reserve(channelName.size() + 1 + commandText.size());
        text.append(channelName).append(":").append(commandText);
        emitEffect(Json { { "type", "applicationWrite" }, { "payload", base64Encoded(text) } });
        return;
    }
    if (!channel->sendCommand(channelName, commandText)) {
        throw SyncImportError("Could not send to Tavrik");
    }
}

void CompanionSession::requireDevice() const
{
    if (!connected || !device || syncMode || busy()) {
        throw SyncImportError("Connect and finish loading Tavrik first");
    }
}

std::optional<SyncDataEnvelope> CompanionSession::replaceDevice(const DeviceReplacement& replacement) const
{
    if (!device) {
        return std::nullopt;
    }
    SyncDataEnvelope copy = *device;
    if (replacement.schedules) {
        copy.schedules = *replacement.schedules;
    }
    if (replacement.tags) {
        copy.tags = *replacement.tags;
    }
    if (replacement.routines) {
        copy.routines = *replacement.routines;
    }
    if (replacement.settings) {
        copy.settings = replacement.settings;
    }
    if (replacement.wifi) {
        copy.wifi = replacement.wifi;
    }
    if (replacement.clock) {
        copy.clock = replacement.clock;
    }
    return copy;
}

RoutineDetailModel CompanionSession::detail(const RoutinePayload& routine)
{
    return routineDetailModel(routine, random);
}

void CompanionSession::emitEffect(Json effect)
{
    effects.push_back(std::move(effect));
}

void CompanionSession::emitDisconnectEffect()
{
    emitEffect(Json { { "type", "disconnect" } });
}

double CompanionSession::uptimeNow() const
{
    return static_cast<double>(clock.uptime().count()) / 1000.0;
}

std::optional<std::uint64_t> CompanionSession::readUInt64(const Json* value)
{
    if (!value || !value->is_number()) {
        return std::nullopt;
    }
    if (value->is_number_unsigned()) {
        return value->get<std::uint64_t>();
    }
    if (value->is_number_integer()) {
        const auto number = value->get<std::int64_t>();
        return number < 0 ? std::nullopt : std::optional<std::uint64_t>(static_cast<std::uint64_t>(number));
    }
    const double number = value->get<double>();
    // 2^64 itself is the first value out of range.
    if (!std::isfinite(number) || number < 0 || number >= 18446744073709551616.0 || std::trunc(number) != number) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(number);
}

std::int64_t CompanionSession::elapsedMilliseconds(double now, double since)
{
    return std::llround((now - since) * 1000.0);
}

void CompanionSession::recordMessageLog(const BleDataMessageLogDetail& detail)
{
    const bool inbound = detail.direction == BleDataMessageLogDetail::Direction::inbound;
    if (inbound) {
        lastProgress = uptimeNow();
    }
    logDetails.push_back(Json {
        { "messageId", detail.messageId },
        { "direction", inbound ? "inbound" : "outbound" },
        { "bytes", detail.byteCount },
        { "chunks", detail.chunks.size() },
    });
    while (logDetails.size() > maximumLogDetails) {
        logDetails.pop_front();
    }
}

void CompanionSession::recordMessage(std::uint16_t messageId, const Data& payload)
{
    messages.push_back(replacingInvalidUtf8(payload));
    while (messages.size() > maximumMessages) {
        messages.pop_front();
    }
    emitEffect(Json { { "type", "message" }, { "messageId", messageId }, { "payload", base64Encoded(payload) } });
    receiveMessage(payload);
}

} // namespace tavrik
