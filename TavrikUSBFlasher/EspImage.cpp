#include "TavrikUSBFlasher/EspImage.hpp"

#include "TavrikUSBFlasher/RomPacket.hpp"

#include <stdexcept>

namespace tavrik {

namespace {
constexpr std::uint8_t imageMagic = 0xE9;
constexpr std::size_t headerLength = 24;
constexpr std::size_t maximumSegments = 16;
} // namespace

std::string espChipName(EspChip chip)
{
    return chip == EspChip::esp32 ? "ESP32" : "ESP32-S3";
}

std::uint16_t espImageChipId(EspChip chip)
{
    return chip == EspChip::esp32 ? 0 : 9;
}

std::optional<BoardModel> boardModelFor(const std::string& targetId)
{
    if (targetId == "m5stick-c") {
        return BoardModel { targetId, "M5 StickC Plus2", EspChip::esp32, 8U * 1024 * 1024 };
    }
    if (targetId == "t-embed-cc1101") {
        return BoardModel { targetId, "LILYGO T-Embed CC1101", EspChip::esp32s3, 16U * 1024 * 1024 };
    }
    return std::nullopt;
}

EspAppImage parseEspAppImage(const Data& bytes, std::size_t offset, bool withSegments)
{
    if (bytes.size() < offset + headerLength || bytes[offset] != imageMagic) {
        throw std::runtime_error("The file is not an ESP32 application image.");
    }
    EspAppImage image;
    const std::uint8_t segmentCount = bytes[offset + 1];
    image.flashSizeCode = static_cast<std::uint8_t>(bytes[offset + 3] >> 4);
    image.entry = readLittleEndian32(bytes.data() + offset + 4);
    image.chipId = static_cast<std::uint16_t>(bytes[offset + 12] | (bytes[offset + 13] << 8));
    if (!withSegments) {
        return image;
    }
    if (segmentCount == 0 || segmentCount > maximumSegments) {
        throw std::runtime_error("The ESP32 application image has an invalid segment count.");
    }
    std::size_t position = offset + headerLength;
    for (std::uint8_t index = 0; index < segmentCount; ++index) {
        if (bytes.size() - position < 8) {
            throw std::runtime_error("The ESP32 application image is truncated.");
        }
        EspImageSegment segment;
        segment.loadAddress = readLittleEndian32(bytes.data() + position);
        const std::uint32_t length = readLittleEndian32(bytes.data() + position + 4);
        position += 8;
        if (length > bytes.size() - position) {
            throw std::runtime_error("The ESP32 application image is truncated.");
        }
        segment.data.assign(bytes.begin() + static_cast<std::ptrdiff_t>(position),
            bytes.begin() + static_cast<std::ptrdiff_t>(position + length));
        position += length;
        image.segments.push_back(std::move(segment));
    }
    return image;
}

std::optional<std::string> factoryImageProblem(const Data& image, const BoardModel& model)
{
    if (image.empty()) {
        return "The firmware image is empty.";
    }
    if (image.size() > model.flashSize) {
        return "The firmware image is larger than the flash of " + model.displayName + ".";
    }
    // The ROM looks for the second-stage bootloader at 0x1000 on the ESP32 and at 0x0 on the S3.
    std::optional<std::size_t> headerOffset;
    if (image[0] == imageMagic) {
        headerOffset = 0;
    } else if (image.size() > 0x1000 && image[0x1000] == imageMagic) {
        headerOffset = 0x1000;
    }
    if (!headerOffset) {
        return "The firmware image is not a factory image: it holds no ESP32 application header.";
    }
    const EspAppImage header = parseEspAppImage(image, *headerOffset, false);
    if (header.chipId != espImageChipId(model.chip)) {
        const std::string imageChip = header.chipId == 0 ? "ESP32"
            : header.chipId == 9                         ? "ESP32-S3"
                                                         : "chip id " + std::to_string(header.chipId);
        return "The firmware image is built for " + imageChip + ", but " + model.displayName + " has an "
            + espChipName(model.chip) + ".";
    }
    const std::size_t expectedOffset = model.chip == EspChip::esp32 ? 0x1000 : 0;
    if (*headerOffset != expectedOffset) {
        return "The firmware image is not a factory image for " + model.displayName
            + ": its bootloader is not where the chip starts.";
    }
    if (header.flashSizeCode < 8 && (1ULL << (20 + header.flashSizeCode)) > model.flashSize) {
        return "The firmware image expects more flash than " + model.displayName + " has.";
    }
    return std::nullopt;
}

} // namespace tavrik
