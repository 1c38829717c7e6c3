#pragma once

#include "TavrikCore/Session/CompanionSession.hpp"
#include "TavrikCore/Support/Data.hpp"
#include "TavrikCore/Support/Json.hpp"
#include "tests/support/ManualClock.hpp"
#include "tests/support/SampleDevice.hpp"
#include "tests/support/ScriptedDevice.hpp"
#include "tests/support/SequenceRandomSource.hpp"
#include "tests/support/SessionResponseInvariants.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrik::test {

// Plays the host of one session under hostile input, checking every response against the
// invariants any host relies on.
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
    const std::vector<std::string>& sentMessages() const { return device.receivedTexts(); }
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
    void collectWrites();

    SessionResponseInvariants invariants;
    std::uint64_t lastGeneration = 0;
    Reply lastReply;
    // Reads what the session writes, as the device would.
    ScriptedDevice device;
    std::uint16_t nextFrameMessage = 1;
};

// The sample device's data with a one-time schedule beside its weekly one.
Json sampleDeviceDataWithOneTimeSchedule();

} // namespace tavrik::test
