#include "TavrikCore/Session/tavrik_session.h"

#include "TavrikCore/Session/NativeSessionRegistry.hpp"

#include <cstdlib>
#include <cstring>
#include <span>
#include <string_view>

namespace {

tavrik::NativeSessionRegistry& registry()
{
    static tavrik::NativeSessionRegistry shared;
    return shared;
}

// Answers that need no allocation. They live in static storage, so tavrik_session_free must
// recognise them and leave them alone.
constexpr char stateEncodingFailed[] = R"({"version":1,"ok":false,"error":"State encoding failed"})";
constexpr char invalidEnvelope[] = R"({"version":1,"ok":false,"error":"Invalid action envelope"})";

template <std::size_t Size>
std::uint8_t* staticResponse(const char (&text)[Size], std::size_t* responseLength)
{
    if (responseLength) {
        *responseLength = Size - 1;
    }
    return const_cast<std::uint8_t*>(reinterpret_cast<const std::uint8_t*>(text));
}

bool isStaticResponse(const std::uint8_t* response)
{
    const auto* text = reinterpret_cast<const char*>(response);
    return text == stateEncodingFailed || text == invalidEnvelope;
}

} // namespace

extern "C" {

int64_t tavrik_session_create(int allow_simulator)
{
    try {
        return registry().create(allow_simulator != 0);
    } catch (...) {
        return 0;
    }
}

uint8_t* tavrik_session_dispatch(int64_t handle, const uint8_t* action, size_t action_length, const uint8_t* payload,
    size_t payload_length, size_t* response_length)
{
    if ((!action && action_length > 0) || (!payload && payload_length > 0)) {
        return staticResponse(invalidEnvelope, response_length);
    }
    try {
        const tavrik::Data response = registry().dispatch(handle, std::span<const std::uint8_t>(action, action_length),
            std::span<const std::uint8_t>(payload, payload_length));
        // One byte at least, so that an empty answer still is a pointer the host can free.
        auto* copy = static_cast<std::uint8_t*>(std::malloc(response.empty() ? 1 : response.size()));
        if (!copy) {
            return staticResponse(stateEncodingFailed, response_length);
        }
        if (!response.empty()) {
            std::memcpy(copy, response.data(), response.size());
        }
        if (response_length) {
            *response_length = response.size();
        }
        return copy;
    } catch (...) {
        return staticResponse(stateEncodingFailed, response_length);
    }
}

void tavrik_session_free(uint8_t* response)
{
    if (response && !isStaticResponse(response)) {
        std::free(response);
    }
}

void tavrik_session_destroy(int64_t handle)
{
    try {
        registry().destroy(handle);
    } catch (...) {
    }
}

} // extern "C"
