// A host driving the session engine through its C interface with whatever bytes it likes. The input is
// a series of actions separated by "\0\n"; a byte 0x01 inside an action separates the action's JSON
// from its payload. Every response must be a JSON object, whatever was sent.
#include "FuzzInput.hpp"

#include "TavrikCore/Session/tavrik_session.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::int64_t handle = tavrik_session_create(1);
    if (handle == 0) {
        std::abort();
    }
    for (const auto& part : tavrik::fuzz::splitParts(data, size)) {
        const auto separator = std::find(part.begin(), part.end(), std::uint8_t { 1 });
        const std::size_t actionLength = static_cast<std::size_t>(separator - part.begin());
        const std::uint8_t* payload = nullptr;
        std::size_t payloadLength = 0;
        if (separator != part.end()) {
            payload = part.data() + actionLength + 1;
            payloadLength = part.size() - actionLength - 1;
        }
        std::size_t responseLength = 0;
        std::uint8_t* response
            = tavrik_session_dispatch(handle, part.data(), actionLength, payload, payloadLength, &responseLength);
        if (response == nullptr) {
            std::abort();
        }
        const auto parsed = nlohmann::json::parse(response, response + responseLength, nullptr, false);
        tavrik_session_free(response);
        if (!parsed.is_object()) {
            std::abort();
        }
    }
    tavrik_session_destroy(handle);
    return 0;
}
