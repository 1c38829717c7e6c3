#pragma once

#include "TavrikUSBProtocol/Support/Data.hpp"

#include <cstdint>
#include <optional>

namespace tavrik {

// Opcodes of the ESP32 ROM serial loader that this program sends.
enum class RomOpcode : std::uint8_t {
    flashBegin = 0x02,
    memBegin = 0x05,
    memEnd = 0x06,
    memData = 0x07,
    sync = 0x08,
    writeReg = 0x09,
    readReg = 0x0A,
    spiSetParams = 0x0B,
    spiAttach = 0x0D,
    changeBaudRate = 0x0F,
    flashDeflBegin = 0x10,
    flashDeflData = 0x11,
    flashDeflEnd = 0x12,
    spiFlashMd5 = 0x13,
    getSecurityInfo = 0x14,
};

// A request packet (before SLIP framing): direction 0, opcode, size, checksum, body.
Data makeRomRequest(RomOpcode opcode, const Data& body, std::uint32_t checksum = 0);

// The checksum of a _DATA command: 0xEF XORed with every data byte.
std::uint32_t romDataChecksum(const std::uint8_t* bytes, std::size_t length);

// The start of a _DATA request (24 bytes): the request header, then length, sequence and two zero
// words; the `length` data bytes follow it.
Data makeRomDataHeader(RomOpcode opcode, std::size_t length, std::uint32_t sequence, std::uint32_t checksum);

struct RomResponse {
    std::uint8_t command = 0;
    std::uint32_t value = 0;
    // Payload and status bytes, cut to what the frame really holds when its size field claims more.
    Data body;

    bool operator==(const RomResponse&) const = default;
};

// A frame read from the loader, or nothing when it is not a response (direction not 1, or shorter
// than the 8-byte header).
std::optional<RomResponse> decodeRomResponse(const Data& frame);

// The payload of a response whose status sits right after `payloadLength` bytes. ROMs send four
// status bytes and the stub two; the trailing reserved pair must not be mistaken for the status.
// Throws the bootloader module's validation errors: a short packet or a refused command.
Data romResponsePayload(const RomResponse& response, std::size_t payloadLength);

void appendLittleEndian32(Data& out, std::uint32_t value);
std::uint32_t readLittleEndian32(const std::uint8_t* bytes);

} // namespace tavrik
