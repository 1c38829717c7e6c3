#include "TavrikCore/Link/BleDataChannel.hpp"

#include "TavrikCore/Link/Crc8.hpp"
#include "TavrikCore/Support/Text.hpp"

#include <unicode/utf8.h>

#include <algorithm>
#include <charconv>
#include <limits>
#include <utility>

namespace tavrik {
namespace {

constexpr std::size_t largestFrame = 65535 + frameOverhead;
constexpr std::size_t smallestWriteLength = frameOverhead + 1;
constexpr std::size_t reliablePrefixLength = 4;
constexpr std::size_t maximumChunkCount = 65535;

bool isValidUtf8(std::string_view text)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int64_t>(text.size());
    std::int64_t offset = 0;
    while (offset < length) {
        UChar32 character;
        U8_NEXT(bytes, offset, length, character);
        if (character < 0) {
            return false;
        }
    }
    return true;
}

std::uint32_t readUInt32(const std::uint8_t* bytes)
{
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8)
        | (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

// Fields of a frame the channel built itself, so the header is known to be there.
std::uint16_t frameMessageId(const Data& frame)
{
    return static_cast<std::uint16_t>(frame[2] | (frame[3] << 8));
}

std::uint16_t frameChunkIndex(const Data& frame)
{
    return static_cast<std::uint16_t>(frame[4] | (frame[5] << 8));
}

std::span<const std::uint8_t> bytesOf(std::string_view text)
{
    return { reinterpret_cast<const std::uint8_t*>(text.data()), text.size() };
}

// A short log line built without touching the heap.
class LineWriter {
public:
    void put(std::string_view part)
    {
        const std::size_t count = std::min(part.size(), sizeof buffer - length);
        std::copy_n(part.data(), count, buffer + length);
        length += count;
    }

    void number(std::uint64_t value)
    {
        char digits[24];
        const auto result = std::to_chars(digits, digits + sizeof digits, value);
        put(std::string_view(digits, static_cast<std::size_t>(result.ptr - digits)));
    }

    std::string_view view() const { return { buffer, length }; }

private:
    char buffer[128];
    std::size_t length = 0;
};

void appendNumber(std::string& out, std::uint64_t value)
{
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr);
}

} // namespace

BleDataChannel::BleDataChannel(Logger logger, RandomSource& random)
    : log(std::move(logger))
    , random(&random)
{
    session = drawSession();
}

std::uint32_t BleDataChannel::drawSession()
{
    return static_cast<std::uint32_t>(random->uniform(1, std::numeric_limits<std::uint32_t>::max()));
}

void BleDataChannel::configure(std::shared_ptr<BleDataTransport> newTransport)
{
    transport = std::move(newTransport);
    pending.clear();
    completedReliable.clear();
    session = drawSession();
    outboundWrites.clear();
    awaitingWriteResponse = false;
}

bool BleDataChannel::sendCommand(std::string_view channel, std::string_view command)
{
    const std::string trimmedCommand = text::trimmed(command);
    std::string text;
    text.reserve(channel.size() + 1 + trimmedCommand.size());
    text.append(channel);
    text.push_back(':');
    text.append(trimmedCommand);
    if (!isValidUtf8(text)) {
        writeLog("[ble:data] invalid command encoding");
        return false;
    }
    return sendRawPayload(bytesOf(text), plainFlags, std::nullopt);
}

bool BleDataChannel::sendEncodable(const Json& value)
{
    const std::optional<std::string> text = strictJsonText(value);
    if (!text) {
        writeLog("[ble:data] invalid JSON encoding");
        return false;
    }
    return sendRawPayload(bytesOf(*text), plainFlags, std::nullopt);
}

bool BleDataChannel::sendBinaryPayload(std::span<const std::uint8_t> payload, std::string_view /*description*/)
{
    return sendRawPayload(payload, binaryPayloadFlags, std::nullopt);
}

ReliableDeliveryOffer BleDataChannel::deliveryOffer() const
{
    return ReliableDeliveryOffer { .version = 1, .session = session, .window = 4 };
}

