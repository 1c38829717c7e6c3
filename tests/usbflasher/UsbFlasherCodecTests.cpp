#include "TavrikUSBFlasher/EspImage.hpp"
#include "TavrikUSBFlasher/LineChannel.hpp"
#include "TavrikUSBFlasher/RomPacket.hpp"
#include "TavrikUSBFlasher/Slip.hpp"
#include "TavrikUSBProtocol/Bootloader/ESPBootloaderResponse.hpp"
#include "tests/usbflasher/BoardImages.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace tavrik;

Data bytes(const std::string& text)
{
    return Data(text.begin(), text.end());
}

TEST(UsbFlasherSlip, EscapesFrameBytesAndDecodesThemBack)
{
    const Data packet = { 0x01, 0xC0, 0x02, 0xDB, 0xDC, 0xDD, 0xC0 };
    const Data framed = slipEncode(packet);
    EXPECT_EQ(framed, (Data { 0xC0, 0x01, 0xDB, 0xDC, 0x02, 0xDB, 0xDD, 0xDC, 0xDD, 0xDB, 0xDC, 0xC0 }));

    // Split anywhere, the frame comes out once and whole.
    for (std::size_t split = 0; split <= framed.size(); ++split) {
        SlipDecoder decoder;
        auto frames = decoder.feed(Data(framed.begin(), framed.begin() + static_cast<std::ptrdiff_t>(split)));
        const auto rest = decoder.feed(Data(framed.begin() + static_cast<std::ptrdiff_t>(split), framed.end()));
        frames.insert(frames.end(), rest.begin(), rest.end());
        ASSERT_EQ(frames.size(), 1U) << split;
        EXPECT_EQ(frames[0], packet);
    }
}

TEST(UsbFlasherSlip, ABlockFullOfFrameBytesComesBackWhole)
{
    // Runs of plain bytes between escapes of both kinds, escapes back to back, at both ends.
    Data packet;
    std::uint32_t state = 7;
    for (int index = 0; index < 1040; ++index) {
        state = state * 1664525U + 1013904223U;
        const int pick = static_cast<int>(state >> 28);
        packet.push_back(pick < 3 ? 0xC0 : pick < 6 ? 0xDB : static_cast<std::uint8_t>(state >> 8));
    }
    packet.front() = 0xDB;
    packet.back() = 0xC0;
    const Data framed = slipEncode(packet);
    EXPECT_EQ(std::count(framed.begin(), framed.end(), 0xC0), 2);
    SlipDecoder decoder;
    const auto frames = decoder.feed(framed);
    ASSERT_EQ(frames.size(), 1U);
    EXPECT_EQ(frames[0], packet);
}

TEST(UsbFlasherSlip, SkipsBootTextEmptyFramesAndBrokenEscapes)
{
    SlipDecoder decoder;
    Data stream = bytes("ets Jun  8 2016 00:22:57\r\nwaiting for download\r\n");
    const Data tail = { 0xC0, 0xC0, 0x01, 0x08, 0xC0, // empty frame, then a frame
        'r', 's', 't', 0x0D, 0x0A, // text between frames
        0xC0, 0x05, 0xDB, 0x41, 0xC0, // broken escape: dropped
        0xC0, 0x02, 0xC0 };
    stream.insert(stream.end(), tail.begin(), tail.end());
    EXPECT_FALSE(decoder.sawBytes());
    const auto frames = decoder.feed(stream);
    EXPECT_TRUE(decoder.sawBytes());
    ASSERT_EQ(frames.size(), 2U);
    EXPECT_EQ(frames[0], (Data { 0x01, 0x08 }));
    EXPECT_EQ(frames[1], (Data { 0x02 }));
}

TEST(UsbFlasherRomPacket, BuildsRequestsWithTheDataChecksum)
{
    const Data data = { 0x10, 0x20, 0x30 };
    const std::uint32_t checksum = romDataChecksum(data.data(), data.size());
    EXPECT_EQ(checksum, 0xEFU ^ 0x10U ^ 0x20U ^ 0x30U);
    Data request = makeRomDataHeader(RomOpcode::flashDeflData, data.size(), 7, checksum);
    request.insert(request.end(), data.begin(), data.end());
    EXPECT_EQ(request,
        (Data { 0x00, 0x11, 0x13, 0x00, static_cast<std::uint8_t>(checksum), 0, 0, 0, 3, 0, 0, 0, 7, 0, 0, 0, 0, 0, 0,
            0, 0, 0, 0, 0, 0x10, 0x20, 0x30 }));
}

TEST(UsbFlasherRomPacket, ReadsRealRomRepliesByTheirStatusOffset)
{
    // READ_REG of the chip magic as an ESP32 ROM sends it: four status bytes.
    const auto magic = decodeRomResponse({ 0x01, 0x0A, 0x04, 0x00, 0x83, 0x1D, 0xF0, 0x00, 0x00, 0x00, 0x00, 0x00 });
    ASSERT_TRUE(magic);
    EXPECT_EQ(magic->value, 0x00F01D83U);
    EXPECT_TRUE(romResponsePayload(*magic, 0).empty());

    // A FLASH_DATA the ROM rejected (status 1, reason 7): the failure must not hide behind the
    // reserved zeros that end the body.
    const auto rejected = decodeRomResponse({ 0x01, 0x03, 0x04, 0x00, 0x07, 0x12, 0x20, 0x07, 0x01, 0x07, 0x00, 0x00 });
    ASSERT_TRUE(rejected);
    try {
        romResponsePayload(*rejected, 0);
        FAIL() << "a rejected command passed";
    } catch (const ESPBootloaderResponseValidationError& error) {
        EXPECT_STREQ(error.what(), "ESP32 bootloader command 0x03 failed with status 1 reason 7.");
    }

    // The ROM's MD5: 32 hex digits, then the status.
    Data md5Frame = { 0x01, 0x13, 36, 0x00, 0, 0, 0, 0 };
    const std::string digest = "d41d8cd98f00b204e9800998ecf8427e";
    md5Frame.insert(md5Frame.end(), digest.begin(), digest.end());
    md5Frame.insert(md5Frame.end(), { 0, 0, 0, 0 });
    const auto md5 = decodeRomResponse(md5Frame);
    ASSERT_TRUE(md5);
    EXPECT_EQ(romResponsePayload(*md5, 32), bytes(digest));
}

