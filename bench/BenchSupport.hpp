#pragma once

#include "TavrikCore/Support/Data.hpp"

#include <cstddef>
#include <cstdint>

namespace tavrik::bench {

// Bytes that neither compress nor repeat, from a fixed seed so runs compare.
inline Data pseudoRandomBytes(std::size_t length, std::uint32_t seed)
{
    Data result(length);
    std::uint32_t state = seed;
    for (std::uint8_t& byte : result) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<std::uint8_t>(state);
    }
    return result;
}

} // namespace tavrik::bench
