#include "TavrikLink/Controller/TavrikBleCentral.hpp"

#include "TavrikCore/Support/Base64.hpp"
#include "TavrikCore/Support/Text.hpp"
#include "TavrikLink/Support/RegularFile.hpp"

#include <QStandardPaths>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

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

// The lines of "to-link.jsonl" from where the application stopped up to the length measured when
// the poll opened it, read a piece at a time as they are delivered.
class PendingLines {
public:
    PendingLines(RegularFile file, std::uint64_t offset)
        : file(std::move(file))
        , next(offset)
    {
    }

    // The next complete line, without its line feed; none at the end or before a partial line.
    std::optional<std::string_view> nextLine()
    {
        std::size_t searched = position;
        while (true) {
            const auto found = std::find(buffer.begin() + static_cast<std::ptrdiff_t>(searched), buffer.end(), '\n');
            if (found != buffer.end()) {
                const auto end = static_cast<std::size_t>(found - buffer.begin());
                const std::string_view line(reinterpret_cast<const char*>(buffer.data()) + position, end - position);
                position = end + 1;
                return line;
            }
            if (next >= file.size()) {
                return std::nullopt;
            }
            buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(position));
            searched = buffer.size();
            position = 0;
            const std::optional<Data> piece = file.read(next, readSize);
            if (!piece || piece->empty()) {
                return std::nullopt;
            }
            next += piece->size();
            buffer.insert(buffer.end(), piece->begin(), piece->end());
        }
    }

    bool atEnd() const { return position == buffer.size() && next >= file.size(); }

private:
    static constexpr std::uint64_t readSize = 262144;

    RegularFile file;
    std::uint64_t next;
    Data buffer;
    std::size_t position = 0;
};

// The message of one line, when the line is addressed to this session and client.
std::optional<Data> linkMessage(
    std::string_view line, const std::optional<std::string>& session, const std::string& client)
{
    Json object;
    try {
        object = parseJson(line);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (!object.is_object()) {
        return std::nullopt;
    }
    const Json* lineSession = json::member(object, "session");
    if (lineSession && lineSession->is_string()) {
        if (lineSession->get<std::string>() != session) {
            return std::nullopt;
        }
    } else if (session) {
        return std::nullopt;
    }
    const Json* lineClient = json::member(object, "client");
    if (!lineClient || !lineClient->is_string() || lineClient->get<std::string>() != client) {
        return std::nullopt;
    }
    const Json* payload = json::member(object, "payload");
    if (!payload || !payload->is_string()) {
        return std::nullopt;
    }
    return base64Decoded(payload->get<std::string>());
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
    // Lines read earlier are still being delivered; what came since waits for them.
    if (isReviewDemo_ || !virtualTavrikConnected_ || virtualTavrikInbound_.isRunning()) {
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
    // Only what was measured against the limit; lines written since wait for the next poll. One
    // line a step, so a backlog never holds the window for more than a slice of a turn.
    auto pending = std::make_shared<PendingLines>(std::move(file), virtualTavrikInboundOffset_);
    virtualTavrikInbound_.start([this, pending, connectedClient = virtualTavrikClient_] {
        // A message may end the link, begin the demo or lead to a new connect; the rest then waits
        // for the next connect, which reads the file again.
        if (!virtualTavrikConnected_ || isReviewDemo_ || virtualTavrikClient_ != connectedClient) {
            return false;
        }
        const std::optional<std::string_view> line = pending->nextLine();
        if (!line) {
            return false;
        }
        virtualTavrikInboundOffset_ += line->size() + 1;
        if (const std::optional<Data> message = linkMessage(*line, virtualTavrikSession_, virtualTavrikClient_)) {
            const std::uint16_t messageId = nextVirtualMessageId_;
            nextVirtualMessageId_ = nextVirtualMessageId_ == 65535
                ? std::uint16_t { 50000 }
                : static_cast<std::uint16_t>(nextVirtualMessageId_ + 1);
            handleDataEnvelope(messageId, *message);
        }
        return !pending->atEnd();
    });
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
