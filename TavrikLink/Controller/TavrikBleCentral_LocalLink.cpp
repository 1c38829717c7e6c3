#include "TavrikLink/Controller/TavrikBleCentral.hpp"

#include "TavrikCore/Support/Base64.hpp"
#include "TavrikCore/Support/Text.hpp"
#include "TavrikLink/Support/RegularFile.hpp"

#include <QStandardPaths>

#include <algorithm>
#include <chrono>

namespace tavrik {

namespace {

constexpr const char* advertisingFileName = "advertising.json";
constexpr const char* inboundFileName = "to-link.jsonl";
constexpr const char* outboundFileName = "to-device.jsonl";

// A few hundred bytes are expected; anything much larger is not an advertisement.
constexpr std::uint64_t advertisementSizeLimit = 65536;

// The simulator owns the folder, and anything may stand in it: its files are used only when they
// are plain files (a pipe would block the window, a device never end, a link lead anywhere).
RegularFile openLinkFile(const std::filesystem::path& directory, const char* name, RegularFile::Access access)
{
    return RegularFile::open(directory / name, access, RegularFile::Links::refuse);
}

std::optional<Json> parseAdvertisement(const Data& bytes)
{
    try {
        Json value = parseJson(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        if (!value.is_object()) {
            return std::nullopt;
        }
        return value;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// The session a fresh, enabled advertisement offers.
std::optional<std::string> offeredSession(const Json& advertisement, std::chrono::system_clock::time_point now)
{
    const Json* updatedAt = json::member(advertisement, "updatedAt");
    const double updated = updatedAt && updatedAt->is_number() ? updatedAt->get<double>() : 0.0;
    const double nowSeconds = std::chrono::duration<double>(now.time_since_epoch()).count();
    const double age = nowSeconds - updated;
    const Json* enabled = json::member(advertisement, "enabled");
    const Json* session = json::member(advertisement, "session");
    if (!enabled || !enabled->is_boolean() || !enabled->get<bool>() || !(age >= -2.0 && age < 3.0)) {
        return std::nullopt;
    }
    if (!session || !session->is_string()) {
        return std::nullopt;
    }
    return session->get<std::string>();
}

} // namespace

std::filesystem::path TavrikBleCentral::defaultLocalLinkDirectory()
{
    static const std::filesystem::path directory = [] {
        const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
        return std::filesystem::path(base.toStdString()) / "Tavrik Simulator" / "Local Link";
    }();
    return directory;
}

void TavrikBleCentral::startVirtualTavrikPolling()
{
    if (isReviewDemo_) {
        return;
    }
    stopVirtualTavrikPolling();
    scheduleVirtualTavrikPoll(std::chrono::milliseconds(0), virtualTavrikPollGeneration_);
}

void TavrikBleCentral::stopVirtualTavrikPolling()
{
    ++virtualTavrikPollGeneration_;
    cancelTask(virtualTavrikPollTask_);
}

void TavrikBleCentral::scheduleVirtualTavrikPoll(std::chrono::milliseconds delay, std::uint64_t generation)
{
    virtualTavrikPollTask_ = scheduler.schedule(delay, [this, token = alive, generation] {
        if (!*token || generation != virtualTavrikPollGeneration_) {
            return;
        }
        virtualTavrikPollTask_ = Scheduler::invalidHandle;
        pollVirtualTavrikAdvertisingFile();
        if (*token && generation == virtualTavrikPollGeneration_) {
            pollVirtualTavrikInboundFile();
        }
        // A poll that entered the demo or restarted polling has ended this loop.
        if (*token && generation == virtualTavrikPollGeneration_) {
            scheduleVirtualTavrikPoll(localLinkPollInterval, generation);
        }
    });
}

void TavrikBleCentral::pollVirtualTavrikAdvertisingFile()
{
    if (isReviewDemo_) {
        return;
    }
    std::optional<Json> advertisement;
    RegularFile file = openLinkFile(localLinkDirectory_, advertisingFileName, RegularFile::Access::read);
    if (acceptLocalLinkFile(advertisingFileName, file) && file.size() <= advertisementSizeLimit) {
        if (const std::optional<Data> bytes = file.read(0, file.size())) {
            advertisement = parseAdvertisement(*bytes);
        }
    }
    const std::optional<std::string> offered
        = advertisement ? offeredSession(*advertisement, clock.now()) : std::optional<std::string>();
    if (virtualTavrikConnected_ && offered != virtualTavrikSession_) {
        publish(virtualTavrikConnected_, false, &TavrikBleCentral::virtualTavrikConnectedChanged);
        virtualTavrikSession_.reset();
        virtualTavrikInboundOffset_ = 0;
        handleDisconnect(std::nullopt);
        return;
    }
    virtualTavrikSession_ = offered;
    if (virtualTavrikSession_) {
        connectVirtualTavrikIfNeeded();
    }
}

void TavrikBleCentral::connectVirtualTavrikIfNeeded()
{
    if (isReviewDemo_ || isPreparingForTermination_ || !virtualTavrikSession_ || virtualTavrikConnected_ || isConnected_) {
        return;
    }
    if (!sessionMode_ && !tagScanSessionActive_ && !routineControlSessionActive_) {
        return;
    }
    appendLog("Found Tavrik Simulator (local connection; Bluetooth security is not simulated)", true);
    virtualTavrikClient_ = Uuid::random(random).text();
    publish(virtualTavrikConnected_, true, &TavrikBleCentral::virtualTavrikConnectedChanged);
    virtualTavrikInboundOffset_ = 0;
    setIsConnected(true);
    central.stopScan();
    updateStatus("Connecting to simulator");

    if (sessionMode_) {
        setSyncStage(SyncStage::connecting());
        sendSyncStart();
    } else if (!routineControlSessionActive_) {
        setTagScanState(TagScanState::connecting());
        if (tagScanCommandPending_) {
            tagScanCommandPending_ = false;
            sendTagCommand(tagScanPurpose_ == TagScanPurpose::killSwitch ? "scan purpose=kill_switch" : "scan");
        }
    } else {
        setRoutineError(std::nullopt);
        sendAtomicCommandsIfNeeded();
        if (pendingRoutineCommand_) {
            const std::string command = *pendingRoutineCommand_;
            pendingRoutineCommand_.reset();
            sendRoutineCommand(command);
        }
        sendPendingClockCommandIfNeeded();
        sendPendingWifiRequestIfNeeded();
    }
}

void TavrikBleCentral::pollVirtualTavrikInboundFile()
{
    if (isReviewDemo_ || !virtualTavrikConnected_) {
        return;
    }
    RegularFile file = openLinkFile(localLinkDirectory_, inboundFileName, RegularFile::Access::read);
    if (!acceptLocalLinkFile(inboundFileName, file)) {
        return;
    }
    const std::uint64_t length = file.size();
    if (length > localLinkFileSizeLimit || virtualTavrikInboundOffset_ >= length) {
        return;
    }
    // Only what was measured against the limit; lines written since wait for the next poll.
    const std::optional<Data> read = file.read(virtualTavrikInboundOffset_, length - virtualTavrikInboundOffset_);
    if (!read || read->empty()) {
        return;
    }
    const std::string_view bytes(reinterpret_cast<const char*>(read->data()), read->size());

    const std::string connectedClient = virtualTavrikClient_;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t end = bytes.find('\n', start);
        if (end == std::string_view::npos) {
            break;
        }
        const std::string_view line = bytes.substr(start, end - start);
        virtualTavrikInboundOffset_ += static_cast<std::uint64_t>(end - start) + 1;
        start = end + 1;

        Json object;
        try {
            object = parseJson(line);
        } catch (const std::exception&) {
            continue;
        }
        if (!object.is_object()) {
            continue;
        }
        const Json* session = json::member(object, "session");
        if (session && session->is_string()) {
            if (session->get<std::string>() != virtualTavrikSession_) {
                continue;
            }
        } else if (virtualTavrikSession_) {
            continue;
        }
        const Json* client = json::member(object, "client");
        if (!client || !client->is_string() || client->get<std::string>() != virtualTavrikClient_) {
            continue;
        }
        const Json* payload = json::member(object, "payload");
        if (!payload || !payload->is_string()) {
            continue;
        }
        const std::optional<Data> message = base64Decoded(payload->get<std::string>());
        if (!message) {
            continue;
        }
        const std::uint16_t messageId = nextVirtualMessageId_;
        nextVirtualMessageId_ = nextVirtualMessageId_ == 65535 ? std::uint16_t { 50000 }
                                                               : static_cast<std::uint16_t>(nextVirtualMessageId_ + 1);
        handleDataEnvelope(messageId, *message);
        // A message may end the link, or begin the demo; the rest of the file then waits for a new connect.
        if (!virtualTavrikConnected_ || isReviewDemo_ || virtualTavrikClient_ != connectedClient) {
            break;
        }
    }
}

bool TavrikBleCentral::sendVirtualTavrikPayload(const Data& data)
{
    if (isReviewDemo_ || !virtualTavrikConnected_ || !virtualTavrikSession_) {
        return false;
    }
    Json object = Json::object();
    object["payload"] = base64Encoded(data);
    object["flags"] = 0;
    object["session"] = *virtualTavrikSession_;
    object["client"] = virtualTavrikClient_;
    const std::optional<std::string> text = strictJsonText(object);
    if (!text) {
        appendLog("Simulator send failed: the message could not be encoded", true);
        return false;
    }
    const std::string line = *text + "\n";

    RegularFile file = openLinkFile(localLinkDirectory_, outboundFileName, RegularFile::Access::append);
    if (!file.isOpen()) {
        appendLog("Simulator send failed: "
                + (file.problem() == RegularFile::Problem::notRegular
                        ? std::string(outboundFileName) + " is not a regular file"
                        : file.reason()),
            true);
        return false;
    }
    if (file.size() + line.size() > localLinkFileSizeLimit) {
        return false;
    }
    if (!file.append(std::span(reinterpret_cast<const std::uint8_t*>(line.data()), line.size()))) {
        appendLog("Simulator send failed: " + file.reason(), true);
        return false;
    }
    return true;
}

bool TavrikBleCentral::acceptLocalLinkFile(const std::string& name, const RegularFile& file)
{
    if (file.problem() != RegularFile::Problem::notRegular) {
        refusedLocalLinkFiles_.erase(name);
        return file.isOpen();
    }
    if (refusedLocalLinkFiles_.insert(name).second) {
        appendLog("Local link: " + name + " is not a regular file; it is ignored", true);
    }
    return false;
}

bool TavrikBleCentral::sendVirtualTavrikCommand(std::string_view channel, std::string_view command)
{
    const std::string text = std::string(channel) + ":" + text::trimmed(command);
    appendLog("[virtual:data] -> " + text, true);
    return sendVirtualTavrikPayload(Data(text.begin(), text.end()));
}

bool TavrikBleCentral::sendVirtualTavrikEncodable(const Json& value)
{
    const std::optional<std::string> text = strictJsonText(value);
    if (!text) {
        appendLog("[virtual:data] invalid JSON encoding", true);
        return false;
    }
    appendLog("[virtual:data] -> " + std::to_string(text->size()) + " bytes", true);
    return sendVirtualTavrikPayload(Data(text->begin(), text->end()));
}

} // namespace tavrik
