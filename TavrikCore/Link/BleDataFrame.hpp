#pragma once

#include "TavrikCore/Support/Data.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace tavrik {

// One write or notification on the data characteristic, little-endian:
// version u8, flags u8, messageId u16, chunkIndex u16, chunkCount u16, payloadLength u16,
// payload, then a CRC-8 over everything before it.
inline constexpr std::uint8_t frameVersion = 1;
inline constexpr std::size_t frameHeaderLength = 10;
inline constexpr std::size_t frameOverhead = frameHeaderLength + 1;

// The first ten bytes of a frame as read, not yet checked.
struct FrameHeader {
    std::uint8_t version = 0;
    std::uint8_t flags = 0;
    std::uint16_t messageId = 0;
    std::uint16_t chunkIndex = 0;
    std::uint16_t chunkCount = 0;
    std::uint16_t payloadLength = 0;

    bool operator==(const FrameHeader&) const = default;
};

// Absent for fewer than `frameOverhead` bytes.
std::optional<FrameHeader> parseHeader(std::span<const std::uint8_t> frame);

// A complete version-1 frame with its CRC; the capacity is exactly the frame's length.
// The payload must be at most 65535 bytes.
Data makeFrame(std::uint8_t flags, std::uint16_t messageId, std::uint16_t chunkIndex, std::uint16_t chunkCount,
    std::span<const std::uint8_t> payload);

} // namespace tavrik
