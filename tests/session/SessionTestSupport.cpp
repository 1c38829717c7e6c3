#include "tests/session/SessionTestSupport.hpp"

#include "TavrikCore/Link/BleDataFrame.hpp"
#include "TavrikCore/Support/Base64.hpp"

#include <algorithm>
#include <stdexcept>

namespace tavrik::test {

std::string SessionResponse::error() const
{
    const Json* text = json::member(document, "error");
    return text ? text->get<std::string>() : std::string();
}

std::vector<Json> SessionResponse::effectsOfType(std::string_view type) const
{
    std::vector<Json> found;
    for (const Json& effect : effects()) {
        if (effect.at("type").get<std::string>() == type) {
            found.push_back(effect);
        }
    }
    return found;
}

std::vector<Data> SessionResponse::writes() const
{
    std::vector<Data> frames;
    for (const Json& effect : effectsOfType("write")) {
        frames.push_back(base64Payload(effect));
    }
    return frames;
}

std::vector<std::string> SessionResponse::applicationWrites() const
{
    std::vector<std::string> messages;
    for (const Json& effect : effectsOfType("applicationWrite")) {
        messages.push_back(stringFromData(base64Payload(effect)));
    }
    return messages;
}

Json sortedJson(const Json& value)
{
    return Json::parse(nlohmann::json(value).dump());
}

Data jsonData(const Json& value)
{
    return dumpJsonData(value);
}

Data textData(std::string_view text)
{
    return dataFromString(text);
}

Data base64Payload(const Json& effect)
{
    std::optional<Data> bytes = base64Decoded(effect.at("payload").get<std::string>());
    if (!bytes) {
        throw std::runtime_error("effect payload is not base64");
    }
    return *bytes;
}

ScriptedDevice::ScriptedDevice(int writeLength)
    : writeLength(writeLength)
    , channel([](const std::string&) {}, random)
{
    notifications->setMaximumWriteLength(writeLength);
    notifications->bind(&channel);
    channel.configure(notifications);
    channel.onMessage = [this](std::uint16_t, const Data& payload) { texts.push_back(stringFromData(payload)); };
}

void ScriptedDevice::receiveWrites(const SessionResponse& response)
{
    for (const Data& frame : response.writes()) {
        channel.handleIncoming(frame);
    }
}

std::vector<Json> ScriptedDevice::receivedJson() const
{
    std::vector<Json> messages;
    for (const std::string& text : texts) {
        Json value = Json::parse(text, nullptr, false);
        if (value.is_object()) {
            messages.push_back(std::move(value));
        }
    }
    return messages;
}

std::optional<Json> ScriptedDevice::lastReceived(std::string_view type) const
{
    std::optional<Json> found;
    for (const Json& message : receivedJson()) {
        if (message.value("type", "") == type) {
            found = message;
        }
    }
    return found;
}

std::vector<Data> ScriptedDevice::framesFor(const Json& message)
{
    notifications->setMaximumWriteLength(writeLength);
    notifications->clearWrites();
    if (!channel.sendEncodable(message)) {
        throw std::runtime_error("the device could not send its message");
    }
    notifications->completeAllWrites();
    std::vector<Data> frames = notifications->frames();
    notifications->clearWrites();
    return frames;
}

std::vector<Data> ScriptedDevice::reliableFramesFor(const Json& message, std::uint32_t session)
{
    const std::string text = dumpJson(message);
    const std::size_t chunkSize = static_cast<std::size_t>(writeLength) - frameOverhead - 4;
    const std::size_t count = (text.size() + chunkSize - 1) / chunkSize;
    const std::uint16_t messageId = nextReliableId++;
    std::vector<Data> frames;
    for (std::size_t index = 0; index < count; ++index) {
        Data payload {
            static_cast<std::uint8_t>(session & 0xFFU),
            static_cast<std::uint8_t>((session >> 8) & 0xFFU),
            static_cast<std::uint8_t>((session >> 16) & 0xFFU),
            static_cast<std::uint8_t>(session >> 24),
        };
        const std::string_view chunk = std::string_view(text).substr(index * chunkSize, chunkSize);
        payload.insert(payload.end(), chunk.begin(), chunk.end());
        frames.push_back(makeFrame(BleDataChannel::reliableFlags, messageId, static_cast<std::uint16_t>(index),
            static_cast<std::uint16_t>(count), payload));
    }
    return frames;
}

SessionTest::SessionTest()
{
    makeSession(true);
}

void SessionTest::makeSession(bool allowSimulator)
{
    current = std::make_unique<CompanionSession>(allowSimulator, clock, random);
    last = SessionResponse {};
}

SessionResponse SessionTest::dispatchRaw(const Data& action, const Data& payload)
{
    const Data bytes = current->dispatch(action, payload);
    SessionResponse response;
    response.text = stringFromData(bytes);
    response.document = parseJson(response.text);
    last = response;
    return response;
}

SessionResponse SessionTest::dispatch(std::string_view action, Json arguments, const Data& payload)
{
    Json envelope = { { "version", 1 }, { "action", std::string(action) } };
    for (const auto& [key, value] : arguments.items()) {
        envelope[key] = value;
    }
    return dispatchRaw(dumpJsonData(envelope), payload);
}

SessionResponse SessionTest::callback(std::string_view action, const Data& payload, Json arguments)
{
    arguments["generation"] = generation();
    return dispatch(action, std::move(arguments), payload);
}

SessionResponse SessionTest::connect(int maximumWriteLength)
{
    return dispatch("connect", { { "maximumWriteLength", maximumWriteLength } });
}

std::vector<SessionResponse> SessionTest::pump(const SessionResponse& response)
{
    std::vector<SessionResponse> responses;
    SessionResponse current = response;
    for (;;) {
        device.receiveWrites(current);
        const std::vector<Json> writes = current.effectsOfType("write");
        const bool awaitingResponse = std::any_of(
            writes.begin(), writes.end(), [](const Json& write) { return write.at("withResponse").get<bool>(); });
        if (!awaitingResponse) {
            return responses;
        }
        current = callback("writeComplete");
        responses.push_back(current);
    }
}

std::vector<SessionResponse> SessionTest::deviceSends(const Json& message)
{
    std::vector<SessionResponse> responses;
    for (const Data& frame : device.framesFor(message)) {
        responses.push_back(callback("receiveFrame", frame));
        for (SessionResponse& written : pump(responses.back())) {
            responses.push_back(std::move(written));
        }
    }
    return responses;
}

std::vector<SessionResponse> SessionTest::deviceSendsReliably(const Json& message)
{
    const std::optional<Json> start = device.lastReceived("sync_start");
    if (!start || !start->contains("delivery")) {
        throw std::runtime_error("the session offered no reliable delivery");
    }
    const auto session = start->at("delivery").at("session").get<std::uint32_t>();
    std::vector<SessionResponse> responses;
    for (const Data& frame : device.reliableFramesFor(message, session)) {
        responses.push_back(callback("receiveFrame", frame));
        for (SessionResponse& written : pump(responses.back())) {
            responses.push_back(std::move(written));
        }
    }
    return responses;
}

SessionResponse SessionTest::loadOverPhysicalLink(const Json& syncData, int maximumWriteLength)
{
    connect(maximumWriteLength);
    pump(dispatch("load"));
    const std::optional<Json> start = device.lastReceived("sync_start");
    if (!start) {
        throw std::runtime_error("the device received no sync_start");
    }
    deviceSendsReliably(syncData);
    deviceSends({ { "type", "sync_done" }, { "code", start->at("code") } });
    return last;
}

SessionResponse SessionTest::connectSimulator()
{
    return dispatch("connectSimulator");
}

SessionResponse SessionTest::simulatorSends(const Json& message)
{
    return callback("receiveMessage", jsonData(message));
}

SessionResponse SessionTest::loadOverSimulator(const Json& syncData)
{
    connectSimulator();
    const SessionResponse started = dispatch("load");
    const Json start = parseJson(started.applicationWrites().at(0));
    simulatorSends(syncData);
    return simulatorSends({ { "type", "sync_done" }, { "code", start.at("code") } });
}

Json sampleSyncData()
{
    return parseJson(R"({
        "type": "sync_data",
        "dataVersion": 9,
        "firmwareVersion": "1.4.0",
        "hardwareTarget": "m5stick-c",
        "settings": {"muteNonAlarmSounds": 0, "killSwitchUid": ""},
        "wifi": {"supported": 1, "capacity": 3, "credentials": [{"ssid": "Home", "verified": 1, "lastSuccessful": 1}]},
        "clock": {"valid": 1, "year": 2025, "month": 6, "day": 15, "hour": 15, "minute": 6, "second": 40},
        "schedules": [{"id": 1, "routineId": 1, "hour": 7, "minute": 30, "days": 62, "enabled": 1}],
        "tags": [
            {"id": 1, "uid": "04 11 22 33 44 55 66", "name": "Kitchen"},
            {"id": 2, "uid": "04 AA BB CC DD EE FF", "name": "Desk"}
        ],
        "routines": [
            {"id": 1, "label": "Morning", "startTagIds": [2], "groups": [],
             "steps": [{"id": 1, "position": 0, "parentId": 0, "tagId": "1", "seconds": 60, "instruction": "Wash", "unstoppable": 0}]},
            {"id": 2, "label": "Evening", "startTagIds": [],
             "groups": [{"id": 3, "position": 0, "label": "Wind down", "mode": "timebox", "timeLimitSeconds": 600}],
             "steps": [{"id": 5, "position": 0, "parentId": 3, "tagId": "2", "seconds": 30, "instruction": "Read", "unstoppable": 1}]}
        ]
    })");
}

} // namespace tavrik::test
