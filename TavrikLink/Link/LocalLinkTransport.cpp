#include "TavrikLink/Link/LocalLinkTransport.hpp"

#include "TavrikCore/Support/Base64.hpp"
#include "TavrikCore/Support/JsonScanner.hpp"
#include "TavrikCore/Support/Text.hpp"
#include "TavrikCore/Support/Uuid.hpp"

#include <QStandardPaths>

#include <algorithm>
#include <memory>
#include <span>
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

    enum class Read { line, piece, end };

    // The next complete line, without its line feed, into `line`; or one more piece of the file read
    // towards it (a long line takes several); or the end, or a partial line.
    Read advance(std::string_view& line)
    {
        for (bool read = false;; read = true) {
            const auto found = std::find(buffer.begin() + static_cast<std::ptrdiff_t>(searched), buffer.end(), '\n');
            if (found != buffer.end()) {
                const auto end = static_cast<std::size_t>(found - buffer.begin());
                line = std::string_view(reinterpret_cast<const char*>(buffer.data()) + position, end - position);
                position = end + 1;
                searched = position;
                return Read::line;
            }
            searched = buffer.size();
            if (read) {
                return Read::piece;
            }
            if (next >= file.size()) {
                return Read::end;
            }
            buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(position));
            searched -= position;
            position = 0;
            const std::optional<Data> piece = file.read(next, readSize);
            if (!piece || piece->empty()) {
                return Read::end;
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
    std::size_t searched = 0;
};

bool isBase64Text(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char character) {
        return (character >= 'A' && character <= 'Z') || (character >= 'a' && character <= 'z')
            || (character >= '0' && character <= '9') || character == '+' || character == '/' || character == '=';
    });
}

// A line is mostly its payload, and a parser copies a long string a character at a time: a payload
// written plainly (nothing but base64, as it always is) is taken from the text as it stands, and
// only the rest of the line, with an empty payload, is parsed. Anything else reads the whole line.
struct SplitLine {
    std::string rest;
    std::string_view payload;
};

std::optional<SplitLine> splitPayload(std::string_view line)
{
    constexpr std::size_t notFound = JsonScanner::notFound;
    const JsonScanner scanner(line);
    std::size_t payloadOpen = notFound;
    std::size_t payloadEnd = notFound;
    const bool walked = scanner.forEachMember([&](std::string_view key, bool escapedKey, std::size_t at) {
        if (escapedKey) {
            return notFound;
        }
        const std::size_t end = scanner.skipValue(at, 1);
        if (key == "payload") {
            if (payloadOpen != notFound || end == notFound || line[at] != '"') {
                return notFound;
            }
            payloadOpen = at;
            payloadEnd = end;
        }
        return end;
    });
    if (!walked || payloadOpen == notFound) {
        return std::nullopt;
    }
    const std::string_view payload = line.substr(payloadOpen + 1, payloadEnd - payloadOpen - 2);
    if (!isBase64Text(payload)) {
        return std::nullopt;
    }
    SplitLine split;
    split.rest.reserve(line.size() - payload.size());
    split.rest.append(line.substr(0, payloadOpen + 1));
    split.rest.append(line.substr(payloadEnd - 1));
    split.payload = payload;
    return split;
}

// Whether the line's members (its payload aside) address it to this session and client.
bool addressedTo(const Json& object, const std::optional<std::string>& session, const std::string& client)
{
    if (!object.is_object()) {
        return false;
    }
    const Json* lineSession = json::member(object, "session");
    if (lineSession && lineSession->is_string()) {
        if (lineSession->get<std::string>() != session) {
            return false;
        }
    } else if (session) {
        return false;
    }
    const Json* lineClient = json::member(object, "client");
    if (!lineClient || !lineClient->is_string() || lineClient->get<std::string>() != client) {
        return false;
    }
    const Json* payload = json::member(object, "payload");
    return payload && payload->is_string();
}

