#include "TavrikUSBProtocol/Bootloader/ESPBootloaderPayload.hpp"
#include "TavrikUSBProtocol/Bootloader/ESPBootloaderResponse.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <variant>

namespace tavrik {
namespace {

using ResponseError = ESPBootloaderResponseValidationError;

TEST(ESPFlashBeginPayload, LittleEndianFieldsAndOptionalEncryptionFlag)
{
    struct Case {
        const char* name;
        std::uint32_t eraseSize;
        std::uint32_t blockCount;
        std::uint32_t blockSize;
        std::uint32_t offset;
        std::optional<bool> encrypted;
        Data expected;
    };
    const Data plain {
        0x45,
        0x23,
        0x01,
        0x00,
        0x03,
        0x00,
        0x00,
        0x00,
        0x00,
        0x40,
        0x00,
        0x00,
        0x00,
        0x00,
        0x01,
        0x00,
    };
    const auto withFlag = [&](std::uint8_t flag) {
        Data body = plain;
        body.insert(body.end(), { flag, 0x00, 0x00, 0x00 });
        return body;
    };
    const Case cases[] = {
        { "no flag", 0x12345, 3, 0x4000, 0x10000, std::nullopt, plain },
        { "not encrypted", 0x12345, 3, 0x4000, 0x10000, false, withFlag(0) },
        { "encrypted", 0x12345, 3, 0x4000, 0x10000, true, withFlag(1) },
        { "byte order of every field", 0x04030201, 0x08070605, 0x0C0B0A09, 0x100F0E0D, std::nullopt,
            { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16 } },
        { "largest values", 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, true,
            { 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0,
                0 } },
    };
    for (const Case& testCase : cases) {
        EXPECT_EQ(makeESPFlashBeginPayload(
                      testCase.eraseSize, testCase.blockCount, testCase.blockSize, testCase.offset, testCase.encrypted),
            testCase.expected)
            << testCase.name;
    }
}

TEST(ESPBootloaderResponse, StripsStatusBytesOrRefuses)
{
    struct Case {
        const char* name;
        Data body;
        std::uint8_t command;
        std::int64_t statusByteCount;
        std::variant<Data, ResponseError> expected;
    };
    const Case cases[] = {
        { "bare success", { 0x00, 0x00 }, 0x02, 2, Data {} },
        { "data before success", { 0xAA, 0x00, 0x00 }, 0x0a, 2, Data { 0xAA } },
        { "four status bytes, padding ignored", { 0xAA, 0xBB, 0x00, 0x07, 0x01, 0x02 }, 0x0a, 4, Data { 0xAA, 0xBB } },
        { "reason alone is no failure", { 0x10, 0x00, 0x05 }, 0x0a, 2, Data { 0x10 } },
        { "status 1 reason 5", { 0x01, 0x05 }, 0x0a, 2, ResponseError::commandFailed(0x0a, 1, 5) },
        { "status read before the padding", { 0xAA, 0x01, 0x06, 0x00, 0x00 }, 0x03, 4,
            ResponseError::commandFailed(0x03, 1, 6) },
        { "status with data before it", { 0x12, 0x34, 0xFF, 0xC9 }, 0xD0, 2,
            ResponseError::commandFailed(0xD0, 255, 201) },
        { "body shorter than the status", { 0xAA, 0x00, 0x00 }, 0x0a, 4, ResponseError::shortStatusPacket(4, 3) },
        { "empty body", {}, 0x08, 2, ResponseError::shortStatusPacket(2, 0) },
        { "one status byte", { 0x00, 0x00 }, 0x0a, 1, ResponseError::invalidStatusByteCount(1) },
        { "no status bytes", {}, 0x0a, 0, ResponseError::invalidStatusByteCount(0) },
        { "negative count", { 0x00, 0x00 }, 0x0a, -3, ResponseError::invalidStatusByteCount(-3) },
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        try {
            const Data result
                = validateESPBootloaderResponseBody(testCase.body, testCase.command, testCase.statusByteCount);
            ASSERT_TRUE(std::holds_alternative<Data>(testCase.expected)) << "no error thrown";
            EXPECT_EQ(result, std::get<Data>(testCase.expected));
        } catch (const ResponseError& error) {
            ASSERT_TRUE(std::holds_alternative<ResponseError>(testCase.expected)) << error.what();
            EXPECT_EQ(error, std::get<ResponseError>(testCase.expected));
        }
    }
}

TEST(ESPBootloaderResponse, ErrorDescriptions)
{
    const std::pair<ResponseError, std::string> cases[] = {
        { ResponseError::invalidStatusByteCount(1), "ESP32 bootloader status byte count must be at least 2, got 1." },
        { ResponseError::invalidStatusByteCount(-3), "ESP32 bootloader status byte count must be at least 2, got -3." },
        { ResponseError::shortStatusPacket(4, 3),
            "ESP32 bootloader returned a short status packet: expected at least 4 bytes, got 3." },
        { ResponseError::commandFailed(0x0a, 1, 5), "ESP32 bootloader command 0x0a failed with status 1 reason 5." },
        { ResponseError::commandFailed(0xD0, 255, 201),
            "ESP32 bootloader command 0xd0 failed with status 255 reason 201." },
    };
    for (const auto& [error, description] : cases) {
        EXPECT_EQ(std::string(error.what()), description);
    }
    EXPECT_FALSE(ResponseError::commandFailed(0x0a, 1, 5) == ResponseError::commandFailed(0x0a, 1, 6));
}

// The values a caller reads off a refusal are those of the response, each in its own field.
TEST(ESPBootloaderResponse, RefusalsCarryTheirValues)
{
    struct Case {
        const char* name;
        Data body;
        std::uint8_t command;
        std::int64_t statusByteCount;
        ResponseError::Kind kind;
        std::int64_t count;
        std::int64_t expected;
        std::int64_t actual;
        std::uint8_t failedCommand;
        std::uint8_t status;
        std::uint8_t reason;
    };
    const Case cases[] = {
        { "one status byte", { 0x00, 0x00 }, 0x0a, 1, ResponseError::Kind::invalidStatusByteCount, 1, 0, 0, 0, 0, 0 },
        { "short body", { 0xAA, 0x00, 0x00 }, 0x0a, 4, ResponseError::Kind::shortStatusPacket, 0, 4, 3, 0, 0, 0 },
        { "failed command", { 0xAA, 0x01, 0x05 }, 0x0a, 2, ResponseError::Kind::commandFailed, 0, 0, 0, 0x0a, 1, 5 },
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        try {
            validateESPBootloaderResponseBody(testCase.body, testCase.command, testCase.statusByteCount);
            ADD_FAILURE() << "no error thrown";
        } catch (const ResponseError& error) {
            EXPECT_EQ(error.kind(), testCase.kind);
            EXPECT_EQ(error.count(), testCase.count);
            EXPECT_EQ(error.expected(), testCase.expected);
            EXPECT_EQ(error.actual(), testCase.actual);
            EXPECT_EQ(error.command(), testCase.failedCommand);
            EXPECT_EQ(error.status(), testCase.status);
            EXPECT_EQ(error.reason(), testCase.reason);
        }
    }
}

} // namespace
} // namespace tavrik
