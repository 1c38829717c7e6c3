#include "TavrikUSBFlasher/RomPacket.hpp"

#include "TavrikUSBProtocol/Bootloader/ESPBootloaderResponse.hpp"

#include <algorithm>
#include <cstring>

namespace tavrik {

void appendLittleEndian32(Data& out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

std::uint32_t readLittleEndian32(const std::uint8_t* bytes)
{
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8)
        | (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

namespace {

void appendRequestHeader(Data& out, RomOpcode opcode, std::size_t size, std::uint32_t checksum)
{
    out.push_back(0x00);
    out.push_back(static_cast<std::uint8_t>(opcode));
    out.push_back(static_cast<std::uint8_t>(size));
    out.push_back(static_cast<std::uint8_t>(size >> 8));
    appendLittleEndian32(out, checksum);
}

} // namespace

Data makeRomRequest(RomOpcode opcode, const Data& body, std::uint32_t checksum)
{
    Data packet;
    packet.reserve(body.size() + 8);
    appendRequestHeader(packet, opcode, body.size(), checksum);
    packet.insert(packet.end(), body.begin(), body.end());
    return packet;
}

std::uint32_t romDataChecksum(const std::uint8_t* bytes, std::size_t length)
{
    // Eight bytes at a time: XOR does not care how the bytes are grouped.
    std::uint64_t wide = 0;
    std::size_t index = 0;
    for (; index + 8 <= length; index += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes + index, sizeof word);
        wide ^= word;
    }
    std::uint8_t sum = 0xEF;
    for (int shift = 0; shift < 64; shift += 8) {
        sum ^= static_cast<std::uint8_t>(wide >> shift);
    }
    for (; index < length; ++index) {
        sum ^= bytes[index];
    }
    return sum;
}

Data makeRomDataHeader(RomOpcode opcode, std::size_t length, std::uint32_t sequence, std::uint32_t checksum)
{
    Data header;
    header.reserve(24);
    appendRequestHeader(header, opcode, length + 16, checksum);
    appendLittleEndian32(header, static_cast<std::uint32_t>(length));
    appendLittleEndian32(header, sequence);
    appendLittleEndian32(header, 0);
    appendLittleEndian32(header, 0);
    return header;
}

std::optional<RomResponse> decodeRomResponse(const Data& frame)
{
    if (frame.size() < 8 || frame[0] != 0x01) {
        return std::nullopt;
    }
    RomResponse response;
    response.command = frame[1];
    const std::size_t claimed = static_cast<std::size_t>(frame[2]) | (static_cast<std::size_t>(frame[3]) << 8);
    response.value = readLittleEndian32(frame.data() + 4);
    const std::size_t available = std::min(claimed, frame.size() - 8);
    response.body.assign(frame.begin() + 8, frame.begin() + 8 + static_cast<std::ptrdiff_t>(available));
    return response;
}

Data romResponsePayload(const RomResponse& response, std::size_t payloadLength)
{
    const std::size_t minimum = payloadLength + 2;
    if (response.body.size() < minimum) {
        throw ESPBootloaderResponseValidationError::shortStatusPacket(
            static_cast<std::int64_t>(minimum), static_cast<std::int64_t>(response.body.size()));
    }
    Data payload = validateESPBootloaderResponseBody(
        response.body, response.command, static_cast<std::int64_t>(response.body.size() - payloadLength));
    return payload;
}

} // namespace tavrik