// The message of one line, when the line is addressed to this session and client.
std::optional<Data> linkMessage(
    std::string_view line, const std::optional<std::string>& session, const std::string& client)
{
    const std::optional<SplitLine> split = splitPayload(line);
    Json object;
    try {
        object = parseJson(split ? std::string_view(split->rest) : line);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (!addressedTo(object, session, client)) {
        return std::nullopt;
    }
    return base64Decoded(
        split ? split->payload : std::string_view(json::member(object, "payload")->get_ref<const std::string&>()));
}

// How much of a long line one step reads, checks or decodes; a multiple of four for the decoding.
constexpr std::size_t linePiece = 262144;

// The message of a line too long for one step, worked out a piece at a time, with the same result
// as `linkMessage`. Base64 holds no quote or backslash, so a payload written plainly ends at the
// first quote after its opening one: the rest of the line is walked and read at once, and the
// payload is checked and decoded a piece at a step. Should a piece hold anything but base64, the
// payload was not written plainly after all and the whole line is read at once.
class LongLineMessage {
public:
    // `line` must stay where it is until the message is decided.
    LongLineMessage(std::string_view line, const std::optional<std::string>& session, const std::string& client)
        : line(line)
        , session(session)
        , client(client)
    {
    }

    std::size_t length() const { return line.size(); }

    // Does one step; true once the message is decided.
    bool advance()
    {
        if (!located) {
            located = true;
            return locate();
        }
        const std::string_view piece = payload.substr(checked, linePiece);
        if (!isBase64Text(piece)) {
            message = linkMessage(line, session, client);
            return true;
        }
        checked += piece.size();
        const bool last = checked == payload.size();
        // A line for someone else, or misplaced padding, is still checked to its end: only then is
        // it known that the plain reading stands.
        if (decoding && !base64DecodePiece(piece, last, bytes)) {
            decoding = false;
            Data().swap(bytes);
        }
        if (last && decoding) {
            message = std::move(bytes);
        }
        return last;
    }

    std::optional<Data> take() { return std::move(message); }

private:
    bool locate()
    {
        constexpr std::size_t notFound = JsonScanner::notFound;
        const JsonScanner scanner(line);
        std::size_t payloadOpen = notFound;
        std::size_t payloadEnd = notFound;
        const bool walked = scanner.forEachMember([&](std::string_view key, bool escapedKey, std::size_t at) {
            if (escapedKey) {
                return notFound;
            }
            if (key != "payload") {
                return scanner.skipValue(at, 1);
            }
            if (payloadOpen != notFound || at >= line.size() || line[at] != '"') {
                return notFound;
            }
            const std::size_t quote = line.find('"', at + 1);
            if (quote == std::string_view::npos) {
                return notFound;
            }
            payloadOpen = at;
            payloadEnd = quote + 1;
            return payloadEnd;
        });
        if (!walked || payloadOpen == notFound) {
            message = linkMessage(line, session, client);
            return true;
        }
        payload = line.substr(payloadOpen + 1, payloadEnd - payloadOpen - 2);
        std::string rest;
        rest.reserve(line.size() - payload.size());
        rest.append(line.substr(0, payloadOpen + 1));
        rest.append(line.substr(payloadEnd - 1));
        try {
            decoding = addressedTo(parseJson(rest), session, client);
        } catch (const std::exception&) {
            decoding = false;
        }
        if (decoding) {
            bytes.reserve(payload.size() / 4 * 3);
        }
        return false;
    }

    std::string_view line;
    std::optional<std::string> session;
    std::string client;
    bool located = false;
    std::string_view payload;
    std::size_t checked = 0;
    bool decoding = false;
    Data bytes;
    std::optional<Data> message;
};

// The session a fresh, enabled advertisement offers.
std::optional<std::string> offeredSessionOf(const Json& advertisement, std::chrono::system_clock::time_point now)
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

std::filesystem::path LocalLinkTransport::defaultDirectory()
{
    static const std::filesystem::path directory = [] {
        const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
        return std::filesystem::path(base.toStdString()) / "Tavrik Simulator" / "Local Link";
    }();
    return directory;
}

LocalLinkTransport::LocalLinkTransport(std::filesystem::path directory, Scheduler& scheduler, const Clock& clock,
    RandomSource& random, Callbacks callbacks)
    : folder(std::move(directory))
    , scheduler(scheduler)
    , clock(clock)
    , random(random)
    , callbacks(std::move(callbacks))
    , clientId(Uuid::random(random).text())
{
}

void LocalLinkTransport::startPolling()
{
    stopPolling();
    schedulePoll(std::chrono::milliseconds(0));
}

void LocalLinkTransport::stopPolling()
{
    ++pollGeneration;
    pollTask.cancel();
}

void LocalLinkTransport::schedulePoll(std::chrono::milliseconds delay)
{
    pollTask.schedule(delay, [this, generation = pollGeneration] {
        pollAdvertisement();
        // What the advertisement led to may have stopped or restarted polling, which ends this loop.
        if (generation == pollGeneration) {
            pollInbound();
        }
        if (generation == pollGeneration) {
            schedulePoll(pollInterval);
        }
    });
}

void LocalLinkTransport::pollAdvertisement()
{
    std::optional<Json> advertisement;
    RegularFile file = openLinkFile(folder, advertisingFileName, RegularFile::Access::read);
    if (acceptFile(advertisingFileName, file) && file.size() <= advertisementSizeLimit) {
        if (const std::optional<Data> bytes = file.read(0, file.size())) {
            advertisement = parseAdvertisement(*bytes);
        }
    }
    const std::optional<std::string> offered
        = advertisement ? offeredSessionOf(*advertisement, clock.now()) : std::optional<std::string>();
    if (connected && offered != offeredSession) {
        disconnect(true);
        callbacks.sessionLost();
        return;
    }
    offeredSession = offered;
    if (offeredSession && !connected) {
        callbacks.sessionOffered();
    }
}

void LocalLinkTransport::connect()
{
    clientId = Uuid::random(random).text();
    readOffset = 0;
    setConnected(true);
}

void LocalLinkTransport::disconnect(bool forgetSession)
{
    readOffset = 0;
    if (forgetSession) {
        offeredSession.reset();
    }
    setConnected(false);
}

void LocalLinkTransport::setConnected(bool value)
{
    if (connected == value) {
        return;
    }
    connected = value;
    callbacks.attachedChanged();
}

void LocalLinkTransport::pollInbound()
{
    // Lines read earlier are still being delivered; what came since waits for them.
    if (!connected || inbound.isRunning()) {
        return;
    }
    RegularFile file = openLinkFile(folder, inboundFileName, RegularFile::Access::read);
    if (!acceptFile(inboundFileName, file)) {
        return;
    }
    const std::uint64_t length = file.size();
    if (length > fileSizeLimit || readOffset >= length) {
        return;
    }
    // Only what was measured against the limit; lines written since wait for the next poll. One
    // line a step, so a backlog never holds the window for more than a slice of a turn.
    auto pending = std::make_shared<PendingLines>(std::move(file), readOffset);
    auto longLine = std::make_shared<std::optional<LongLineMessage>>();
    inbound.start([this, pending, longLine, connectedClient = clientId] {
        // A message may end the connection or lead to a new one; the rest then waits for the next
        // connection, which reads the file again.
        if (!connected || clientId != connectedClient) {
            return false;
        }
        std::optional<Data> message;
        if (*longLine) {
            if (!(*longLine)->advance()) {
                return true;
            }
            readOffset += (*longLine)->length() + 1;
            message = (*longLine)->take();
            longLine->reset();
        } else {
            std::string_view line;
            switch (pending->advance(line)) {
            case PendingLines::Read::end:
                return false;
            case PendingLines::Read::piece:
                return true;
            case PendingLines::Read::line:
                break;
            }
            // A line longer than a piece is read over several steps, as it took several to arrive.
            if (line.size() > linePiece) {
                longLine->emplace(line, offeredSession, clientId);
                return true;
            }
            readOffset += line.size() + 1;
            message = linkMessage(line, offeredSession, clientId);
        }
        if (message) {
            const std::uint16_t id = messageId;
            messageId = messageId == 65535 ? firstMessageId : static_cast<std::uint16_t>(messageId + 1);
            callbacks.message(id, std::move(*message));
        }
        return !pending->atEnd();
    });
}

bool LocalLinkTransport::sendCommand(std::string_view channel, std::string_view command)
{
    const std::string text = std::string(channel) + ":" + text::trimmed(command);
    callbacks.log("[virtual:data] -> " + text);
    return sendPayload(Data(text.begin(), text.end()));
}

bool LocalLinkTransport::sendMessage(const Json& message)
{
    const std::optional<std::string> text = strictJsonText(message);
    if (!text) {
        callbacks.log("[virtual:data] invalid JSON encoding");
        return false;
    }
    callbacks.log("[virtual:data] -> " + std::to_string(text->size()) + " bytes");
    return sendPayload(Data(text->begin(), text->end()));
}

bool LocalLinkTransport::sendPayload(const Data& data)
{
    if (!connected || !offeredSession) {
        return false;
    }
    Json object = Json::object();
    object["payload"] = base64Encoded(data);
    object["flags"] = 0;
    object["session"] = *offeredSession;
    object["client"] = clientId;
    const std::optional<std::string> text = strictJsonText(object);
    if (!text) {
        callbacks.log("Simulator send failed: the message could not be encoded");
        return false;
    }
    const std::string line = *text + "\n";

    RegularFile file = openLinkFile(folder, outboundFileName, RegularFile::Access::append);
    if (!file.isOpen()) {
        callbacks.log("Simulator send failed: "
            + (file.problem() == RegularFile::Problem::notRegular ? std::string(outboundFileName) + " is not a regular file"
                                                                  : file.reason()));
        return false;
    }
    if (file.size() + line.size() > fileSizeLimit) {
        return false;
    }
    if (!file.append(std::span(reinterpret_cast<const std::uint8_t*>(line.data()), line.size()))) {
        callbacks.log("Simulator send failed: " + file.reason());
        return false;
    }
    return true;
}

bool LocalLinkTransport::acceptFile(const std::string& name, const RegularFile& file)
{
    if (file.problem() != RegularFile::Problem::notRegular) {
        refusedFiles.erase(name);
        return file.isOpen();
    }
    if (refusedFiles.insert(name).second) {
        callbacks.log("Local link: " + name + " is not a regular file; it is ignored");
    }
    return false;
}

} // namespace tavrik
