#pragma once

#include "TavrikCore/Firmware/FirmwareTransfer.hpp"
#include "tests/support/ManualScheduler.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tavrik::test {

// One raw write, split back into its header and bytes.
struct SentChunk {
    std::uint32_t index = 0;
    std::uint32_t offset = 0;
    Data bytes {};
};

inline SentChunk parseChunk(const Data& payload)
{
    const auto field = [&](std::size_t at) {
        return static_cast<std::uint32_t>(payload.at(at)) | static_cast<std::uint32_t>(payload.at(at + 1)) << 8
            | static_cast<std::uint32_t>(payload.at(at + 2)) << 16
            | static_cast<std::uint32_t>(payload.at(at + 3)) << 24;
    };
    return SentChunk { .index = field(0), .offset = field(4), .bytes = Data(payload.begin() + 8, payload.end()) };
}

inline Data patternImage(std::size_t size)
{
    Data image(size);
    for (std::size_t index = 0; index < size; ++index) {
        image[index] = static_cast<std::uint8_t>(index * 31 + index / 256);
    }
    return image;
}

inline FirmwareAsset testAsset(std::int64_t sizeBytes)
{
    const Url url = *Url::parse("https://fw.example/releases/1.4.0/fw-s3.bin");
    return FirmwareAsset {
        .url = url,
        .fileName = "fw-s3.bin",
        .version = "1.4.0",
        .target = FirmwareHardwareTarget::m5StickS3,
        .sizeBytes = sizeBytes,
        .sha256 = "00",
        .sourceDescription = "Published HTTPS",
        .channel = "stable",
        .manifestURL = url,
    };
}

inline FirmwareStatusEnvelope deviceStatus(const char* state)
{
    return FirmwareStatusEnvelope { .type = "firmware_status", .state = state };
}

// A device behind the transport that records everything the engine does. Hooks let a test answer
// from inside a transport call, as a device on a synchronous link would.
struct ScriptedDevice {
    bool ready = true;
    std::optional<int> writeLength = 252;
    bool acceptBegin = true;
    bool acceptCommit = true;
    int refuseWrites = 0;
    // A link that fails by throwing instead of answering.
    bool throwOnBegin = false;
    bool throwOnCommit = false;
    bool throwOnWriteLength = false;
    int throwingWrites = 0;

    std::vector<FirmwareBeginEnvelope> begins;
    std::vector<SentChunk> chunks;
    std::vector<std::string> events;
    int commits = 0;
    int aborts = 0;
    int connects = 0;
    // Chunks the device has acknowledged; the engine must never have more than a window beyond it.
    std::int64_t acknowledged = 0;
    std::int64_t mostInFlight = 0;
    // Writes under way at once: more than 1 means a write was made from inside another.
    int writeDepth = 0;
    int deepestWrite = 0;

    std::function<void()> onBegin;
    std::function<void()> onWrite;
    std::function<void()> onCommit;

    FirmwareTransfer::Transport transport()
    {
        return FirmwareTransfer::Transport {
            .begin =
                [this](const FirmwareBeginEnvelope& envelope) {
                    if (throwOnBegin) {
                        throw std::runtime_error("link lost");
                    }
                    begins.push_back(envelope);
                    events.push_back("begin");
                    if (acceptBegin && onBegin) {
                        onBegin();
                    }
                    return acceptBegin;
                },
            .commit =
                [this] {
                    if (throwOnCommit) {
                        throw std::runtime_error("link lost");
                    }
                    ++commits;
                    events.push_back("commit");
                    if (acceptCommit && onCommit) {
                        onCommit();
                    }
                    return acceptCommit;
                },
            .abort =
                [this] {
                    ++aborts;
                    events.push_back("abort");
                },
            .maximumWriteLength =
                [this] {
                    if (throwOnWriteLength) {
                        throw std::runtime_error("no characteristic");
                    }
                    return writeLength;
                },
            .write =
                [this](const Data& payload) {
                    if (refuseWrites > 0) {
                        --refuseWrites;
                        return false;
                    }
                    if (throwingWrites > 0) {
                        --throwingWrites;
                        throw std::runtime_error("write failed");
                    }
                    chunks.push_back(parseChunk(payload));
                    events.push_back("chunk " + std::to_string(chunks.back().index));
                    mostInFlight = std::max(mostInFlight, static_cast<std::int64_t>(chunks.size()) - acknowledged);
                    deepestWrite = std::max(deepestWrite, ++writeDepth);
                    if (onWrite) {
                        onWrite();
                    }
                    --writeDepth;
                    return true;
                },
            .connect =
                [this] {
                    ++connects;
                    events.push_back("connect");
                },
            .isReady = [this] { return ready; },
        };
    }

