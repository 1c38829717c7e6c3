#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrik {

struct BleDataChunkLogDetail {
    int index = 0; // 1-based position of the chunk
    int count = 0; // chunks of the message
    int byteCount = 0; // the chunk's message bytes (inbound without the session prefix)

    bool operator==(const BleDataChunkLogDetail&) const = default;
};

// One framed message as the transfer log shows it.
struct BleDataMessageLogDetail {
    enum class Direction {
        inbound,
        outbound,
    };

    Direction direction = Direction::inbound;
    std::uint16_t messageId = 0;
    std::uint8_t flags = 0;
    std::optional<std::string> writeType; // "withResponse" or "withoutResponse"; absent inbound
    int byteCount = 0;
    int receivedChunkCount = 0;
    bool isComplete = false;
    std::vector<BleDataChunkLogDetail> chunks;

    bool operator==(const BleDataMessageLogDetail&) const = default;
};

// "inbound" or "outbound".
std::string_view rawValue(BleDataMessageLogDetail::Direction direction);

} // namespace tavrik
