#include "tests/support/InMemoryBleTransport.hpp"

#include <algorithm>
#include <map>
#include <optional>
#include <stdexcept>

namespace tavrik::test {

void InMemoryBleTransport::setMaximumWriteLength(int length)
{
    maximumWithResponse = length;
    maximumWithoutResponse = length;
}

int InMemoryBleTransport::maximumWriteValueLength(BleWriteType type) const
{
    return type == BleWriteType::withResponse ? maximumWithResponse : maximumWithoutResponse;
}

void InMemoryBleTransport::write(const Data& data, BleWriteType type)
{
    writes.push_back({ data, type });
    if (type == BleWriteType::withResponse) {
        ++outstanding;
        largestOutstanding = std::max(largestOutstanding, outstanding);
    }
}

bool InMemoryBleTransport::completeWriteWithResponse()
{
    if (outstanding == 0) {
        return false;
    }
    --outstanding;
    if (channel != nullptr) {
        channel->handleWriteResponse();
    }
    return true;
}

int InMemoryBleTransport::completeAllWrites()
{
    int answered = 0;
    while (completeWriteWithResponse()) {
        ++answered;
    }
    return answered;
}

void InMemoryBleTransport::becomeReadyToSend()
{
    canSendWithoutResponse = true;
    if (channel != nullptr) {
        channel->handleReadyToSendWriteWithoutResponse();
    }
}

std::vector<Data> InMemoryBleTransport::frames() const
{
    std::vector<Data> result;
    result.reserve(writes.size());
    for (const Write& write : writes) {
        result.push_back(write.data);
    }
    return result;
}

std::vector<InMemoryBleTransport::SentMessage> InMemoryBleTransport::sentMessages() const
{
    struct Collected {
        SentMessage message;
        std::vector<std::optional<Data>> chunks;
    };
    std::vector<Collected> collected;
    for (const Write& write : writes) {
        const std::optional<FrameHeader> header = parseHeader(write.data);
        if (!header || header->chunkCount == 0 || header->chunkIndex >= header->chunkCount) {
            throw std::logic_error("the channel wrote a malformed frame");
        }
        auto entry = std::find_if(collected.begin(), collected.end(), [&](const Collected& item) {
            return item.message.messageId == header->messageId && item.chunks.size() == header->chunkCount
                && !item.chunks[header->chunkIndex];
        });
        if (entry == collected.end()) {
            Collected fresh;
            fresh.message.messageId = header->messageId;
            fresh.message.flags = header->flags;
            fresh.message.type = write.type;
            fresh.message.chunkCount = header->chunkCount;
            fresh.chunks.resize(header->chunkCount);
            collected.push_back(std::move(fresh));
            entry = std::prev(collected.end());
        }
        entry->chunks[header->chunkIndex]
            = Data(write.data.begin() + static_cast<std::ptrdiff_t>(frameHeaderLength), write.data.end() - 1);
    }
    std::vector<SentMessage> result;
    result.reserve(collected.size());
    for (Collected& item : collected) {
        for (const std::optional<Data>& chunk : item.chunks) {
            if (chunk) {
                item.message.payload.insert(item.message.payload.end(), chunk->begin(), chunk->end());
            }
        }
        result.push_back(std::move(item.message));
    }
    return result;
}

} // namespace tavrik::test
