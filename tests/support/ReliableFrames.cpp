#include "tests/support/ReliableFrames.hpp"

#include "TavrikCore/Link/BleDataChannel.hpp"
#include "TavrikCore/Link/BleDataFrame.hpp"

namespace tavrik::test {

std::vector<Data> reliableFrames(std::string_view text, std::uint32_t session, std::uint16_t messageId, int writeLength)
{
    const std::size_t chunkSize = static_cast<std::size_t>(writeLength) - frameOverhead - 4;
    const std::size_t count = (text.size() + chunkSize - 1) / chunkSize;
    std::vector<Data> frames;
    for (std::size_t index = 0; index < count; ++index) {
        Data payload {
            static_cast<std::uint8_t>(session & 0xFFU),
            static_cast<std::uint8_t>((session >> 8) & 0xFFU),
            static_cast<std::uint8_t>((session >> 16) & 0xFFU),
            static_cast<std::uint8_t>(session >> 24),
        };
        const std::string_view chunk = text.substr(index * chunkSize, chunkSize);
        payload.insert(payload.end(), chunk.begin(), chunk.end());
        frames.push_back(makeFrame(BleDataChannel::reliableFlags, messageId, static_cast<std::uint16_t>(index),
            static_cast<std::uint16_t>(count), payload));
    }
    return frames;
}

} // namespace tavrik::test
