#include "TavrikUSBProtocol/Bootloader/ESPFirmwareCompression.hpp"

#include <gtest/gtest.h>
#include <zlib.h>

#include <functional>
#include <string>

namespace tavrik {
namespace {

Data inflated(const Data& stream, std::size_t originalSize)
{
    Data output(originalSize);
    uLongf outputLength = static_cast<uLongf>(output.size());
    const int result = uncompress(output.data(), &outputLength, stream.data(), static_cast<uLong>(stream.size()));
    EXPECT_EQ(result, Z_OK);
    output.resize(outputLength);
    return output;
}

// Something like a firmware image: stretches of code-like noise between runs of erased flash.
Data imageLike(std::size_t size)
{
    Data image(size);
    std::uint32_t state = 0x12345678;
    for (std::size_t index = 0; index < size; ++index) {
        state = state * 1664525u + 1013904223u;
        image[index] = (index / 4096) % 3 == 2 ? 0xFF : static_cast<std::uint8_t>(state >> 24);
    }
    return image;
}

TEST(ESPFirmwareCompression, ZlibReadsBackExactlyTheInput)
{
    const std::string greeting = "Tavrik firmware image";
    struct Case {
        const char* name;
        Data input;
    };
    const Case cases[] = {
        { "one byte", { 0x00 } },
        { "small", Data(greeting.begin(), greeting.end()) },
        { "1 MiB", imageLike(1024 * 1024) },
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        const Data stream = zlibCompressedData(testCase.input);
        ASSERT_GE(stream.size(), 2u);
        // A zlib header that declares the strongest compression level.
        EXPECT_EQ(stream[0], 0x78);
        EXPECT_EQ(stream[1], 0xDA);
        EXPECT_EQ(inflated(stream, testCase.input.size()), testCase.input);
    }
}

TEST(ESPFirmwareCompression, AnEmptyImageGivesNothing)
{
    EXPECT_TRUE(zlibCompressedData({}).empty());
}

TEST(ESPFirmwareCompression, CompressesRepetitiveImages)
{
    const Data erased(1024 * 1024, 0xFF);
    EXPECT_LT(zlibCompressedData(erased).size(), erased.size() / 100);
}

TEST(ESPFirmwareCompression, ErrorDescriptionAndIdentity)
{
    const auto error = ESPFirmwareCompressionError::encodingFailed();
    EXPECT_EQ(std::string(error.what()), "Failed to compress the firmware image for ESP32 transfer.");
    EXPECT_EQ(error, ESPFirmwareCompressionError::encodingFailed());
    EXPECT_EQ(std::hash<ESPFirmwareCompressionError>()(error),
        std::hash<ESPFirmwareCompressionError>()(ESPFirmwareCompressionError::encodingFailed()));
}

} // namespace
} // namespace tavrik