    // The image as the device would put it together from the offsets of the chunks it received.
    Data assembled() const
    {
        Data image;
        for (const SentChunk& chunk : chunks) {
            if (image.size() < chunk.offset + chunk.bytes.size()) {
                image.resize(chunk.offset + chunk.bytes.size());
            }
            std::copy(chunk.bytes.begin(), chunk.bytes.end(), image.begin() + chunk.offset);
        }
        return image;
    }

    std::vector<std::uint32_t> indexes() const
    {
        std::vector<std::uint32_t> result;
        for (const SentChunk& chunk : chunks) {
            result.push_back(chunk.index);
        }
        return result;
    }
};

// A transfer engine wired to a scripted device, with everything it reports collected.
struct TransferHarness {
    explicit TransferHarness(std::optional<std::string> windowSetting = std::nullopt)
        : windowSetting(std::move(windowSetting))
    {
        transfer.setOnStatus([this](const FirmwareUploadStatus& status) {
            statuses.push_back(status);
            activeAtNotification.push_back(transfer.isActive());
        });
    }

    void report(const FirmwareStatusEnvelope& envelope, std::int64_t availableSize = 0)
    {
        if (envelope.state == "receiving" && envelope.nextChunkIndex) {
            device.acknowledged = *envelope.nextChunkIndex;
        }
        transfer.handleFirmwarePayload(dumpJsonData(toJson(envelope)), availableSize);
    }

    void ready(std::optional<std::int64_t> ackIntervalChunks = std::nullopt)
    {
        FirmwareStatusEnvelope envelope = deviceStatus("ready");
        envelope.ackIntervalChunks = ackIntervalChunks;
        report(envelope);
    }

    void receiving(std::int64_t nextChunkIndex)
    {
        FirmwareStatusEnvelope envelope = deviceStatus("receiving");
        envelope.nextChunkIndex = nextChunkIndex;
        report(envelope);
    }

    void start(const Data& image) { transfer.prepare(testAsset(static_cast<std::int64_t>(image.size())), image); }

    const FirmwareUploadStatus& status() const { return transfer.status(); }

    ScriptedDevice device;
    std::optional<std::string> windowSetting;
    int environmentReads = 0;
    std::vector<std::string> logLines;
    std::vector<std::optional<std::string>> installs;
    std::function<void()> afterInstall;
    std::vector<FirmwareUploadStatus> statuses;
    std::vector<bool> activeAtNotification;
    // Virtual time for the engine's waits on the device; nothing falls due unless a test advances it.
    ManualScheduler scheduler;
    FirmwareTransfer transfer {
        device.transport(),
        [this](const std::string& line) { logLines.push_back(line); },
        [this](const std::optional<std::string>& version) {
            installs.push_back(version);
            if (afterInstall) {
                afterInstall();
            }
        },
        [this](const std::string& name) -> std::optional<std::string> {
            ++environmentReads;
            EXPECT_EQ(name, "TAVRIK_OTA_WINDOW_SIZE");
            return windowSetting;
        },
        &scheduler,
    };
};

} // namespace tavrik::test
