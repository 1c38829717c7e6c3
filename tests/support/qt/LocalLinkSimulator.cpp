#include "tests/support/qt/LocalLinkSimulator.hpp"

#include "TavrikCore/Support/Base64.hpp"

#include <QTimer>

#include <fstream>
#include <iterator>
#include <sstream>

namespace tavrik::test {

namespace {

void writeWhole(const std::filesystem::path& path, const std::string& text)
{
    // Written beside and renamed, so a reader never sees half an advertisement.
    const std::filesystem::path temporary = path.string() + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
    }
    std::filesystem::rename(temporary, path);
}

std::string readFrom(const std::filesystem::path& path, std::uint64_t offset)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return {};
    }
    in.seekg(static_cast<std::streamoff>(offset));
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

class LocalLinkSimulator::Ticker {
public:
    QTimer timer;
};

LocalLinkSimulator::~LocalLinkSimulator() = default;

void LocalLinkSimulator::run(const std::string& session, std::chrono::milliseconds interval, Now now)
{
    // Advertised before `now` moves into the timer's callback.
    advertise(session, now());
    ticker = std::make_unique<Ticker>();
    ticker->timer.setInterval(interval);
    QObject::connect(&ticker->timer, &QTimer::timeout, [this, session, now = std::move(now)] {
        advertise(session, now());
        pump();
    });
    ticker->timer.start();
}

void LocalLinkSimulator::stop()
{
    ticker.reset();
}

LocalLinkSimulator::LocalLinkSimulator(std::filesystem::path directory)
    : dir(std::move(directory))
{
    std::filesystem::create_directories(dir);
    for (const auto& path : { inboundFile(), outboundFile() }) {
        std::ofstream out(path, std::ios::binary | std::ios::app);
    }
    data.dataVersion = 9;
    data.firmwareVersion = "1.4.0";
    data.hardwareTarget = "m5stick-s3";
}

void LocalLinkSimulator::advertise(const std::string& session, double updatedAt, bool enabled)
{
    currentSession = session;
    Json advertisement = Json::object();
    advertisement["enabled"] = enabled;
    advertisement["session"] = session;
    advertisement["updatedAt"] = updatedAt;
    writeWhole(advertisingFile(), dumpJson(advertisement));
}

void LocalLinkSimulator::advertise(
    const std::string& session, std::chrono::system_clock::time_point updatedAt, bool enabled)
{
    advertise(session, std::chrono::duration<double>(updatedAt.time_since_epoch()).count(), enabled);
}

void LocalLinkSimulator::writeAdvertisementText(const std::string& text)
{
    writeWhole(advertisingFile(), text);
}

void LocalLinkSimulator::removeAdvertisement()
{
    std::filesystem::remove(advertisingFile());
}

std::vector<LocalLinkSimulator::Received> LocalLinkSimulator::pump()
{
    const std::string text = readFrom(inboundFile(), readOffset);
    std::vector<Received> lines;
    std::size_t start = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
        const std::string lineText = text.substr(start, end - start);
        readOffset += end - start + 1;
        start = end + 1;
        const Json object = parseJson(lineText);
        Received message;
        message.session = object.at("session").get<std::string>();
        message.client = object.at("client").get<std::string>();
        message.flags = object.at("flags").get<std::int64_t>();
        message.payload = base64Decoded(object.at("payload").get<std::string>()).value();
        client = message.client;
        lines.push_back(message);
    }
    for (const Received& message : lines) {
        log.push_back(message);
        answer(message);
    }
    return lines;
}

void LocalLinkSimulator::answer(const Received& message)
{
    const std::string text = message.text();
    if (!text.starts_with("{")) {
        const auto colon = text.find(':');
        if (colon != std::string::npos && answerCommand) {
            for (const Json& reply : answerCommand(text.substr(0, colon), text.substr(colon + 1))) {
                send(reply, message.client);
            }
        }
        return;
    }
    const Json envelope = parseJson(text);
    const std::string type = envelope.value("type", "");
    if (type == "sync_start" && answerSyncStart) {
        const std::string mode = envelope.at("mode").get<std::string>();
        const std::string code = envelope.at("code").get<std::string>();
        send({ { "type", "sync_ready" }, { "mode", mode }, { "code", code } }, message.client);
        if (mode == "load") {
            send(syncDataJson ? *syncDataJson : Json(toJson(data)), message.client);
            send({ { "type", "sync_done" }, { "mode", mode }, { "code", code } }, message.client);
        }
    }
}

void LocalLinkSimulator::send(const Json& message, std::optional<std::string> to)
{
    appendRaw(line(currentSession, to ? to : client, dumpJson(message)) + "\n");
}

void LocalLinkSimulator::appendRaw(const std::string& bytes)
{
    std::ofstream out(outboundFile(), std::ios::binary | std::ios::app);
    out << bytes;
}

std::string LocalLinkSimulator::line(
    const std::optional<std::string>& session, const std::optional<std::string>& client, const std::string& payloadText)
{
    Json object = Json::object();
    if (session) {
        object["session"] = *session;
    }
    if (client) {
        object["client"] = *client;
    }
    object["payload"] = base64Encoded(payloadText);
    return dumpJson(object);
}

std::vector<std::string> LocalLinkSimulator::receivedTexts() const
{
    std::vector<std::string> texts;
    for (const Received& message : log) {
        texts.push_back(message.text());
    }
    return texts;
}

std::vector<std::string> LocalLinkSimulator::receivedCommands() const
{
    std::vector<std::string> commands;
    for (const Received& message : log) {
        const std::string text = message.text();
        if (!text.starts_with("{")) {
            commands.push_back(text);
        }
    }
    return commands;
}

std::vector<Json> LocalLinkSimulator::receivedJson() const
{
    std::vector<Json> messages;
    for (const Received& message : log) {
        const std::string text = message.text();
        if (text.starts_with("{")) {
            messages.push_back(parseJson(text));
        }
    }
    return messages;
}

} // namespace tavrik::test
