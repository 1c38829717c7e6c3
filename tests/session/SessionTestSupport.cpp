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

SessionTest::SessionTest()
{
    makeSession(true);
}

void SessionTest::makeSession(bool allowSimulator)
{
    current = std::make_unique<CompanionSession>(allowSimulator, clock, random);
    invariants.restart();
    last = SessionResponse {};
}

SessionResponse SessionTest::dispatchRaw(const Data& action, const Data& payload)
{
    const Data bytes = current->dispatch(action, payload);
    invariants.check(shortenedForMessage(stringFromData(action)), bytes);
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
        device.receiveFrames(current.writes());
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

} // namespace tavrik::test
