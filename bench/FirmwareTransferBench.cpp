#include "TavrikCore/Firmware/FirmwareIntegrity.hpp"
#include "TavrikCore/Firmware/FirmwareTransfer.hpp"

#include "bench/BenchSupport.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A whole over-the-air transfer of a 4 MiB image at a write length of 244, against the time to hash
// the same image once (every installed image is hashed once, so that is the floor to compare with).
// Each case reports its CPU time per MiB as "per_MiB".
namespace {

using namespace tavrik;

constexpr std::size_t imageLength = 4 * 1048576;
constexpr int writeLength = 244;
constexpr double imageMiB = static_cast<double>(imageLength) / 1048576.0;

const Data& imageBytes()
{
    static const Data bytes = bench::pseudoRandomBytes(imageLength, 0x2545F491U);
    return bytes;
}

Data statusPayload(
    const std::string& state, std::optional<std::int64_t> nextChunkIndex, std::optional<std::int64_t> ackIntervalChunks)
{
    FirmwareStatusEnvelope envelope { .type = "firmware_status", .state = state };
    envelope.nextChunkIndex = nextChunkIndex;
    envelope.ackIntervalChunks = ackIntervalChunks;
    if (nextChunkIndex) {
        envelope.receivedBytes = std::min<std::int64_t>(*nextChunkIndex * (writeLength - 8), imageLength);
        envelope.expectedBytes = imageLength;
    }
    return dumpJsonData(toJson(envelope));
}

// Takes every write at once and acknowledges each full window (and the last chunk). Its answers are
// made up front, so the loop measures the engine, not the device.
class InstantDevice {
public:
    explicit InstantDevice(std::int64_t window)
        : window(window)
    {
        const std::int64_t chunks = (imageLength + writeLength - 9) / (writeLength - 8);
        acknowledgements.resize(static_cast<std::size_t>(chunks) + 1);
        for (std::int64_t next = window; next < chunks; next += window) {
            acknowledgements[static_cast<std::size_t>(next)] = statusPayload("receiving", next, std::nullopt);
        }
        acknowledgements.back() = statusPayload("receiving", chunks, std::nullopt);
        ready = statusPayload("ready", 0, window);
        complete = statusPayload("complete", std::nullopt, std::nullopt);
    }

    FirmwareTransfer::Transport transport()
    {
        return FirmwareTransfer::Transport {
            .begin = [](const FirmwareBeginEnvelope&) { return true; },
            .commit =
                [this] {
                    committed = true;
                    return true;
                },
            .abort = [] {},
            .maximumWriteLength = [] { return std::optional<int>(writeLength); },
            .write =
                [this](const Data& payload) {
                    ++received;
                    receivedBytes += payload.size() - 8;
                    if (received - acknowledged == window || receivedBytes == imageLength) {
                        pending = received;
                    }
                    return true;
                },
            .connect = [] {},
            .isReady = [] { return true; },
        };
    }

    void reset()
    {
        received = 0;
        receivedBytes = 0;
        acknowledged = 0;
        pending.reset();
        committed = false;
    }

    // The next acknowledgement the device has to send, if any.
    const Data* nextAcknowledgement()
    {
        if (!pending) {
            return nullptr;
        }
        acknowledged = *pending;
        pending.reset();
        return &acknowledgements[static_cast<std::size_t>(acknowledged)];
    }

    std::int64_t window;
    std::int64_t received = 0;
    std::size_t receivedBytes = 0;
    std::int64_t acknowledged = 0;
    std::optional<std::int64_t> pending;
    bool committed = false;
    std::vector<Data> acknowledgements;
    Data ready;
    Data complete;
};

void BM_FirmwareTransfer(benchmark::State& state)
{
    const Data& image = imageBytes();
    InstantDevice device(state.range(0));
    std::size_t published = 0;
    FirmwareTransfer transfer(
        device.transport(), [](const std::string&) {}, [](const std::optional<std::string>&) {},
        [](const std::string&) { return std::optional<std::string>(); });
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
        Data copy = image;
        device.reset();
        state.ResumeTiming();

        transfer.prepare(asset, std::move(copy));
        transfer.handleFirmwarePayload(device.ready, 0);
        while (const Data* acknowledgement = device.nextAcknowledgement()) {
            transfer.handleFirmwarePayload(*acknowledgement, 0);
        }
        transfer.handleFirmwarePayload(device.complete, 0);
        if (!device.committed || transfer.status().phase != FirmwareUploadStatus::Phase::completed) {
            state.SkipWithError("the transfer did not complete");
            break;
        }
    }
    benchmark::DoNotOptimize(published);
    state.counters["chunks"] = static_cast<double>(device.received);
    state.counters["per_MiB"]
        = benchmark::Counter(imageMiB, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(imageLength));
}
BENCHMARK(BM_FirmwareTransfer)->ArgName("window")->Arg(4)->Arg(64)->Unit(benchmark::kMillisecond);

void BM_FirmwareImageSha256(benchmark::State& state)
{
    const Data& image = imageBytes();
    for (auto _ : state) {
        benchmark::DoNotOptimize(FirmwareIntegrity::sha256(image));
    }
    state.counters["per_MiB"]
        = benchmark::Counter(imageMiB, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(imageLength));
}
BENCHMARK(BM_FirmwareImageSha256)->Unit(benchmark::kMillisecond);

} // namespace