bool BleDataChannel::sendRawPayload(
    std::span<const std::uint8_t> data, std::uint8_t flags, std::optional<std::uint16_t> acknowledgementMessageId)
{
    if (!transport) {
        writeLog("[ble:data] send skipped (no peripheral)");
        return false;
    }
    const BleWriteType type = flags == binaryPayloadFlags && transport->supportsWriteWithoutResponse()
        ? BleWriteType::withoutResponse
        : BleWriteType::withResponse;

    // The id is used up even when the message is refused below.
    nextMessageId = static_cast<std::uint16_t>(nextMessageId + 1);
    if (nextMessageId == 0) {
        nextMessageId = 1;
    }
    const std::uint16_t messageId = nextMessageId;

    const int writeLength = transport->maximumWriteValueLength(type);
    if (writeLength < static_cast<int>(smallestWriteLength)) {
        return false;
    }
    const std::size_t chunkSize = std::min(static_cast<std::size_t>(writeLength), largestFrame) - frameOverhead;
    const std::size_t chunkCount = (data.size() + chunkSize - 1) / chunkSize;
    if (data.empty() || data.size() > maximumMessageLength || chunkCount > maximumChunkCount) {
        writeLog("[ble:data] payload exceeds frame limits");
        return false;
    }

    if (acknowledgementMessageId) {
        dropQueuedAcknowledgements(*acknowledgementMessageId);
    }

    const bool wantsDetail = static_cast<bool>(onMessageLog);
    std::vector<BleDataChunkLogDetail> chunkDetails;
    if (wantsDetail) {
        chunkDetails.reserve(chunkCount);
    }
    for (std::size_t index = 0; index < chunkCount; ++index) {
        const std::size_t offset = index * chunkSize;
        const std::size_t length = std::min(chunkSize, data.size() - offset);
        outboundWrites.push_back(OutboundWrite {
            .data = makeFrame(flags, messageId, static_cast<std::uint16_t>(index),
                static_cast<std::uint16_t>(chunkCount), data.subspan(offset, length)),
            .type = type,
            .acknowledgementMessageId = acknowledgementMessageId,
        });
        if (wantsDetail) {
            chunkDetails.push_back(
                { static_cast<int>(index) + 1, static_cast<int>(chunkCount), static_cast<int>(length) });
        }
    }

    if (wantsDetail) {
        logMessage(BleDataMessageLogDetail {
            .direction = BleDataMessageLogDetail::Direction::outbound,
            .messageId = messageId,
            .flags = flags,
            .writeType = std::string(writeTypeText(type)),
            .byteCount = static_cast<int>(data.size()),
            .receivedChunkCount = static_cast<int>(chunkCount),
            .isComplete = true,
            .chunks = std::move(chunkDetails),
        });
    } else {
        writeTransferLine(messageId, static_cast<int>(chunkCount), std::nullopt, data.size());
    }

    drainWrites();
    return true;
}

void BleDataChannel::dropQueuedAcknowledgements(std::uint16_t acknowledgedId)
{
    // A newer acknowledgement of the same message supersedes one still waiting whole. One that has begun to
    // go out is finished instead: cutting its remaining frames would leave the device a message that can
    // never complete. The queue is in write order, so a message whose first frame is still queued has sent
    // nothing yet.
    std::vector<std::uint16_t> unsent;
    for (const OutboundWrite& write : outboundWrites) {
        if (write.acknowledgementMessageId == acknowledgedId && frameChunkIndex(write.data) == 0) {
            unsent.push_back(frameMessageId(write.data));
        }
    }
    if (unsent.empty()) {
        return;
    }
    std::erase_if(outboundWrites, [&](const OutboundWrite& write) {
        return write.acknowledgementMessageId == acknowledgedId
            && std::find(unsent.begin(), unsent.end(), frameMessageId(write.data)) != unsent.end();
    });
}

void BleDataChannel::drainWrites()
{
    // Held so that a link which detaches itself from inside write() is not destroyed while writing.
    const std::shared_ptr<BleDataTransport> link = transport;
    while (link && transport == link && !awaitingWriteResponse && !outboundWrites.empty()) {
        if (outboundWrites.front().type == BleWriteType::withoutResponse && !link->canSendWriteWithoutResponse()) {
            return;
        }
        // Dequeued and marked before the write, so a link that answers from inside write() finds the
        // channel in order.
        OutboundWrite next = std::move(outboundWrites.front());
        outboundWrites.pop_front();
        const bool withResponse = next.type == BleWriteType::withResponse;
        if (withResponse) {
            awaitingWriteResponse = true;
        }
        link->write(next.data, next.type);
        if (withResponse) {
            return;
        }
    }
}

