#include "TavrikUSBProtocol/Bootloader/ESPBootloaderPayload.hpp"

namespace tavrik {
namespace {

void appendLittleEndian(Data& body, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8) {
        body.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

} // namespace

Data makeESPFlashBeginPayload(std::uint32_t eraseSize, std::uint32_t blockCount, std::uint32_t blockSize,
    std::uint32_t offset, std::optional<bool> encrypted)
{
    Data body;
    body.reserve(20);
    appendLittleEndian(body, eraseSize);
    appendLittleEndian(body, blockCount);
    appendLittleEndian(body, blockSize);
    appendLittleEndian(body, offset);
    if (encrypted) {
        appendLittleEndian(body, *encrypted ? 1 : 0);
    }
    return body;
}

} // namespace tavrik
