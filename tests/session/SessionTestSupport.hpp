#pragma once

#include "TavrikCore/Link/BleDataChannel.hpp"
#include "TavrikCore/Session/CompanionSession.hpp"
#include "TavrikCore/Support/Data.hpp"
#include "TavrikCore/Support/Json.hpp"
#include "tests/support/InMemoryBleTransport.hpp"
#include "tests/support/ManualClock.hpp"
#include "tests/support/SampleDevice.hpp"
#include "tests/support/ScriptedDevice.hpp"
#include "tests/support/SequenceRandomSource.hpp"
#include "tests/support/SessionResponseInvariants.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrik::test {

// One response of the session, parsed; the raw text is kept for byte-exact checks.
struct SessionResponse {
    std::string text;
    Json document;

    bool ok() const { return document.at("ok").get<bool>(); }
    // The "error" text; empty when the action succeeded.
    std::string error() const;
    const Json& state() const { return document.at("state"); }
    const Json& effects() const { return document.at("effects"); }
    std::vector<Json> effectsOfType(std::string_view type) const;
    // Decoded payloads of the "write" effects, in order.
    std::vector<Data> writes() const;
    // Decoded payloads of the "applicationWrite" effects, as text.
    std::vector<std::string> applicationWrites() const;
};

Data jsonData(const Json& value);
Data textData(std::string_view text);
// The value with every object's keys in sorted order, as the session writes its state. Json keeps key
// order and compares objects in that order, so compare state records with sortedJson(expected).
Json sortedJson(const Json& value);

// The same under one name; texts are taken as they are, JSON values are written compactly.
inline Data dataOf(const Json& value)
{
    return jsonData(value);
}
inline Data dataOf(std::string_view text)
{
    return textData(text);
}
inline Data dataOf(const char* text)
{
    return textData(text);
}
inline Data dataOf(const std::string& text)
{
    return textData(text);
}
Data base64Payload(const Json& effect);

// A session on a manual clock and a pinned random source, with helpers that play the host; every
// response is checked against the invariants any host relies on.
class SessionTest : public ::testing::Test {
public:
    SessionTest();

    // A new session replaces the current one (the fixture starts with one that allows the simulator).
    void makeSession(bool allowSimulator);
    CompanionSession& session() { return *current; }

    // {"version":1,"action":action} plus the arguments.
    SessionResponse dispatch(std::string_view action, Json arguments = Json::object(), const Data& payload = {});
    // The same with the current "generation", as the host sends link callbacks.
    SessionResponse callback(std::string_view action, const Data& payload = {}, Json arguments = Json::object());
    SessionResponse dispatchRaw(const Data& action, const Data& payload = {});
    // The state of the last response.
    const Json& state() const { return last.state(); }
    // The generation the last response reported; 0 before the first.
    std::uint64_t generation() const
    {
        return last.document.is_null() ? 0 : state().at("generation").get<std::uint64_t>();
    }

    void advance(std::chrono::milliseconds step) { clock.advance(step); }

    // --- Physical link ---
    SessionResponse connect(int maximumWriteLength = 185);
    // Hands the response's writes to the device and answers each write with response with
    // "writeComplete" until the session has nothing more to write. Gives every response on the way.
    std::vector<SessionResponse> pump(const SessionResponse& response);
    // The device sends the message; each frame is one "receiveFrame", and the writes it causes are pumped.
    std::vector<SessionResponse> deviceSends(const Json& message);
    std::vector<SessionResponse> deviceSendsReliably(const Json& message);
    // Connects, loads and answers like a device: "sync_start" is read by the device, which answers with
    // the data (reliably, with the offered session) and "sync_done". Gives the last response.
    SessionResponse loadOverPhysicalLink(const Json& syncData, int maximumWriteLength = 185);

    // --- Simulator link ---
    SessionResponse connectSimulator();
    SessionResponse simulatorSends(const Json& message);
    SessionResponse loadOverSimulator(const Json& syncData);

    ManualClock clock;
    SequenceRandomSource random;
    std::unique_ptr<CompanionSession> current;
    ScriptedDevice device;
    SessionResponse last;
    SessionResponseInvariants invariants;
};

} // namespace tavrik::test
