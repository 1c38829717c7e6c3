#pragma once

#include <cstdint>
#include <vector>

namespace tavrik::test {

enum class ImageChip { esp32, esp32s3 };

// A merged factory image as written at 0x0: on the ESP32 4 KiB of 0xFF before the bootloader's
// header, on the S3 the header at 0. The body mixes erased runs with incompressible bytes.
std::vector<std::uint8_t> factoryImage(ImageChip chip, std::size_t length, std::uint32_t seed);

// A RAM-only application image (the probe image) with a segment longer than one RAM block.
std::vector<std::uint8_t> probeImage(ImageChip chip);

} // namespace tavrik::test
