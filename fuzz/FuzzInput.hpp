#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tavrik::fuzz {

// Splits a fuzzer input into parts at each two-byte marker "\0\n", so one input can carry several
// documents (an action and its payload, a channel and a release manifest) and still be edited as text.
inline std::vector<std::span<const std::uint8_t>> splitParts(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::span<const std::uint8_t>> parts;
    std::size_t start = 0;
    for (std::size_t index = 0; index + 1 < size; ++index) {
        if (data[index] == 0 && data[index + 1] == '\n') {
            parts.emplace_back(data + start, index - start);
            start = index + 2;
            ++index;
        }
    }
    parts.emplace_back(data + start, size - start);
    return parts;
}

inline std::vector<std::uint8_t> bytes(std::span<const std::uint8_t> part)
{
    return { part.begin(), part.end() };
}

} // namespace tavrik::fuzz
