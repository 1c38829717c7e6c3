#pragma once

#include "TavrikCore/Link/BleDataChannel.hpp"
#include "TavrikCore/Link/BleDataFrame.hpp"
#include "tests/support/InMemoryBleTransport.hpp"
#include "tests/support/SequenceRandomSource.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tavrik::test {

inline std::span<const std::uint8_t> asBytes(std::string_view text)
{
    return { reinterpret_cast<const std::uint8_t*>(text.data()), text.size() };
}

// A frame as the device would notify it.
inline Data plainFrame(std::uint16_t id, std::uint16_t index, std::uint16_t count, std::string_view chunk)
{
    return makeFrame(0, id, index, count, asBytes(chunk));
}

inline Data reliableFrame(
    std::uint32_t session, std::uint16_t id, std::uint16_t index, std::uint16_t count, std::string_view chunk)
{
    Data payload {
        static_cast<std::uint8_t>(session & 0xFFU),
        static_cast<std::uint8_t>((session >> 8) & 0xFFU),
        static_cast<std::uint8_t>((session >> 16) & 0xFFU),
        static_cast<std::uint8_t>(session >> 24),
    };
    payload.insert(payload.end(), chunk.begin(), chunk.end());
    return makeFrame(2, id, index, count, payload);
}

// A channel attached to an in-memory link, recording everything it reports. The random source pins the
// session numbers: 42 at construction, 100 at the first configure, 7 after that.
class ChannelTest : public ::testing::Test {
protected:
    ChannelTest()
    {
        link->bind(&channel);
        channel.configure(link);
        channel.onMessage
            = [this](std::uint16_t id, const Data& payload) { delivered.emplace_back(id, stringFromData(payload)); };
    }

    void captureAcknowledgements()
    {
        channel.acknowledgementSink = [this](const ReliableDeliveryAcknowledgement& ack) { acks.push_back(ack); };
    }

    void feed(const Data& frame) { channel.handleIncoming(frame); }

    std::vector<std::string> lines;
    SequenceRandomSource random { { 41, 99, 6 } };
    BleDataChannel channel { [this](const std::string& line) { lines.push_back(line); }, random };
    std::shared_ptr<InMemoryBleTransport> link = std::make_shared<InMemoryBleTransport>();
    std::vector<std::pair<std::uint16_t, std::string>> delivered;
    std::vector<ReliableDeliveryAcknowledgement> acks;
};

inline ReliableDeliveryAcknowledgement ackOf(std::uint32_t session, std::uint16_t messageId, std::uint16_t next)
{
    return { .type = "ble_ack", .session = session, .messageId = messageId, .nextChunk = next };
}

} // namespace tavrik::test
