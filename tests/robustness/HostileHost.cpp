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
    const std::string request = shortenedForMessage(stringFromData(action));
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
    invariants.context = context;
    Reply& reply = lastReply;
    reply.document = invariants.check(request, response);
    if (reply.document.is_null()) {
        return;
    }
    reply.ok = reply.document.at("ok").get<bool>();
    if (const auto error = reply.document.find("error");
        !reply.ok && error != reply.document.end() && error->is_string()) {
        reply.error = error->get<std::string>();
    }
    lastGeneration = reply.state().at("generation").get<std::uint64_t>();
}

void HostileHost::collectWrites()
{
    std::vector<Data> frames;
    for (const Document& effect : lastReply.effectsOfType("write")) {
        const std::optional<Data> frame = base64Decoded(effect.value("payload", ""));
        const std::optional<FrameHeader> header = frame ? parseHeader(*frame) : std::nullopt;
        if (!header || frame->size() != header->payloadLength + frameOverhead) {
            ADD_FAILURE() << context << ": the session wrote a malformed frame";
            continue;
        }
        frames.push_back(*frame);
    }
    device.receiveFrames(frames);
    device.keepNewest(keptSentMessages);
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
    return device.lastReceived(type);
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

Json sampleDeviceDataWithOneTimeSchedule()
{
    Json data = sampleDeviceData();
    data["schedules"].push_back(parseJson(R"({"id": 2, "routineId": 2, "hour": 21, "minute": 0, "days": 128,
        "enabled": 1, "type": "single", "year": 2025, "month": 7, "day": 1})"));
    return data;
}

} // namespace tavrik::test
