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

// The answer when not even a response buffer can be had. It lives in static storage, so
// tavrik_session_free must recognise it and leave it alone.
constexpr char stateEncodingFailed[] = R"({"version":1,"ok":false,"error":"State encoding failed"})";
constexpr std::string_view invalidEnvelope = R"({"version":1,"ok":false,"error":"Invalid action envelope"})";

std::uint8_t* staticFailure(std::size_t* responseLength)
{
    if (responseLength) {
        *responseLength = sizeof stateEncodingFailed - 1;
    }
    return const_cast<std::uint8_t*>(reinterpret_cast<const std::uint8_t*>(stateEncodingFailed));
}

// Every ordinary answer is a heap copy the host owns: it may even write into it before freeing it.
std::uint8_t* hostCopy(std::span<const std::uint8_t> response, std::size_t* responseLength)
{
    // One byte at least, so that an empty answer still is a pointer the host can free.
    auto* copy = static_cast<std::uint8_t*>(std::malloc(response.empty() ? 1 : response.size()));
    if (!copy) {
        return staticFailure(responseLength);
    }
    if (!response.empty()) {
        std::memcpy(copy, response.data(), response.size());
    }
    if (responseLength) {
        *responseLength = response.size();
    }
    return copy;
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
        return hostCopy(std::span<const std::uint8_t>(
                            reinterpret_cast<const std::uint8_t*>(invalidEnvelope.data()), invalidEnvelope.size()),
            response_length);
    }
    try {
        const tavrik::Data response = registry().dispatch(handle, std::span<const std::uint8_t>(action, action_length),
            std::span<const std::uint8_t>(payload, payload_length));
        return hostCopy(response, response_length);
    } catch (...) {
        return staticFailure(response_length);
    }
}

void tavrik_session_free(uint8_t* response)
{
    if (response && reinterpret_cast<const char*>(response) != stateEncodingFailed) {
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
