#pragma once

#include "TavrikUSBProtocol/Support/Data.hpp"

#include <cstdint>
#include <optional>

namespace tavrik {

// Body of the ROM loader's flash-begin request: four little-endian 32-bit fields, and a fifth
// (1 or 0) only when `encrypted` is given, since older loaders expect the 16-byte form.
Data makeESPFlashBeginPayload(std::uint32_t eraseSize, std::uint32_t blockCount, std::uint32_t blockSize,
    std::uint32_t offset, std::optional<bool> encrypted = std::nullopt);

} // namespace tavrik
