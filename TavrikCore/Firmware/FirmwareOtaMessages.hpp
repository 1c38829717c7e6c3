#pragma once

#include "TavrikCore/Support/Data.hpp"
#include "TavrikCore/Support/Json.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace tavrik {

// Asks the device to take an image. `size` is the length of the image about to be sent.
struct FirmwareBeginEnvelope {
    FirmwareBeginEnvelope(std::string version, std::string fileName, std::int64_t size, std::string hardwareTarget);

    std::string type = "firmware_begin";
    std::string version;
    std::string fileName;
    std::int64_t size = 0;
    std::string hardwareTarget;

    friend bool operator==(const FirmwareBeginEnvelope&, const FirmwareBeginEnvelope&) = default;
};

struct FirmwareCommitEnvelope {
    std::string type = "firmware_commit";

    friend bool operator==(const FirmwareCommitEnvelope&, const FirmwareCommitEnvelope&) = default;
};

struct FirmwareAbortEnvelope {
    std::string type = "firmware_abort";

    friend bool operator==(const FirmwareAbortEnvelope&, const FirmwareAbortEnvelope&) = default;
};

// Every key is written, in declaration order.
Json toJson(const FirmwareBeginEnvelope& envelope);
Json toJson(const FirmwareCommitEnvelope& envelope);
Json toJson(const FirmwareAbortEnvelope& envelope);

// The device's "firmware_status" report. `state` is "ready", "receiving", "complete" or "error";
// `nextChunkIndex` acknowledges every chunk below it.
struct FirmwareStatusEnvelope {
    std::string type;
    std::string state;
    std::optional<std::string> version {};
    std::optional<std::string> fileName {};
    std::optional<std::int64_t> expectedBytes {};
    std::optional<std::int64_t> receivedBytes {};
    std::optional<std::int64_t> nextChunkIndex {};
    std::optional<std::int64_t> chunksReceived {};
    std::optional<std::int64_t> ackIntervalChunks {};
    std::optional<std::int64_t> elapsedMs {};
    std::optional<std::string> message {};
    std::optional<std::string> hardwareTarget {};

    friend bool operator==(const FirmwareStatusEnvelope&, const FirmwareStatusEnvelope&) = default;
};

Json toJson(const FirmwareStatusEnvelope& envelope);
// `type` and `state` are required; any key of the wrong type fails the whole record (JsonDecodeError).
FirmwareStatusEnvelope firmwareStatusEnvelopeFromJson(const Json& value);
// The same from a message's bytes, which must be JSON. A device acknowledges every few chunks, so the
// usual flat message is read without building a document; the result is always what the document
// reader gives.
FirmwareStatusEnvelope firmwareStatusEnvelopeFromData(const Data& payload);

// One raw write to the firmware characteristic: the chunk index and the chunk's byte offset in the
// image, each 4 bytes little-endian, then the chunk's bytes.
Data buildFirmwareChunkPayload(std::uint32_t index, std::uint32_t offset, std::span<const std::uint8_t> chunk);
// The same into `payload`, replacing what it held, so a sender can reuse one buffer.
void buildFirmwareChunkPayload(
    std::uint32_t index, std::uint32_t offset, std::span<const std::uint8_t> chunk, Data& payload);

// Bytes of each chunk before its data.
inline constexpr int firmwareChunkHeaderLength = 8;
// Index and offset are 32-bit, so an image must be shorter than 4 GiB to be sent over the air.
inline constexpr std::int64_t maximumFirmwareImageSize = 4294967295;
bool firmwareImageFitsChunkFormat(std::int64_t byteCount);

} // namespace tavrik
