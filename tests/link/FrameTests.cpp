#include "TavrikCore/Link/BleDataFrame.hpp"
#include "TavrikCore/Link/Crc8.hpp"
#include "tests/link/ChannelTestSupport.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace tavrik::test {
namespace {

std::uint8_t bitwiseCrc8(std::span<const std::uint8_t> bytes)
{
    std::uint8_t crc = 0;
    for (std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1U) != 0 ? static_cast<std::uint8_t>((crc >> 1) ^ 0x8CU) : static_cast<std::uint8_t>(crc >> 1);
        }
    }
    return crc;
}

TEST(Crc8, KnownValues)
{
    struct Case {
        std::string bytes;
        std::uint8_t crc;
    };
    const Case cases[] = {
        { "", 0x00 },
        { "123456789", 0xA1 }, // the algorithm's standard check value
        { std::string("\x01\x00\x01\x00\x00\x00\x01\x00\x03\x00"
                      "abc",
              13),
            0x43 },
    };
    for (const Case& item : cases) {
        EXPECT_EQ(crc8(asBytes(item.bytes)), item.crc) << item.bytes;
    }
}

TEST(Crc8, MatchesBitwiseDefinitionAtEveryLengthAndWhenContinued)
{
    Data bytes;
    std::uint32_t state = 12345;
    for (int i = 0; i < 300; ++i) {
        state = state * 1103515245U + 12345U;
        bytes.push_back(static_cast<std::uint8_t>(state >> 16));
    }
    for (std::size_t length = 0; length <= bytes.size(); ++length) {
        const std::span<const std::uint8_t> prefix(bytes.data(), length);
        ASSERT_EQ(crc8(prefix), bitwiseCrc8(prefix)) << "length " << length;
        const std::size_t split = length / 3;
        ASSERT_EQ(crc8(prefix.subspan(split), crc8(prefix.first(split))), bitwiseCrc8(prefix)) << "length " << length;
    }
}

TEST(Frame, AbcAsPlainMessageOneHasTheseBytes)
{
    const Data expected { 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x03, 0x00, 0x61, 0x62, 0x63, 0x43 };
    const Data frame = makeFrame(0, 1, 0, 1, asBytes("abc"));
    EXPECT_EQ(frame, expected);
    EXPECT_EQ(frame.capacity(), frame.size());
}

TEST(Frame, MultiByteFieldsAreLittleEndian)
{
    const Data frame = makeFrame(2, 0x1234, 0x0102, 0xA0B0, asBytes("xy"));
    ASSERT_EQ(frame.size(), 13U);
    EXPECT_EQ(
        Data(frame.begin(), frame.begin() + 10), (Data { 0x01, 0x02, 0x34, 0x12, 0x02, 0x01, 0xB0, 0xA0, 0x02, 0x00 }));

    const std::optional<FrameHeader> header = parseHeader(frame);
    ASSERT_TRUE(header);
    EXPECT_EQ(*header,
        (FrameHeader {
            .version = 1, .flags = 2, .messageId = 0x1234, .chunkIndex = 0x0102, .chunkCount = 0xA0B0, .payloadLength = 2 }));
}

TEST(Frame, HeaderNeedsElevenBytes)
{
    const Data frame = makeFrame(0, 1, 0, 1, {});
    ASSERT_EQ(frame.size(), 11U);
    EXPECT_TRUE(parseHeader(frame));
    EXPECT_FALSE(parseHeader(std::span(frame).first(10)));
    EXPECT_FALSE(parseHeader({}));
}

} // namespace
} // namespace tavrik::test
