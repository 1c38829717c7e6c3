#include "TavrikCore/Firmware/FirmwareOtaMessages.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string_view>

namespace tavrik {
namespace {

TEST(FirmwareChunkPayload, HeaderIsIndexAndOffsetLittleEndian)
{
    EXPECT_EQ(buildFirmwareChunkPayload(0, 0, Data { 1, 2, 3 }), (Data { 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3 }));

    const Data chunk(244, 0xAB);
    const Data payload = buildFirmwareChunkPayload(1, 244, chunk);
    ASSERT_EQ(payload.size(), 252U);
    EXPECT_EQ(Data(payload.begin(), payload.begin() + 8), (Data { 0x01, 0, 0, 0, 0xF4, 0, 0, 0 }));
    EXPECT_EQ(Data(payload.begin() + 8, payload.end()), chunk);

    Data reused(500, 0xEE);
    buildFirmwareChunkPayload(0x01020304, 0xA0B0C0D0, Data { 9 }, reused);
    EXPECT_EQ(reused, (Data { 0x04, 0x03, 0x02, 0x01, 0xD0, 0xC0, 0xB0, 0xA0, 9 }));
}

TEST(FirmwareChunkPayload, ImagesMustBeShorterThanFourGibibytes)
{
    EXPECT_TRUE(firmwareImageFitsChunkFormat(0));
    EXPECT_TRUE(firmwareImageFitsChunkFormat(4294967295));
    EXPECT_FALSE(firmwareImageFitsChunkFormat(4294967296));
    EXPECT_FALSE(firmwareImageFitsChunkFormat(-1));
}

TEST(FirmwareControlMessages, WriteEveryKeyInOrder)
{
    const FirmwareBeginEnvelope begin("1.4.0", "fw-s3.bin", 1000, "m5stick-s3");
    EXPECT_EQ(dumpJson(toJson(begin)),
        R"({"type":"firmware_begin","version":"1.4.0","fileName":"fw-s3.bin","size":1000,"hardwareTarget":"m5stick-s3"})");
    EXPECT_EQ(dumpJson(toJson(FirmwareCommitEnvelope {})), R"({"type":"firmware_commit"})");
    EXPECT_EQ(dumpJson(toJson(FirmwareAbortEnvelope {})), R"({"type":"firmware_abort"})");
}

TEST(FirmwareStatusEnvelope, DecodesOptionalFieldsStrictly)
{
    const FirmwareStatusEnvelope minimal
        = firmwareStatusEnvelopeFromJson(parseJson(R"({"type":"firmware_status","state":"ready"})"));
    EXPECT_EQ(minimal, (FirmwareStatusEnvelope { .type = "firmware_status", .state = "ready" }));

    const FirmwareStatusEnvelope full {
        .type = "firmware_status",
        .state = "complete",
        .version = "1.4.0",
        .fileName = "fw.bin",
        .expectedBytes = 1000,
        .receivedBytes = 1000,
        .nextChunkIndex = 5,
        .chunksReceived = 5,
        .ackIntervalChunks = 4,
        .elapsedMs = 1234,
        .message = "Done",
        .hardwareTarget = "m5stick-c",
    };
    EXPECT_EQ(firmwareStatusEnvelopeFromJson(toJson(full)), full);
    EXPECT_EQ(firmwareStatusEnvelopeFromJson(parseJson(
                  R"({"type":"firmware_status","state":"receiving","nextChunkIndex":4.0,"message":null,"extra":[1]})")),
        (FirmwareStatusEnvelope { .type = "firmware_status", .state = "receiving", .nextChunkIndex = 4 }));

    for (const char* text : {
             R"({"type":"firmware_status"})",
             R"({"state":"ready"})",
             R"({"type":"firmware_status","state":null})",
             R"({"type":"firmware_status","state":"ready","nextChunkIndex":"4"})",
             R"({"type":"firmware_status","state":"ready","nextChunkIndex":1.5})",
             R"({"type":"firmware_status","state":"ready","ackIntervalChunks":true})",
             R"({"type":"firmware_status","state":"ready","message":7})",
             R"(["firmware_status"])",
         }) {
        EXPECT_THROW(firmwareStatusEnvelopeFromJson(parseJson(text)), JsonDecodeError) << text;
    }
}

// Messages are read without a document when they are flat; the result must be exactly the
// document reader's, including which messages are refused.
TEST(FirmwareStatusEnvelope, ReadingBytesAgreesWithTheDocumentReader)
{
    const char* payloads[] = {
        R"({"type":"firmware_status","state":"receiving","nextChunkIndex":12,"receivedBytes":2928,"expectedBytes":4194304})",
        " \t\r\n{ \"type\" : \"firmware_status\" ,\n \"state\":\"ready\" , \"ackIntervalChunks\": 16 } \n",
        R"({"state":"complete","type":"firmware_status","version":"1.4.0","elapsedMs":0,"chunksReceived":-0})",
        R"({"type":"firmware_status","state":"error","message":"Flash write failed: code 5","hardwareTarget":"m5stick-c"})",
        R"({"type":"firmware_status","state":"ready","message":null,"nextChunkIndex":null,"extra":"x","more":7})",
        R"({"type":"firmware_status","state":"ready","fileName":"","version":"~\u0041"})",
        R"({"type":"firmware_status","state":"ready","message":"caf\u00e9"})",
        "{\"type\":\"firmware_status\",\"state\":\"ready\",\"message\":\"caf\xC3\xA9\"}",
        "{\"type\":\"firmware_status\",\"state\":\"ready\",\"message\":\"bad \xC3\"}",
        "{\"type\":\"firmware_status\",\"state\":\"ready\",\"message\":\"tab\there\"}",
        "\xEF\xBB\xBF{\"type\":\"firmware_status\",\"state\":\"ready\"}",
        R"({"type":"firmware_status","state":"ready","nested":{"a":[1,{"b":null}]},"flag":true})",
        R"({"type":"firmware_status","state":"ready","nextChunkIndex":4.0})",
        R"({"type":"firmware_status","state":"ready","nextChunkIndex":4.5})",
        R"({"type":"firmware_status","state":"ready","nextChunkIndex":1e2})",
        R"({"type":"firmware_status","state":"ready","nextChunkIndex":999999999999999999})",
        R"({"type":"firmware_status","state":"ready","nextChunkIndex":9223372036854775807})",
        R"({"type":"firmware_status","state":"ready","nextChunkIndex":-9223372036854775808})",
        R"({"type":"firmware_status","state":"ready","nextChunkIndex":9223372036854775808})",
        R"({"type":"firmware_status","state":"ready","nextChunkIndex":012})",
        R"({"type":"firmware_status","state":"ready","nextChunkIndex":-})",
        R"({"type":"firmware_status","state":"ready","nextChunkIndex":true})",
        R"({"type":"firmware_status","state":"ready","nextChunkIndex":"3"})",
        R"({"type":"firmware_status","state":"ready","message":3})",
        R"({"type":"firmware_status","state":"ready","state":"error"})",
        R"({"type":"firmware_status","state":"ready","message":"a","message":null})",
        R"({"type":"firmware_status","state":"ready","x":1,"x":2})",
        R"({"type":"firmware_status","state":null})",
        R"({"type":"firmware_status","state":7})",
        R"({"type":"firmware_status"})",
        R"({"type":"firmware_status","state":"ready",})",
        R"({"type":"firmware_status","state":"ready"} x)",
        R"({"type":"firmware_status","state":"ready")",
        R"({"type":"firmware_status" "state":"ready"})",
        R"({"type":"firmware_status","state":"ready","message":nul})",
        R"({})",
        R"([])",
        "",
    };
    for (const char* text : payloads) {
        SCOPED_TRACE(text);
        std::optional<FirmwareStatusEnvelope> expected;
        try {
            expected = firmwareStatusEnvelopeFromJson(parseJson(std::string_view(text)));
        } catch (const JsonDecodeError&) {
        }
        if (expected) {
            EXPECT_EQ(firmwareStatusEnvelopeFromData(dataFromString(text)), *expected);
        } else {
            EXPECT_THROW(firmwareStatusEnvelopeFromData(dataFromString(text)), JsonDecodeError);
        }
    }
}

} // namespace
} // namespace tavrik
