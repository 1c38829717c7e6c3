#pragma once

#include "TavrikCore/Link/BleDataFrame.hpp"
#include "TavrikCore/Link/BleDataMessageLogDetail.hpp"
#include "TavrikCore/Link/BleDataTransport.hpp"
#include "TavrikCore/Link/ReliableDelivery.hpp"
#include "TavrikCore/Support/Data.hpp"
#include "TavrikCore/Support/Json.hpp"
#include "TavrikCore/Support/RandomSource.hpp"

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

namespace tavrik {

// Carries whole messages over one characteristic: cuts them into checksummed frames that fit the link,
// queues the frames with the link's flow control, and reassembles inbound messages whose chunks may come
// in any order, acknowledging those the device sends with reliable delivery.
//
// Not thread-safe: every operation and every callback runs on the owner's thread. Callbacks are called
// synchronously from within the operation that caused them.
class BleDataChannel final {
public:
    using Logger = std::function<void(const std::string&)>;
    using MessageHandler = std::function<void(std::uint16_t messageId, const Data& payload)>;
    using MessageLogHandler = std::function<void(const BleDataMessageLogDetail&)>;
    using AcknowledgementSink = std::function<void(const ReliableDeliveryAcknowledgement&)>;

    static constexpr std::uint8_t plainFlags = 0;
    static constexpr std::uint8_t binaryPayloadFlags = 1;
    static constexpr std::uint8_t reliableFlags = 2;
    static constexpr std::size_t maximumMessageLength = 1048576;
    static constexpr std::size_t maximumPendingMessages = 16;
    static constexpr std::size_t maximumCompletedReliable = 16;

    explicit BleDataChannel(Logger logger, RandomSource& random = defaultRandomSource());
    BleDataChannel(const BleDataChannel&) = delete;
    BleDataChannel& operator=(const BleDataChannel&) = delete;

    // Attaches a link (nullptr detaches) and starts a fresh connection state: a new session number, no
    // pending or completed messages, an empty queue. Message ids keep counting across connections.
    void configure(std::shared_ptr<BleDataTransport> transport);

    // The send operations give true when the message was accepted into the queue.
    bool sendCommand(std::string_view channel, std::string_view command);
    bool sendEncodable(const Json& value);
    template <class Value>
    requires(!std::is_convertible_v<const Value&, const Json&>) && requires(const Value& value)
    {
        {
            toJson(value)
            } -> std::convertible_to<Json>;
    }
    bool sendEncodable(const Value& value) { return sendEncodable(Json(toJson(value))); }
    bool sendBinaryPayload(std::span<const std::uint8_t> payload, std::string_view description);

    // One notification of the data characteristic.
    void handleIncoming(std::span<const std::uint8_t> notification);
    // The link answered a write with response, successfully or not; failed writes are not repeated.
    void handleWriteResponse();
    // The link can take writes without response again.
    void handleReadyToSendWriteWithoutResponse();

    ReliableDeliveryOffer deliveryOffer() const;
    std::uint32_t reliableSession() const { return session; }

    MessageHandler onMessage;
    // When set, receives every transfer record and the text lines are not written.
    MessageLogHandler onMessageLog;
    // When set, acknowledgements go here instead of onto the link.
    AcknowledgementSink acknowledgementSink;

private:
    // Where one chunk's bytes sit in its message's storage.
    struct ChunkSlot {
        static constexpr std::uint32_t absent = UINT32_MAX;
        std::uint32_t offset = absent;
        std::uint32_t length = 0;

        bool filled() const { return offset != absent; }
    };

    struct PendingMessage {
        int chunkCount = 0;
        // One slot per chunk, by index, so reassembly needs no sorting. A chunk's log detail follows from
        // its slot (index, chunk count, size), so it is not stored twice.
        std::vector<ChunkSlot> chunks;
        // The chunks' bytes in arrival order: one buffer per message instead of one per chunk.
        Data storage;
        int received = 0;
        std::size_t bytes = 0;
        int contiguous = 0; // leading chunks all present
        bool reliable = false;
        // Every chunk so far arrived in index order, so `storage` already is the message.
        bool arrivedInOrder = true;
    };

    struct OutboundWrite {
        Data data;
        BleWriteType type = BleWriteType::withResponse;
        std::optional<std::uint16_t> acknowledgementMessageId;
    };

    struct CompletedMessage {
        std::uint16_t id = 0;
        std::uint16_t count = 0;
    };

    bool sendRawPayload(
        std::span<const std::uint8_t> data, std::uint8_t flags, std::optional<std::uint16_t> acknowledgementMessageId);
    void dropQueuedAcknowledgements(std::uint16_t acknowledgedId);
    void drainWrites();
    void acknowledge(const FrameHeader& header, int next);
    void logMessage(const BleDataMessageLogDetail& detail);
    // "[ble:data] -> msg=..." when `chunkCount` is absent, "[ble:data] <- msg=..." otherwise.
    void writeTransferLine(std::uint16_t messageId, int chunks, std::optional<int> chunkCount, std::size_t byteCount);
    void writeLog(std::string_view text);
    std::uint32_t drawSession();
    static BleDataMessageLogDetail inboundDetail(
        std::uint16_t messageId, std::uint8_t flags, const PendingMessage& message);

    std::shared_ptr<BleDataTransport> transport;
    std::unordered_map<std::uint16_t, PendingMessage> pending;
    std::deque<OutboundWrite> outboundWrites;
    bool awaitingWriteResponse = false;
    Logger log;
    std::uint16_t nextMessageId = 0;
    std::uint32_t session = 0;
    std::vector<CompletedMessage> completedReliable;
    RandomSource* random;
    std::string lineBuffer;
};

} // namespace tavrik
