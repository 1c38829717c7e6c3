#include "TavrikCore/Link/BleDataFrame.hpp"

#include "TavrikCore/Link/Crc8.hpp"

#include <cassert>
#include <cstring>
#include <limits>

namespace tavrik {
namespace {

std::uint16_t readUInt16(const std::uint8_t* bytes)
{
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

void writeUInt16(std::uint8_t* bytes, std::uint16_t value)
{
    bytes[0] = static_cast<std::uint8_t>(value & 0xFFU);
    bytes[1] = static_cast<std::uint8_t>(value >> 8);
}

} // namespace

std::optional<FrameHeader> parseHeader(std::span<const std::uint8_t> frame)
{
    if (frame.size() < frameOverhead) {
        return std::nullopt;
    }
    const std::uint8_t* bytes = frame.data();
    return FrameHeader {
        .version = bytes[0],
        .flags = bytes[1],
        .messageId = readUInt16(bytes + 2),
        .chunkIndex = readUInt16(bytes + 4),
        .chunkCount = readUInt16(bytes + 6),
        .payloadLength = readUInt16(bytes + 8),
    };
}

Data makeFrame(std::uint8_t flags, std::uint16_t messageId, std::uint16_t chunkIndex, std::uint16_t chunkCount,
    std::span<const std::uint8_t> payload)
{
    assert(payload.size() <= std::numeric_limits<std::uint16_t>::max());
    // Sized once and filled in place: one allocation, exactly the frame's length.
    Data frame(payload.size() + frameOverhead);
    std::uint8_t* bytes = frame.data();
    bytes[0] = frameVersion;
    bytes[1] = flags;
    writeUInt16(bytes + 2, messageId);
    writeUInt16(bytes + 4, chunkIndex);
    writeUInt16(bytes + 6, chunkCount);
    writeUInt16(bytes + 8, static_cast<std::uint16_t>(payload.size()));
    if (!payload.empty()) {
        std::memcpy(bytes + frameHeaderLength, payload.data(), payload.size());
    }
    const std::size_t checked = frameHeaderLength + payload.size();
    bytes[checked] = crc8(std::span<const std::uint8_t>(bytes, checked));
    return frame;
}

} // namespace tavrik