void BleDataChannel::handleWriteResponse()
{
    awaitingWriteResponse = false;
    drainWrites();
}

void BleDataChannel::handleReadyToSendWriteWithoutResponse()
{
    drainWrites();
}

void BleDataChannel::handleIncoming(std::span<const std::uint8_t> notification)
{
    const std::optional<FrameHeader> parsed = parseHeader(notification);
    if (!parsed || parsed->version != frameVersion || (parsed->flags != plainFlags && parsed->flags != reliableFlags)
        || parsed->chunkCount == 0 || parsed->chunkIndex >= parsed->chunkCount) {
        writeLog("[ble:data] invalid frame");
        return;
    }
    const FrameHeader header = *parsed;
    if (notification.size() != header.payloadLength + frameOverhead) {
        writeLog("[ble:data] invalid frame length");
        return;
    }
    if (crc8(notification.first(header.payloadLength + frameHeaderLength)) != notification.back()) {
        std::string text = "[ble:data] crc mismatch for message ";
        appendNumber(text, header.messageId);
        writeLog(text);
        return;
    }

    const bool reliable = header.flags == reliableFlags;
    std::size_t chunkStart = frameHeaderLength;
    if (reliable) {
        if (header.payloadLength < reliablePrefixLength + 1
            || readUInt32(notification.data() + frameHeaderLength) != session) {
            return;
        }
        const auto completed = std::find_if(completedReliable.begin(), completedReliable.end(),
            [&](const CompletedMessage& entry) { return entry.id == header.messageId; });
        if (completed != completedReliable.end()) {
            // Delivered already: repeat the final acknowledgement, never the message.
            if (completed->count == header.chunkCount) {
                acknowledge(header, header.chunkCount);
            }
            return;
        }
        chunkStart += reliablePrefixLength;
    }
    const std::span<const std::uint8_t> chunk = notification.subspan(chunkStart, notification.size() - 1 - chunkStart);

    auto found = pending.find(header.messageId);
    PendingMessage fresh;
    PendingMessage* message = nullptr;
    if (found == pending.end()) {
        if (pending.size() >= maximumPendingMessages) {
            return;
        }
        fresh.chunkCount = header.chunkCount;
        fresh.chunks.resize(header.chunkCount);
        fresh.reliable = reliable;
        message = &fresh;
    } else {
        if (found->second.chunkCount != header.chunkCount || found->second.reliable != reliable) {
            return;
        }
        message = &found->second;
    }

    const int index = header.chunkIndex;
    const int contiguousBefore = message->contiguous;
    ChunkSlot& slot = message->chunks[static_cast<std::size_t>(index)];
    if (slot.filled()) {
        if (reliable) {
            acknowledge(header, message->contiguous);
        }
        return;
    }
    if (message->bytes + chunk.size() > maximumMessageLength) {
        return;
    }
    if (message->storage.capacity() == 0) {
        // Sized for the whole message from the first chunk seen, within the message limit.
        message->storage.reserve(
            std::min(chunk.size() * static_cast<std::size_t>(message->chunkCount), maximumMessageLength));
    }
    message->arrivedInOrder = message->arrivedInOrder && index == message->received;
    slot.offset = static_cast<std::uint32_t>(message->storage.size());
    slot.length = static_cast<std::uint32_t>(chunk.size());
    message->storage.insert(message->storage.end(), chunk.begin(), chunk.end());
    message->received += 1;
    message->bytes += chunk.size();
    while (message->contiguous < message->chunkCount
        && message->chunks[static_cast<std::size_t>(message->contiguous)].filled()) {
        message->contiguous += 1;
    }

    const int contiguous = message->contiguous;
    const int received = message->received;
    const std::size_t bytes = message->bytes;
    const bool complete = received == message->chunkCount;
    const bool acknowledgeNow
        = reliable && (contiguous == message->chunkCount || contiguous % 4 == 0 || index != contiguousBefore);

    // The channel's state is settled before any callback runs, so a callback may use the channel again.
    PendingMessage finished;
    if (complete) {
        if (found != pending.end()) {
            finished = std::move(found->second);
            pending.erase(found);
        } else {
            finished = std::move(fresh);
        }
        message = &finished;
        if (reliable) {
            completedReliable.push_back({ header.messageId, header.chunkCount });
            if (completedReliable.size() > maximumCompletedReliable) {
                completedReliable.erase(completedReliable.begin());
            }
        }
    } else if (found == pending.end()) {
        message = &pending.emplace(header.messageId, std::move(fresh)).first->second;
    }

    std::optional<BleDataMessageLogDetail> detail;
    if (onMessageLog) {
        detail = inboundDetail(header.messageId, header.flags, *message);
    }

    if (acknowledgeNow) {
        acknowledge(header, contiguous);
    }
    if (detail) {
        logMessage(*detail);
    } else {
        writeTransferLine(header.messageId, received, static_cast<int>(header.chunkCount), bytes);
    }

    if (complete) {
        Data payload;
        if (finished.arrivedInOrder) {
            payload = std::move(finished.storage);
        } else {
            payload.reserve(bytes);
            for (const ChunkSlot& part : finished.chunks) {
                const auto begin = finished.storage.begin() + static_cast<std::ptrdiff_t>(part.offset);
                payload.insert(payload.end(), begin, begin + static_cast<std::ptrdiff_t>(part.length));
            }
        }
        if (onMessage) {
            onMessage(header.messageId, payload);
        }
    }
}

