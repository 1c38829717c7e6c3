#include "TavrikCore/Firmware/FirmwareTransfer.hpp"

#include "bench/BenchSupport.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

// A whole over-the-air install across a modelled BLE link, run on virtual time. The link has
// connection events every `interval`; in each event the central delivers at most `packetsPerEvent`
// queued writes (a write queued during an event goes out in a later one). The device acknowledges
// every `window` chunks and the last one, `ackLatency` after the chunk arrived, in the first event
// from then on; writes the engine makes in answer go out from the next event.
//
// "ceiling" is the most those rules allow: every round of w chunks costs ceil(w / packetsPerEvent)
// events to send plus ceil(ackLatency / interval) events until its acknowledgement arrives.
// "of_ceiling" is the engine's virtual throughput over that; the CPU time is the engine's (and the
// small model's), per MiB in "per_MiB", to set against BM_FirmwareImageSha256.
namespace {

using namespace tavrik;

constexpr std::size_t imageLength = 1048576;
constexpr int writeLength = 244;
constexpr std::int64_t chunkCapacity = writeLength - 8;
constexpr std::int64_t intervalMicros = 15000;
constexpr std::int64_t packetsPerEvent = 6;
constexpr std::int64_t ackLatencyMicros = 20000;
constexpr double imageMiB = static_cast<double>(imageLength) / 1048576.0;

std::int64_t ceilDiv(std::int64_t value, std::int64_t divisor)
{
    return (value + divisor - 1) / divisor;
}

const Data& imageBytes()
{
    static const Data bytes = bench::pseudoRandomBytes(imageLength, 0x9E3779B9U);
    return bytes;
}

Data statusPayload(
    const std::string& state, std::optional<std::int64_t> nextChunkIndex, std::optional<std::int64_t> ackIntervalChunks)
{
    FirmwareStatusEnvelope envelope { .type = "firmware_status", .state = state };
    envelope.nextChunkIndex = nextChunkIndex;
    envelope.ackIntervalChunks = ackIntervalChunks;
    if (nextChunkIndex) {
        envelope.receivedBytes = std::min<std::int64_t>(*nextChunkIndex * chunkCapacity, imageLength);
        envelope.expectedBytes = imageLength;
    }
    return dumpJsonData(toJson(envelope));
}

// Virtual time of the whole image acknowledged, in connection events, for an ideal sender.
std::int64_t ceilingEvents(std::int64_t chunks, std::int64_t window)
{
    const std::int64_t ackEvents = ceilDiv(ackLatencyMicros, intervalMicros);
    std::int64_t events = 0;
    for (std::int64_t sent = 0; sent < chunks; sent += window) {
        events += ceilDiv(std::min(window, chunks - sent), packetsPerEvent) + ackEvents;
    }
    return events;
}

class LinkModel {
public:
    explicit LinkModel(std::int64_t window)
        : window(window)
        , chunks(ceilDiv(static_cast<std::int64_t>(imageLength), chunkCapacity))
    {
        acknowledgements.resize(static_cast<std::size_t>(chunks) + 1);
        for (std::int64_t next = window; next < chunks; next += window) {
            acknowledgements[static_cast<std::size_t>(next)] = statusPayload("receiving", next, std::nullopt);
        }
        acknowledgements.back() = statusPayload("receiving", chunks, std::nullopt);
        ready = statusPayload("ready", 0, window);
    }

    FirmwareTransfer::Transport transport()
    {
        return FirmwareTransfer::Transport {
            .begin = [](const FirmwareBeginEnvelope&) { return true; },
            .commit =
                [this] {
                    committedAt = event;
                    return true;
                },
            .abort = [] {},
            .maximumWriteLength = [] { return std::optional<int>(writeLength); },
            .write =
                [this](const Data& payload) {
                    queue.push_back(Queued { static_cast<std::int64_t>(payload[0] | payload[1] << 8 | payload[2] << 16
                                                 | static_cast<std::uint32_t>(payload[3]) << 24),
                        event });
                    return true;
                },
            .connect = [] {},
            .isReady = [] { return true; },
        };
    }

