#pragma once

#include "TavrikUSBProtocol/Support/Data.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tavrik {

enum class EspChip { esp32, esp32s3 };

std::string espChipName(EspChip chip);
// The chip id an application image header carries for the chip.
std::uint16_t espImageChipId(EspChip chip);

// What this program knows of each supported board model.
struct BoardModel {
    std::string targetId;
    std::string displayName;
    EspChip chip = EspChip::esp32;
    std::uint32_t flashSize = 0;

    bool operator==(const BoardModel&) const = default;
};

std::optional<BoardModel> boardModelFor(const std::string& targetId);

struct EspImageSegment {
    std::uint32_t loadAddress = 0;
    Data data;

    bool operator==(const EspImageSegment&) const = default;
};

struct EspAppImage {
    std::uint16_t chipId = 0;
    std::uint8_t flashSizeCode = 0;
    std::uint32_t entry = 0;
    std::vector<EspImageSegment> segments;

    bool operator==(const EspAppImage&) const = default;
};

// Reads the application header at `offset` (and, with `withSegments`, its segments). Throws
// std::runtime_error with a user text when the bytes are not an image.
EspAppImage parseEspAppImage(const Data& bytes, std::size_t offset, bool withSegments);

// Refuses a factory image (a merged image written at 0x0) that does not belong on the model: its
// first application header must sit where the chip's ROM looks for it and name the model's chip,
// and the image must fit the flash. Gives the refusal text, or nothing when the image fits.
std::optional<std::string> factoryImageProblem(const Data& image, const BoardModel& model);

} // namespace tavrik