BleDataMessageLogDetail BleDataChannel::inboundDetail(
    std::uint16_t messageId, std::uint8_t flags, const PendingMessage& message)
{
    BleDataMessageLogDetail detail {
        .direction = BleDataMessageLogDetail::Direction::inbound,
        .messageId = messageId,
        .flags = flags,
        .writeType = std::nullopt,
        .byteCount = static_cast<int>(message.bytes),
        .receivedChunkCount = message.received,
        .isComplete = message.received == message.chunkCount,
        .chunks = {},
    };
    detail.chunks.reserve(static_cast<std::size_t>(message.received));
    for (std::size_t slot = 0; slot < message.chunks.size(); ++slot) {
        if (message.chunks[slot].filled()) {
            detail.chunks.push_back(
                { static_cast<int>(slot) + 1, message.chunkCount, static_cast<int>(message.chunks[slot].length) });
        }
    }
    return detail;
}

void BleDataChannel::acknowledge(const FrameHeader& header, int next)
{
    const ReliableDeliveryAcknowledgement acknowledgement {
        .type = "ble_ack",
        .session = session,
        .messageId = header.messageId,
        .nextChunk = static_cast<std::uint16_t>(next),
    };
    if (acknowledgementSink) {
        acknowledgementSink(acknowledgement);
        return;
    }
    const Data payload = encodeAcknowledgement(acknowledgement);
    sendRawPayload(payload, plainFlags, header.messageId);
}

void BleDataChannel::logMessage(const BleDataMessageLogDetail& detail)
{
    if (onMessageLog) {
        onMessageLog(detail);
        return;
    }
    if (detail.direction == BleDataMessageLogDetail::Direction::outbound) {
        writeTransferLine(
            detail.messageId, detail.receivedChunkCount, std::nullopt, static_cast<std::size_t>(detail.byteCount));
    } else {
        const int chunkCount = detail.chunks.empty() ? detail.receivedChunkCount : detail.chunks.back().count;
        writeTransferLine(
            detail.messageId, detail.receivedChunkCount, chunkCount, static_cast<std::size_t>(detail.byteCount));
    }
}

void BleDataChannel::writeTransferLine(
    std::uint16_t messageId, int chunks, std::optional<int> chunkCount, std::size_t byteCount)
{
    if (!log) {
        return;
    }
    // Formatted on the stack: this runs for every inbound chunk.
    LineWriter text;
    text.put(chunkCount ? "[ble:data] <- msg=" : "[ble:data] -> msg=");
    text.number(messageId);
    text.put(" chunks=");
    text.number(static_cast<std::uint64_t>(chunks));
    if (chunkCount) {
        text.put("/");
        text.number(static_cast<std::uint64_t>(*chunkCount));
    }
    text.put(" (");
    text.number(byteCount);
    text.put(" bytes)");
    // The buffer is taken for the duration of the call: a sink that sends again from inside gets a
    // buffer of its own rather than overwriting this line.
    std::string line = std::move(lineBuffer);
    line.assign(text.view());
    log(line);
    lineBuffer = std::move(line);
}

void BleDataChannel::writeLog(std::string_view text)
{
    if (log) {
        log(std::string(text));
    }
}

} // namespace tavrik
