#pragma once

#include "TavrikCore/Link/BleDataChannel.hpp"
#include "TavrikCore/Link/BleDataFrame.hpp"
#include "TavrikCore/Link/BleDataTransport.hpp"
#include "TavrikCore/Support/Data.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tavrik::test {

// A link that keeps every write. Bound to a channel, it also plays the link's events: completing the
// write with response in flight and announcing readiness for writes without response.
class InMemoryBleTransport final : public BleDataTransport {
public:
    struct Write {
        Data data;
        BleWriteType type = BleWriteType::withResponse;

        bool operator==(const Write&) const = default;
    };

    // One message as the frames written so far carry it (frames grouped by message id, in write order,
    // payloads joined in chunk order).
    struct SentMessage {
        std::uint16_t messageId = 0;
        std::uint8_t flags = 0;
        BleWriteType type = BleWriteType::withResponse;
        std::size_t chunkCount = 0;
        Data payload;

        std::string text() const { return stringFromData(payload); }
    };

    bool supportsWithoutResponse = true;
    bool canSendWithoutResponse = true;
    int maximumWithResponse = 244;
    int maximumWithoutResponse = 244;
    std::vector<Write> writes;

    // Events reach this channel; without one they are only counted.
    void bind(BleDataChannel* channel) { this->channel = channel; }
    void setMaximumWriteLength(int length);

    bool supportsWriteWithoutResponse() const override { return supportsWithoutResponse; }
    bool canSendWriteWithoutResponse() const override { return canSendWithoutResponse; }
    int maximumWriteValueLength(BleWriteType type) const override;
    void write(const Data& data, BleWriteType type) override;

    // Writes with response that the link has not answered yet (the channel keeps this at most 1).
    int outstandingWritesWithResponse() const { return outstanding; }
    int largestOutstandingWritesWithResponse() const { return largestOutstanding; }
    // Answers the write with response in flight; false when there was none.
    bool completeWriteWithResponse();
    // Answers writes with response until none is in flight; gives how many were answered.
    int completeAllWrites();
    // The peripheral can take writes without response again.
    void becomeReadyToSend();

    std::vector<Data> frames() const;
    std::vector<SentMessage> sentMessages() const;
    // Forgets the writes seen so far (outstanding writes stay outstanding).
    void clearWrites() { writes.clear(); }

private:
    BleDataChannel* channel = nullptr;
    int outstanding = 0;
    int largestOutstanding = 0;
};

} // namespace tavrik::test
