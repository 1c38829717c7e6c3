#include "tests/robustness/HostileHost.hpp"

#include "TavrikCore/Link/BleDataChannel.hpp"
#include "TavrikCore/Link/BleDataFrame.hpp"
#include "TavrikCore/Support/Base64.hpp"

#include <gtest/gtest.h>

#include <algorithm>

namespace tavrik::test {

namespace {

constexpr int writeLength = 185;
constexpr std::size_t keptSentMessages = 64;

std::string shortened(std::string text)
{
    if (text.size() > 300) {
        text.resize(300);
        text += "...";
    }
    return text;
}

} // namespace

std::vector<HostileHost::Document> HostileHost::Reply::effectsOfType(std::string_view type) const
{
    std::vector<Document> found;
    const auto effects = document.find("effects");
    if (!document.is_object() || effects == document.end() || !effects->is_array()) {
        return found;
    }
    for (const Document& effect : *effects) {
        if (effect.is_object() && effect.value("type", "") == type) {
            found.push_back(effect);
        }
    }
    return found;
}

HostileHost::HostileHost(bool allowSimulator)
    : session(std::make_unique<CompanionSession>(allowSimulator, clock, random))
{
}

const HostileHost::Reply& HostileHost::dispatchRaw(const Data& action, const Data& payload)
{
    const std::string request = shortened(stringFromData(action));
    lastReply = Reply {};
    Data response;
    try {
        response = session->dispatch(action, payload);
    } catch (const std::exception& failure) {
        ADD_FAILURE() << context << ": dispatch threw \"" << failure.what() << "\" for " << request;
        return lastReply;
    } catch (...) {
        ADD_FAILURE() << context << ": dispatch threw for " << request;
        return lastReply;
    }
    check(request, response);
    collectWrites();
    for (Document& download : lastReply.effectsOfType("download")) {
        downloads.push_back(std::move(download));
    }
    firmwareWrites += lastReply.effectsOfType("firmwareWrite").size();
    return lastReply;
}

void HostileHost::check(const std::string& request, const Data& response)
{
    Reply& reply = lastReply;
    try {
        reply.document = Document::parse(response.begin(), response.end());
    } catch (const std::exception& failure) {
        ADD_FAILURE() << context << ": response is not JSON (" << failure.what() << ") for " << request << ": "
                      << shortened(stringFromData(response));
        return;
    }
    const Document& document = reply.document;
    if (!document.is_object() || document.value("version", Document()) != Document(1) || !document.contains("ok")
        || !document.at("ok").is_boolean()) {
        ADD_FAILURE() << context << ": malformed response for " << request << ": " << shortened(document.dump());
        reply.document = nullptr;
        return;
    }
    reply.ok = document.at("ok").get<bool>();
    const auto error = document.find("error");
    if (reply.ok == (error != document.end()) || (error != document.end() && !error->is_string())) {
        ADD_FAILURE() << context << ": \"error\" does not match \"ok\" for " << request;
    }
    if (!reply.ok && error != document.end() && error->is_string()) {
        reply.error = error->get<std::string>();
    }
    const auto state = document.find("state");
    const auto effects = document.find("effects");
    if (state == document.end() || !state->is_object() || effects == document.end() || !effects->is_array()) {
        ADD_FAILURE() << context << ": response without state or effects for " << request << ": "
                      << shortened(document.dump());
        reply.document = nullptr;
        return;
    }
    const auto revision = state->find("revision");
    const auto generation = state->find("generation");
    if (revision == state->end() || !revision->is_number_unsigned() || generation == state->end()
        || !generation->is_number_unsigned()) {
        ADD_FAILURE() << context << ": state without revision or generation for " << request;
        reply.document = nullptr;
        return;
    }
    const auto newRevision = revision->get<std::uint64_t>();
    const auto newGeneration = generation->get<std::uint64_t>();
    if (started) {
        EXPECT_EQ(newRevision, reply.ok ? lastRevision + 1 : lastRevision)
            << context << ": revision after " << request << " (" << (reply.ok ? "ok" : reply.error) << ")";
        EXPECT_GE(newGeneration, lastGeneration) << context << ": generation went back after " << request;
    }
    started = true;
    lastRevision = newRevision;
    lastGeneration = newGeneration;
    checkEffects(*effects, *state, request);
    if (!state->value("connected", true)) {
        const Document firmware = state->value("firmware", Document::object());
        EXPECT_FALSE(state->contains("device") || state->value("wifiBusy", true) || state->value("scanActive", true)
            || state->value("simulator", true) || state->contains("idleSeconds") || firmware.value("active", true))
            << context << ": link state outlives the link after " << request << ": " << shortened(state->dump());
    }
}

void HostileHost::checkEffects(const Document& effects, const Document& state, const std::string& request)
{
    for (const Document& effect : effects) {
        const std::string type = effect.is_object() ? effect.value("type", "") : "";
        if (type == "write" || type == "applicationWrite" || type == "firmwareWrite" || type == "message") {
            const auto payload = effect.find("payload");
            EXPECT_TRUE(payload != effect.end() && payload->is_string() && base64Decoded(payload->get<std::string>()))
                << context << ": " << type << " effect without a base64 payload after " << request;
        } else if (type == "download") {
            const std::string url = effect.value("url", "");
            EXPECT_TRUE(url.starts_with("https://")) << context << ": download of " << url << " after " << request;
            EXPECT_TRUE(effect.value("requestId", Document()).is_string()) << context << ": download without id";
            EXPECT_EQ(effect.value("generation", Document()), state.value("generation", Document()))
                << context << ": download for another link after " << request;
        } else if (type != "disconnect" && type != "clearFirmwareWrites") {
            ADD_FAILURE() << context << ": unknown effect " << shortened(effect.dump()) << " after " << request;
        }
    }
}

void HostileHost::collectWrites()
{
    for (const Document& effect : lastReply.effectsOfType("write")) {
        const std::optional<Data> frame = base64Decoded(effect.value("payload", ""));
        const std::optional<FrameHeader> header = frame ? parseHeader(*frame) : std::nullopt;
        if (!header || frame->size() != header->payloadLength + frameOverhead) {
            ADD_FAILURE() << context << ": the session wrote a malformed frame";
            continue;
        }
        auto& chunks = partial[header->messageId];
        chunks[header->chunkIndex]
            = Data(frame->begin() + static_cast<std::ptrdiff_t>(frameHeaderLength), frame->end() - 1);
        if (chunks.size() == header->chunkCount) {
            std::string text;
            for (const auto& [index, chunk] : chunks) {
                text.append(chunk.begin(), chunk.end());
            }
            sent.push_back(std::move(text));
            if (sent.size() > keptSentMessages) {
                sent.pop_front();
            }
            partial.erase(header->messageId);
        }
    }
}

const HostileHost::Reply& HostileHost::dispatch(std::string_view action, Json arguments, const Data& payload)
{
    Json envelope = { { "version", 1 }, { "action", std::string(action) } };
    for (const auto& [key, value] : arguments.items()) {
        envelope[key] = value;
    }
    return dispatchRaw(dumpJsonData(envelope), payload);
}

const HostileHost::Reply& HostileHost::callback(std::string_view action, const Data& payload, Json arguments)
{
    arguments["generation"] = lastGeneration;
    return dispatch(action, std::move(arguments), payload);
}

std::optional<Json> HostileHost::lastSent(std::string_view type) const
{
    for (auto message = sent.rbegin(); message != sent.rend(); ++message) {
        const Json value = Json::parse(*message, nullptr, false);
        if (value.is_object() && value.value("type", "") == type) {
            return value;
        }
    }
    return std::nullopt;
}

bool HostileHost::connected() const
{
    return lastReply.document.is_object() && lastReply.state().value("connected", false);
}

bool HostileHost::simulator() const
{
    return lastReply.document.is_object() && lastReply.state().value("simulator", false);
}

bool HostileHost::firmwareActive() const
{
    return lastReply.document.is_object() && lastReply.state().at("firmware").value("active", false);
}

void HostileHost::settleWrites()
{
    for (int round = 0; round < 10000; ++round) {
        const std::vector<Document> writes = lastReply.effectsOfType("write");
        const bool waiting = std::any_of(
            writes.begin(), writes.end(), [](const Document& write) { return write.value("withResponse", false); });
        if (!waiting || !connected()) {
            return;
        }
        callback("writeComplete");
    }
    ADD_FAILURE() << context << ": the session never stopped writing";
}

void HostileHost::deviceSends(const Data& message, bool reliable)
{
    if (simulator()) {
        callback("receiveMessage", message);
        return;
    }
    std::optional<std::uint32_t> session;
    if (reliable) {
        if (const std::optional<Json> start = lastSent("sync_start"); start && start->contains("delivery")) {
            session = start->at("delivery").value("session", 0U);
        }
    }
    const std::size_t chunkSize = static_cast<std::size_t>(writeLength) - frameOverhead - (session ? 4 : 0);
    const std::size_t count = std::max<std::size_t>(1, (message.size() + chunkSize - 1) / chunkSize);
    const std::uint16_t messageId = nextFrameMessage++;
    for (std::size_t index = 0; index < count && connected(); ++index) {
        Data payload;
        if (session) {
            for (int shift = 0; shift < 32; shift += 8) {
                payload.push_back(static_cast<std::uint8_t>(*session >> shift));
            }
        }
        const std::size_t offset = std::min(index * chunkSize, message.size());
        const std::size_t length = std::min(chunkSize, message.size() - offset);
        payload.insert(payload.end(), message.begin() + static_cast<std::ptrdiff_t>(offset),
            message.begin() + static_cast<std::ptrdiff_t>(offset + length));
        callback("receiveFrame",
            makeFrame(session ? BleDataChannel::reliableFlags : BleDataChannel::plainFlags, messageId,
                static_cast<std::uint16_t>(index), static_cast<std::uint16_t>(count), payload));
        settleWrites();
    }
}

void HostileHost::loadOverPhysicalLink(const Json& syncData)
{
    dispatch("connect", { { "maximumWriteLength", writeLength } });
    dispatch("load");
    settleWrites();
    const std::optional<Json> start = lastSent("sync_start");
    ASSERT_TRUE(start) << context << ": no sync_start was sent";
    deviceSends(dumpJsonData(syncData), true);
    deviceSends(dumpJsonData(Json { { "type", "sync_done" }, { "code", start->value("code", "") } }));
}

void HostileHost::loadOverSimulator(const Json& syncData)
{
    dispatch("connectSimulator");
    dispatch("load");
    deviceSends(dumpJsonData(syncData));
    deviceSends(dumpJsonData(Json { { "type", "sync_done" } }));
}

Json sampleDeviceData()
{
    return parseJson(R"({
        "type": "sync_data",
        "dataVersion": 9,
        "firmwareVersion": "1.4.0",
        "hardwareTarget": "m5stick-c",
        "settings": {"muteNonAlarmSounds": 0, "killSwitchUid": ""},
        "wifi": {"supported": 1, "capacity": 3, "credentials": [{"ssid": "Home", "verified": 1, "lastSuccessful": 1}]},
        "clock": {"valid": 1, "year": 2025, "month": 6, "day": 15, "hour": 15, "minute": 6, "second": 40},
        "schedules": [
            {"id": 1, "routineId": 1, "hour": 7, "minute": 30, "days": 62, "enabled": 1},
            {"id": 2, "routineId": 2, "hour": 21, "minute": 0, "days": 128, "enabled": 1, "type": "single",
             "year": 2025, "month": 7, "day": 1}
        ],
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
