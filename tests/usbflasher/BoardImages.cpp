#include "tests/usbflasher/BoardImages.hpp"

namespace tavrik::test {

namespace {

void put32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value)
{
    for (int index = 0; index < 4; ++index) {
        out[at + static_cast<std::size_t>(index)] = static_cast<std::uint8_t>(value >> (8 * index));
    }
}

void writeHeader(
    std::vector<std::uint8_t>& image, std::size_t at, ImageChip chip, std::uint8_t segments, std::uint32_t entry)
{
    image[at] = 0xE9;
    image[at + 1] = segments;
    image[at + 2] = 0x02;
    image[at + 3] = 0x20;
    put32(image, at + 4, entry);
    image[at + 8] = 0xEE;
    image[at + 12] = chip == ImageChip::esp32 ? 0 : 9;
    image[at + 13] = 0;
}

} // namespace

std::vector<std::uint8_t> factoryImage(ImageChip chip, std::size_t length, std::uint32_t seed)
{
    std::vector<std::uint8_t> image(length, 0xFF);
    std::uint32_t state = seed | 1;
    for (std::size_t index = 0; index < length; ++index) {
        // Every other 8 KiB stays erased, as the gaps of a merged image do.
        if ((index / 8192) % 2 == 1) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            image[index] = static_cast<std::uint8_t>(state);
        }
    }
    const std::size_t at = chip == ImageChip::esp32 ? 0x1000 : 0;
    std::fill(image.begin() + static_cast<std::ptrdiff_t>(at), image.begin() + static_cast<std::ptrdiff_t>(at + 24), 0);
    writeHeader(image, at, chip, 1, 0x400D0000);
    return image;
}

std::vector<std::uint8_t> probeImage(ImageChip chip)
{
    const std::uint32_t load = chip == ImageChip::esp32 ? 0x40080400 : 0x40378000;
    const std::size_t segmentLength = 0x2400;
    std::vector<std::uint8_t> image(24 + 8 + segmentLength, 0);
    writeHeader(image, 0, chip, 1, load);
    put32(image, 24, load);
    put32(image, 28, static_cast<std::uint32_t>(segmentLength));
    for (std::size_t index = 0; index < segmentLength; ++index) {
        image[32 + index] = static_cast<std::uint8_t>(index * 7 + 3);
    }
    return image;
}

} // namespace tavrik::test
