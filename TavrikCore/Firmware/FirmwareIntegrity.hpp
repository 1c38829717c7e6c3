#pragma once

#include "TavrikCore/Firmware/FirmwareAsset.hpp"
#include "TavrikCore/Firmware/FirmwareHardwareTarget.hpp"
#include "TavrikCore/Support/Data.hpp"

#include <cstdint>
#include <span>
#include <string>

namespace tavrik {

// The checks an image passes before it is installed.
class FirmwareIntegrity {
public:
    // SHA-256 of all bytes as 64 lower-case hexadecimal digits.
    static std::string sha256(std::span<const std::uint8_t> data);

    // Target, then size, then checksum (case-insensitive); throws SyncImportError at the first that
    // does not match.
    static void validate(const Data& data, const FirmwareAsset& asset, FirmwareHardwareTarget connectedTarget);
};

} // namespace tavrik