    void reset()
    {
        queue.clear();
        pendingAcks.clear();
        received = 0;
        event = 0;
        committedAt.reset();
        outOfOrder = false;
    }

    // Runs connection events until the engine commits; false when it stalls or misorders chunks.
    bool run(FirmwareTransfer& transfer)
    {
        transfer.handleFirmwarePayload(ready, 0);
        const std::int64_t limit = 100 * ceilingEvents(chunks, window);
        while (!committedAt && event < limit) {
            ++event;
            for (std::int64_t sent = 0; sent < packetsPerEvent && !queue.empty() && queue.front().queuedAt < event;
                 ++sent) {
                outOfOrder |= queue.front().index != received;
                queue.pop_front();
                ++received;
                if (received % window == 0 || received == chunks) {
                    const std::int64_t due = ceilDiv(event * intervalMicros + ackLatencyMicros, intervalMicros);
                    pendingAcks.push_back(Ack { due, received });
                }
            }
            while (!pendingAcks.empty() && pendingAcks.front().dueEvent == event) {
                const std::int64_t next = pendingAcks.front().nextChunkIndex;
                pendingAcks.pop_front();
                transfer.handleFirmwarePayload(acknowledgements[static_cast<std::size_t>(next)], 0);
            }
        }
        return committedAt.has_value() && !outOfOrder;
    }

    struct Queued {
        std::int64_t index;
        std::int64_t queuedAt;
    };
    struct Ack {
        std::int64_t dueEvent;
        std::int64_t nextChunkIndex;
    };

    std::int64_t window;
    std::int64_t chunks;
    std::deque<Queued> queue;
    std::deque<Ack> pendingAcks;
    std::int64_t received = 0;
    std::int64_t event = 0;
    std::optional<std::int64_t> committedAt;
    bool outOfOrder = false;
    std::vector<Data> acknowledgements;
    Data ready;
};

void BM_FirmwareOtaOverBleLink(benchmark::State& state)
{
    LinkModel link(state.range(0));
    FirmwareTransfer transfer(
        link.transport(), [](const std::string&) {}, [](const std::optional<std::string>&) {},
        [](const std::string&) { return std::optional<std::string>(); });
    std::size_t published = 0;
    transfer.setOnStatus([&](const FirmwareUploadStatus&) { ++published; });
    const FirmwareAsset asset {
        .url = *Url::parse("https://fw.example/fw.bin"),
        .fileName = "fw.bin",
        .version = "1.0.0",
        .target = FirmwareHardwareTarget::m5StickC,
        .sizeBytes = static_cast<std::int64_t>(imageLength),
        .sha256 = "",
    };
    for (auto _ : state) {
        state.PauseTiming();
        Data copy = imageBytes();
        link.reset();
        state.ResumeTiming();

        transfer.prepare(asset, std::move(copy));
        if (!link.run(transfer)) {
            state.SkipWithError("the transfer stalled or sent chunks out of order");
            break;
        }
    }
    benchmark::DoNotOptimize(published);
    const double seconds = static_cast<double>(link.committedAt.value_or(1) * intervalMicros) / 1e6;
    const double ceilingSeconds = static_cast<double>(ceilingEvents(link.chunks, link.window) * intervalMicros) / 1e6;
    state.counters["virtual_KiB_per_s"] = static_cast<double>(imageLength) / 1024.0 / seconds;
    state.counters["ceiling_KiB_per_s"] = static_cast<double>(imageLength) / 1024.0 / ceilingSeconds;
    state.counters["of_ceiling"] = ceilingSeconds / seconds;
    state.counters["per_MiB"]
        = benchmark::Counter(imageMiB, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_FirmwareOtaOverBleLink)->ArgName("window")->Arg(4)->Arg(64)->Unit(benchmark::kMillisecond);

} // namespace
