#pragma once

#include "TavrikCore/Support/Data.hpp"
#include "TavrikCore/Support/Json.hpp"

#include <cstdint>
#include <string>

namespace tavrik::test {

// What any host of a session may rely on in every response: one JSON object with "version" 1 and
// "ok", an "error" text exactly when not ok, the whole state and a list of well-formed effects; a
// revision that rises by one on success only; a generation that never goes back; and no trace of a
// link in the state once the link is gone. Every session host in the tests checks each response
// here; a broken promise is a test failure naming `context` and the request.
class SessionResponseInvariants {
public:
    // Responses are read with sorted keys, as the session writes them.
    using Document = nlohmann::json;

    // The parsed response, or null when it is not a well-formed response at all.
    Document check(const std::string& request, const Data& response);
    // A new session starts its revision and generation anew.
    void restart() { started = false; }

    std::string context;

private:
    void checkEffects(const Document& effects, const Document& state, const std::string& request) const;

    std::uint64_t lastRevision = 0;
    std::uint64_t lastGeneration = 0;
    bool started = false;
};

// A request or response cut to a readable length for failure messages.
std::string shortenedForMessage(std::string text);

} // namespace tavrik::test
