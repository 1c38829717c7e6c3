#pragma once

#include "TavrikCore/Session/CompanionSession.hpp"
#include "TavrikCore/Support/Data.hpp"
#include "TavrikCore/Support/Json.hpp"
#include "tests/support/ManualClock.hpp"
#include "tests/support/SequenceRandomSource.hpp"

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrik::test {

// Plays the host of one session and checks every response against what any host may rely on: one
// JSON object with "version" 1 and "ok", an "error" text exactly when not ok, the whole state and a
// list of well-formed effects; a revision that rises by one on success only; a generation that never
// goes back; and no trace of a link in the state once the link is gone. A broken promise is reported
// as a test failure naming `context` and the request.
class HostileHost {
public:
    // Responses are read with sorted keys: the session writes them so, and lookups are faster.
    using Document = nlohmann::json;

    struct Reply {
        Document document;
        bool ok = false;
        std::string error;

        const Document& state() const { return document.at("state"); }
        std::vector<Document> effectsOfType(std::string_view type) const;
    };

    explicit HostileHost(bool allowSimulator = true);

    // Each gives the checked reply, which stays readable as `last()` until the next request.
    const Reply& dispatchRaw(const Data& action, const Data& payload = {});
    const Reply& dispatch(std::string_view action, Json arguments = Json::object(), const Data& payload = {});
    // The same with the current generation, as link callbacks carry it.
    const Reply& callback(std::string_view action, const Data& payload = {}, Json arguments = Json::object());

    // Connects a physical link and loads the data, answering like a device.
    void loadOverPhysicalLink(const Json& syncData);
    void loadOverSimulator(const Json& syncData);
    // One whole device message: framed on a physical link (`reliable` with the offered session when
    // one was offered), unframed on the simulator.
    void deviceSends(const Data& message, bool reliable = false);
    // Answers writes with response with "writeComplete" until none waits.
    void settleWrites();

    // The newest messages the session wrote to the device, reassembled from its frames.
    const std::deque<std::string>& sentMessages() const { return sent; }
    std::optional<Json> lastSent(std::string_view type) const;

    bool connected() const;
    bool simulator() const;
    bool firmwareActive() const;
    std::uint64_t generation() const { return lastGeneration; }
    const Reply& last() const { return lastReply; }

    // Names the scenario in failure messages.
    std::string context;
    ManualClock clock;
    SequenceRandomSource random;
    std::unique_ptr<CompanionSession> session;
    // Every "download" effect seen, newest last.
    std::vector<Document> downloads;
    // "firmwareWrite" effects seen since the count was last reset.
    std::size_t firmwareWrites = 0;

private:
    void check(const std::string& request, const Data& response);
    void checkEffects(const Document& effects, const Document& state, const std::string& request);
    void collectWrites();

    std::uint64_t lastRevision = 0;
    std::uint64_t lastGeneration = 0;
    bool started = false;
    Reply lastReply;
    std::map<std::uint16_t, std::map<std::uint16_t, Data>> partial;
    std::deque<std::string> sent;
    std::uint16_t nextFrameMessage = 1;
};

// Device data with tags, two routines (one with a group), a weekly and a one-time schedule, settings,
// Wi-Fi and a clock, for the first hardware target.
Json sampleDeviceData();

} // namespace tavrik::test
