#include "TavrikCore/Link/Crc8.hpp"

#include <array>
#include <cstddef>

namespace tavrik {
namespace {

// tables[k][x] is the register after feeding x followed by k zero bytes. Since the update is linear,
// eight bytes fold into one register with eight independent lookups instead of a chain of eight.
using Crc8Tables = std::array<std::array<std::uint8_t, 256>, 8>;

constexpr Crc8Tables makeTables()
{
    Crc8Tables tables {};
    for (unsigned value = 0; value < 256; ++value) {
        auto crc = static_cast<std::uint8_t>(value);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1U) != 0 ? static_cast<std::uint8_t>((crc >> 1) ^ 0x8CU) : static_cast<std::uint8_t>(crc >> 1);
        }
        tables[0][value] = crc;
    }
    for (std::size_t k = 1; k < tables.size(); ++k) {
        for (unsigned value = 0; value < 256; ++value) {
            tables[k][value] = tables[0][tables[k - 1][value]];
        }
    }
    return tables;
}

constexpr Crc8Tables tables = makeTables();

} // namespace

std::uint8_t crc8(std::span<const std::uint8_t> bytes, std::uint8_t crc)
{
    const std::uint8_t* cursor = bytes.data();
    std::size_t remaining = bytes.size();
    while (remaining >= 8) {
        crc = static_cast<std::uint8_t>(tables[7][crc ^ cursor[0]] ^ tables[6][cursor[1]] ^ tables[5][cursor[2]]
            ^ tables[4][cursor[3]] ^ tables[3][cursor[4]] ^ tables[2][cursor[5]] ^ tables[1][cursor[6]]
            ^ tables[0][cursor[7]]);
        cursor += 8;
        remaining -= 8;
    }
    while (remaining > 0) {
        crc = tables[0][crc ^ *cursor];
        ++cursor;
        --remaining;
    }
    return crc;
}

} // namespace tavrik
