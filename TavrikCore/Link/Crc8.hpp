#pragma once

#include <cstdint>
#include <span>

namespace tavrik {

// CRC-8/MAXIM-DOW: reflected polynomial 0x8C, initial value 0, no final exclusive-or.
// Pass the previous result as `crc` to continue over more bytes.
std::uint8_t crc8(std::span<const std::uint8_t> bytes, std::uint8_t crc = 0);

} // namespace tavrik