TEST(UsbFlasherRomPacket, RefusesShortAndForeignFrames)
{
    EXPECT_FALSE(decodeRomResponse({ 0x00, 0x08, 0x00, 0x00, 0, 0, 0, 0 })); // a request echoed back
    EXPECT_FALSE(decodeRomResponse({ 0x01, 0x08, 0x00 })); // shorter than a header

    // A size field that claims more than the frame holds: the body is what arrived.
    const auto cut = decodeRomResponse({ 0x01, 0x0D, 0x04, 0x00, 0, 0, 0, 0, 0x00 });
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->body.size(), 1U);
    try {
        romResponsePayload(*cut, 0);
        FAIL() << "a short packet passed";
    } catch (const ESPBootloaderResponseValidationError& error) {
        EXPECT_EQ(error.kind(), ESPBootloaderResponseValidationError::Kind::shortStatusPacket);
    }
    // Two status bytes (a stub) still read.
    const auto stub = decodeRomResponse({ 0x01, 0x0D, 0x02, 0x00, 0, 0, 0, 0, 0x00, 0x00 });
    ASSERT_TRUE(stub);
    EXPECT_TRUE(romResponsePayload(*stub, 0).empty());
}

TEST(UsbFlasherLineChannel, ReadsOnlyOurMessages)
{
    const auto hello = LineChannel::parseLine("TVK hello {\"role\":\"probe\"}\r");
    ASSERT_TRUE(hello);
    EXPECT_EQ(hello->verb, "hello");
    EXPECT_EQ(hello->body.value("role", ""), "probe");
    // A Latin-1 byte spoils only its own string.
    const auto network = LineChannel::parseLine("TVK network {\"ssid\":\"Caf\xE9\",\"rssi\":-60}");
    ASSERT_TRUE(network);
    EXPECT_EQ(network->body.value("ssid", ""), "Caf\xEF\xBF\xBD");
    EXPECT_EQ(network->body.value("rssi", 0), -60);
    EXPECT_TRUE(LineChannel::parseLine("TVK done"));
    EXPECT_FALSE(LineChannel::parseLine("I (312) boot: TVK hello {}"));
    EXPECT_FALSE(LineChannel::parseLine("TVK hello {broken"));
    EXPECT_FALSE(LineChannel::parseLine("TVK "));
}

TEST(UsbFlasherImages, FactoryImagesMustFitTheModel)
{
    const BoardModel m5 = *boardModelFor("m5stick-c");
    const BoardModel tEmbed = *boardModelFor("t-embed-cc1101");
    EXPECT_FALSE(factoryImageProblem(test::factoryImage(test::ImageChip::esp32, 64 * 1024, 1), m5));
    EXPECT_FALSE(factoryImageProblem(test::factoryImage(test::ImageChip::esp32s3, 64 * 1024, 1), tEmbed));

    struct Case {
        const char* name;
        Data image;
        const BoardModel& model;
        const char* expected;
    };
    Data bare = test::factoryImage(test::ImageChip::esp32, 64 * 1024, 1);
    bare.erase(bare.begin(), bare.begin() + 0x1000); // a bare bootloader: header at 0 on an ESP32
    Data noHeader(64 * 1024, 0xFF);
    Data tooBig = test::factoryImage(test::ImageChip::esp32, 64 * 1024, 1);
    tooBig.resize(m5.flashSize + 1, 0xFF);
    Data bigFlash = test::factoryImage(test::ImageChip::esp32, 64 * 1024, 1);
    bigFlash[0x1003] = 0x40; // 16 MB flash declared on an 8 MB board
    const Case cases[] = {
        { "other chip", test::factoryImage(test::ImageChip::esp32s3, 4096, 1), m5, "built for ESP32-S3" },
        { "bootloader at 0 on ESP32", bare, m5, "not where the chip starts" },
        { "no header", noHeader, tEmbed, "not a factory image" },
        { "empty", Data {}, m5, "empty" },
        { "larger than flash", tooBig, m5, "larger than the flash" },
        { "declares more flash", bigFlash, m5, "expects more flash" },
    };
    for (const Case& item : cases) {
        const auto problem = factoryImageProblem(item.image, item.model);
        ASSERT_TRUE(problem) << item.name;
        EXPECT_NE(problem->find(item.expected), std::string::npos) << item.name << ": " << *problem;
    }
}

TEST(UsbFlasherImages, ReadsTheSegmentsOfARamImage)
{
    const Data bytes = test::probeImage(test::ImageChip::esp32);
    const EspAppImage image = parseEspAppImage(bytes, 0, true);
    EXPECT_EQ(image.chipId, 0);
    EXPECT_EQ(image.entry, 0x40080400U);
    ASSERT_EQ(image.segments.size(), 1U);
    EXPECT_EQ(image.segments[0].loadAddress, 0x40080400U);
    EXPECT_EQ(image.segments[0].data.size(), 0x2400U);

    Data truncated = bytes;
    truncated.resize(bytes.size() - 1);
    EXPECT_THROW(parseEspAppImage(truncated, 0, true), std::runtime_error);
}

} // namespace
