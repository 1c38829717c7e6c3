#include "TavrikCore/Link/BleDataChannel.hpp"
#include "TavrikCore/Link/BleDataFrame.hpp"
#include "TavrikCore/Link/Crc8.hpp"

#include "bench/BenchSupport.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

// Every case works on the same 1 MiB message (the largest the channel accepts) at a write length of 244,
// and reports the message's bytes per second, so the cases compare directly with the CRC pass.
namespace {

using namespace tavrik;

constexpr std::size_t messageLength = 1048576;
constexpr int writeLength = 244;

const Data& messageBytes()
{
    static const Data bytes = bench::pseudoRandomBytes(messageLength, 0x9E3779B9U);
    return bytes;
}

class FixedRandomSource final : public RandomSource {
public:
    std::uint64_t nextUInt64() override { return 0x5EED; }
};

// A link that takes every write; with `channel` set it answers each write with response at once.
class SinkTransport final : public BleDataTransport {
public:
    bool supportsWriteWithoutResponse() const override { return true; }
    bool canSendWriteWithoutResponse() const override { return true; }
    int maximumWriteValueLength(BleWriteType) const override { return writeLength; }
    void write(const Data& data, BleWriteType type) override
    {
        written += data.size();
        if (channel != nullptr && type == BleWriteType::withResponse) {
            channel->handleWriteResponse();
        }
    }

    BleDataChannel* channel = nullptr;
    std::size_t written = 0;
};

std::vector<Data> inboundFrames(bool reliable, std::uint32_t session)
{
    const Data& message = messageBytes();
    const std::size_t prefix = reliable ? 4 : 0;
    const std::size_t chunkSize = static_cast<std::size_t>(writeLength) - frameOverhead - prefix;
    const std::size_t chunkCount = (message.size() + chunkSize - 1) / chunkSize;
    std::vector<Data> frames;
    frames.reserve(chunkCount);
    Data payload;
    for (std::size_t index = 0; index < chunkCount; ++index) {
        const std::size_t offset = index * chunkSize;
        const std::size_t length = std::min(chunkSize, message.size() - offset);
        payload.clear();
        if (reliable) {
            for (int shift = 0; shift < 32; shift += 8) {
                payload.push_back(static_cast<std::uint8_t>(session >> shift));
            }
        }
        payload.insert(payload.end(), message.begin() + static_cast<std::ptrdiff_t>(offset),
            message.begin() + static_cast<std::ptrdiff_t>(offset + length));
        frames.push_back(makeFrame(
            reliable ? 2 : 0, 77, static_cast<std::uint16_t>(index), static_cast<std::uint16_t>(chunkCount), payload));
    }
    return frames;
}

void BM_Crc8(benchmark::State& state)
{
    const Data& message = messageBytes();
    for (auto _ : state) {
        benchmark::DoNotOptimize(crc8(message));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(message.size()));
}
BENCHMARK(BM_Crc8)->Unit(benchmark::kMicrosecond);

// One message cut into frames, checksummed, queued and handed to the link (written without response).
void BM_EncodeMessage(benchmark::State& state)
{
    const Data& message = messageBytes();
    std::size_t lines = 0;
    FixedRandomSource random;
    BleDataChannel channel([&](const std::string&) { ++lines; }, random);
    auto link = std::make_shared<SinkTransport>();
    channel.configure(link);
    for (auto _ : state) {
        if (!channel.sendBinaryPayload(message, "bench")) {
            state.SkipWithError("message refused");
            break;
        }
    }
    benchmark::DoNotOptimize(link->written);
    state.counters["frames"]
        = static_cast<double>(link->written / std::max<std::size_t>(1, state.iterations()) / writeLength + 1);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(message.size()));
}
BENCHMARK(BM_EncodeMessage)->Unit(benchmark::kMicrosecond);

// The frames of one plain message fed back in order: checked, reassembled and delivered.
void BM_DecodePlain(benchmark::State& state)
{
    FixedRandomSource random;
    std::size_t lines = 0;
    std::size_t deliveredBytes = 0;
    BleDataChannel channel([&](const std::string&) { ++lines; }, random);
    channel.onMessage = [&](std::uint16_t, const Data& payload) { deliveredBytes += payload.size(); };
    channel.configure(std::make_shared<SinkTransport>());
    const std::vector<Data> frames = inboundFrames(false, channel.reliableSession());
    for (auto _ : state) {
        for (const Data& frame : frames) {
            channel.handleIncoming(frame);
        }
    }
    if (deliveredBytes != static_cast<std::size_t>(state.iterations()) * messageLength) {
        state.SkipWithError("message not delivered");
    }
    state.counters["frames"] = static_cast<double>(frames.size());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(messageLength));
}
BENCHMARK(BM_DecodePlain)->Unit(benchmark::kMicrosecond);

// The same with reliable delivery: every frame carries the session, and every fourth chunk is
// acknowledged with a framed "ble_ack" written to a link that answers each write at once.
void BM_DecodeReliable(benchmark::State& state)
{
    FixedRandomSource random;
    std::size_t lines = 0;
    std::size_t deliveredBytes = 0;
    BleDataChannel channel([&](const std::string&) { ++lines; }, random);
    channel.onMessage = [&](std::uint16_t, const Data& payload) { deliveredBytes += payload.size(); };
    auto link = std::make_shared<SinkTransport>();
    link->channel = &channel;
    channel.configure(link);
    const std::vector<Data> frames = inboundFrames(true, channel.reliableSession());
    for (auto _ : state) {
        // A completed reliable message is remembered; a new connection (same session number, as the
        // source is fixed) lets the same frames count as a new message.
        channel.configure(link);
        for (const Data& frame : frames) {
            channel.handleIncoming(frame);
        }
    }
    if (deliveredBytes != static_cast<std::size_t>(state.iterations()) * messageLength) {
        state.SkipWithError("message not delivered");
    }
    state.counters["frames"] = static_cast<double>(frames.size());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(messageLength));
}
BENCHMARK(BM_DecodeReliable)->Unit(benchmark::kMicrosecond);

} // namespace
