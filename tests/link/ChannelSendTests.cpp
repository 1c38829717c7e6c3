#include "tests/link/ChannelTestSupport.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace tavrik::test {
namespace {

using Direction = BleDataMessageLogDetail::Direction;

std::vector<std::size_t> payloadLengths(const InMemoryBleTransport& link)
{
    std::vector<std::size_t> lengths;
    for (const Data& frame : link.frames()) {
        lengths.push_back(parseHeader(frame)->payloadLength);
    }
    return lengths;
}

using ChannelMessageIds = ChannelTest;

TEST_F(ChannelMessageIds, CountFromOneAcrossConnectionsAndWrapPast65535ToOne)
{
    EXPECT_TRUE(channel.sendBinaryPayload(asBytes("a"), "first"));
    channel.configure(link);
    EXPECT_TRUE(channel.sendBinaryPayload(asBytes("b"), "after reconnect"));

    // Refused sends use their id up too; a write length below 12 refuses cheaply.
    link->setMaximumWriteLength(11);
    for (int id = 3; id <= 65534; ++id) {
        ASSERT_FALSE(channel.sendBinaryPayload(asBytes("x"), "refused"));
    }
    link->setMaximumWriteLength(244);
    EXPECT_TRUE(channel.sendBinaryPayload(asBytes("c"), "last id"));
    EXPECT_TRUE(channel.sendBinaryPayload(asBytes("d"), "wrapped"));

    std::vector<std::uint16_t> ids;
    for (const auto& message : link->sentMessages()) {
        ids.push_back(message.messageId);
    }
    EXPECT_EQ(ids, (std::vector<std::uint16_t> { 1, 2, 65535, 1 }));
}

using ChannelChunking = ChannelTest;

TEST_F(ChannelChunking, CutsPayloadsByTheWriteLength)
{
    struct Case {
        int writeLength;
        std::size_t payload;
        std::vector<std::size_t> chunks;
    };
    const Case cases[] = {
        { 20, 25, { 9, 9, 7 } },
        { 20, 9, { 9 } },
        { 20, 18, { 9, 9 } },
        { 12, 3, { 1, 1, 1 } },
        { 244, 500, { 233, 233, 34 } },
        { 70000, 70000, { 65535, 4465 } },
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(testing::Message() << "write length " << item.writeLength << ", payload " << item.payload);
        link->clearWrites();
        link->setMaximumWriteLength(item.writeLength);
        const Data payload(item.payload, 0x5A);
        ASSERT_TRUE(channel.sendBinaryPayload(payload, "chunks"));

        EXPECT_EQ(payloadLengths(*link), item.chunks);
        for (const Data& frame : link->frames()) {
            const FrameHeader header = *parseHeader(frame);
            EXPECT_EQ(frame.size(), header.payloadLength + 11U);
            EXPECT_LE(frame.size(), static_cast<std::size_t>(item.writeLength));
            EXPECT_EQ(header.chunkCount, item.chunks.size());
        }
        ASSERT_EQ(link->sentMessages().size(), 1U);
        EXPECT_EQ(link->sentMessages()[0].payload, payload);
    }
}

TEST_F(ChannelChunking, FramesOfTheFirstCommandAreExact)
{
    link->setMaximumWriteLength(20);
    ASSERT_TRUE(channel.sendCommand("routine", "start id=12"));
    link->completeAllWrites();
    // "routine:start id=12" is 19 bytes: chunks of 9, 9 and 1.
    EXPECT_EQ(link->frames(),
        (std::vector<Data> {
            makeFrame(0, 1, 0, 3, asBytes("routine:s")),
            makeFrame(0, 1, 1, 3, asBytes("tart id=1")),
            makeFrame(0, 1, 2, 3, asBytes("2")),
        }));
}

TEST_F(ChannelChunking, PayloadLimits)
{
    struct Case {
        const char* name;
        int writeLength;
        std::size_t payload;
        bool accepted;
    };
    const Case cases[] = {
        { "empty", 244, 0, false },
        { "exactly 1 MiB", 244, 1048576, true },
        { "one byte over 1 MiB", 244, 1048577, false },
        { "65535 chunks", 12, 65535, true },
        { "65536 chunks", 12, 65536, false },
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        link->clearWrites();
        lines.clear();
        link->setMaximumWriteLength(item.writeLength);
        EXPECT_EQ(channel.sendBinaryPayload(Data(item.payload, 1), item.name), item.accepted);
        if (item.accepted) {
            EXPECT_EQ(link->sentMessages().at(0).payload.size(), item.payload);
        } else {
            EXPECT_TRUE(link->writes.empty());
            EXPECT_EQ(lines, (std::vector<std::string> { "[ble:data] payload exceeds frame limits" }));
        }
    }
}

TEST_F(ChannelChunking, WriteLengthBelowTwelveRefusesSilently)
{
    link->setMaximumWriteLength(11);
    EXPECT_FALSE(channel.sendCommand("tag", "scan"));
    EXPECT_TRUE(lines.empty());
    EXPECT_TRUE(link->writes.empty());
}

using ChannelWriteQueue = ChannelTest;

TEST_F(ChannelWriteQueue, KeepsOneWriteWithResponseOutstanding)
{
    link->setMaximumWriteLength(20);
    ASSERT_TRUE(channel.sendCommand("tag", "update id=1 name=\"Kitchen\"")); // 30 bytes: 4 frames
    ASSERT_TRUE(channel.sendCommand("tag", "scan"));
    EXPECT_EQ(link->writes.size(), 1U);

    EXPECT_EQ(link->completeAllWrites(), 5);
    EXPECT_EQ(link->largestOutstandingWritesWithResponse(), 1);
    ASSERT_EQ(link->sentMessages().size(), 2U);
    EXPECT_EQ(link->sentMessages()[0].text(), "tag:update id=1 name=\"Kitchen\"");
    EXPECT_EQ(link->sentMessages()[1].text(), "tag:scan");
    for (const auto& write : link->writes) {
        EXPECT_EQ(write.type, BleWriteType::withResponse);
    }
}

TEST_F(ChannelWriteQueue, BinaryPayloadsGoWithoutResponseWhileTheLinkCanTakeThem)
{
    link->setMaximumWriteLength(20);
    link->canSendWithoutResponse = false;
    ASSERT_TRUE(channel.sendBinaryPayload(Data(30, 7), "image"));
    EXPECT_TRUE(link->writes.empty());

    link->becomeReadyToSend();
    ASSERT_EQ(link->writes.size(), 4U);
    for (const auto& write : link->writes) {
        EXPECT_EQ(write.type, BleWriteType::withoutResponse);
    }
    EXPECT_EQ(link->outstandingWritesWithResponse(), 0);
}

TEST_F(ChannelWriteQueue, BinaryPayloadsGoWithResponseWhenTheLinkCannotWriteWithoutResponse)
{
    link->supportsWithoutResponse = false;
    link->maximumWithoutResponse = 11; // must not be asked for
    ASSERT_TRUE(channel.sendBinaryPayload(asBytes("abc"), "image"));
    ASSERT_EQ(link->writes.size(), 1U);
    EXPECT_EQ(link->writes[0].type, BleWriteType::withResponse);
    EXPECT_EQ(parseHeader(link->writes[0].data)->flags, 1);
}

TEST_F(ChannelWriteQueue, WritesLeaveInQueueOrderWhateverTheirType)
{
    ASSERT_TRUE(channel.sendCommand("system", "ping"));
    ASSERT_TRUE(channel.sendBinaryPayload(asBytes("raw"), "raw"));
    ASSERT_TRUE(channel.sendCommand("system", "pong"));
    EXPECT_EQ(link->writes.size(), 1U); // the binary frame waits behind the write in flight

    link->completeWriteWithResponse();
    ASSERT_EQ(link->writes.size(), 3U);
    EXPECT_EQ(link->writes[1].type, BleWriteType::withoutResponse);
    EXPECT_EQ(link->writes[2].type, BleWriteType::withResponse);
    EXPECT_EQ(link->sentMessages()[2].text(), "system:pong");
}

TEST_F(ChannelWriteQueue, ConfigureStartsWithAnEmptyQueue)
{
    ASSERT_TRUE(channel.sendCommand("system", "one"));
    ASSERT_TRUE(channel.sendCommand("system", "two"));
    auto next = std::make_shared<InMemoryBleTransport>();
    next->bind(&channel);
    channel.configure(next);
    EXPECT_TRUE(next->writes.empty());

    // Nothing is awaited on the new link, so the next message goes out at once.
    ASSERT_TRUE(channel.sendCommand("system", "three"));
    ASSERT_EQ(next->sentMessages().size(), 1U);
    EXPECT_EQ(next->sentMessages()[0].text(), "system:three");
    EXPECT_EQ(next->sentMessages()[0].messageId, 3);
    EXPECT_EQ(link->writes.size(), 1U);
}

using ChannelRefusals = ChannelTest;

TEST_F(ChannelRefusals, EachRefusalLogsItsText)
{
    struct Case {
        const char* name;
        std::function<bool(BleDataChannel&)> send;
        const char* line;
    };
    Json notANumber = Json::object();
    notANumber["value"] = std::nan("");
    const Case cases[] = {
        { "command that is not UTF-8", [](BleDataChannel& c) { return c.sendCommand("tag", "name=\"\xC3\x28\""); },
            "[ble:data] invalid command encoding" },
        { "NaN", [&](BleDataChannel& c) { return c.sendEncodable(notANumber); }, "[ble:data] invalid JSON encoding" },
        { "infinity",
            [](BleDataChannel& c) {
                return c.sendEncodable(Json::array({ 1, std::numeric_limits<double>::infinity() }));
            },
            "[ble:data] invalid JSON encoding" },
        { "string that is not UTF-8",
            [](BleDataChannel& c) {
                return c.sendEncodable(Json { { "name", "\xFF" } });
            },
            "[ble:data] invalid JSON encoding" },
        { "empty binary payload", [](BleDataChannel& c) { return c.sendBinaryPayload({}, "nothing"); },
            "[ble:data] payload exceeds frame limits" },
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        lines.clear();
        EXPECT_FALSE(item.send(channel));
        EXPECT_EQ(lines, (std::vector<std::string> { item.line }));
    }
    EXPECT_TRUE(link->writes.empty());

    // Encoding failures are found before an id is taken; the limit refusal used id 1.
    ASSERT_TRUE(channel.sendCommand("system", "ping"));
    EXPECT_EQ(link->sentMessages().at(0).messageId, 2);
}

TEST_F(ChannelRefusals, WithoutALinkEverySendIsSkipped)
{
    channel.configure(nullptr);
    EXPECT_FALSE(channel.sendCommand("system", "ping"));
    EXPECT_FALSE(channel.sendEncodable(Json { { "type", "x" } }));
    EXPECT_FALSE(channel.sendBinaryPayload(asBytes("abc"), "raw"));
    EXPECT_EQ(lines, std::vector<std::string>(3, "[ble:data] send skipped (no peripheral)"));

    // Inbound frames are still taken while detached.
    feed(plainFrame(9, 0, 1, "hello"));
    EXPECT_EQ(delivered, (std::vector<std::pair<std::uint16_t, std::string>> { { 9, "hello" } }));

    // A skipped send takes no id.
    channel.configure(link);
    ASSERT_TRUE(channel.sendCommand("system", "ping"));
    EXPECT_EQ(link->sentMessages().at(0).messageId, 1);
}

using ChannelPayloads = ChannelTest;

TEST_F(ChannelPayloads, CommandIsChannelColonTrimmedCommand)
{
    ASSERT_TRUE(channel.sendCommand("tag", " \t\xC2\xA0update id=3 name=\" a \"\r\n\xE2\x80\xA8"));
    ASSERT_TRUE(channel.sendCommand("clock", "set 12"));
    link->completeAllWrites();
    ASSERT_EQ(link->sentMessages().size(), 2U);
    EXPECT_EQ(link->sentMessages()[0].text(), "tag:update id=3 name=\" a \"");
    EXPECT_EQ(link->sentMessages()[0].flags, 0);
    EXPECT_EQ(link->sentMessages()[1].text(), "clock:set 12");
}

TEST_F(ChannelPayloads, EncodableIsCompactJsonInDeclarationOrder)
{
    ASSERT_TRUE(channel.sendEncodable(channel.deliveryOffer()));
    Json request = Json::object();
    request["type"] = "wifi_scan";
    request["requestId"] = "A/B";
    ASSERT_TRUE(channel.sendEncodable(request));
    link->completeAllWrites();
    ASSERT_EQ(link->sentMessages().size(), 2U);
    EXPECT_EQ(link->sentMessages()[0].text(), R"({"version":1,"session":100,"window":4})");
    EXPECT_EQ(link->sentMessages()[1].text(), R"({"type":"wifi_scan","requestId":"A/B"})");
}

TEST(ChannelSession, DrawnFromOneToUInt32MaxAtConstructionAndEveryConfigure)
{
    SequenceRandomSource random { { 4294967294U, 4294967295U, 0 } };
    BleDataChannel channel { nullptr, random };
    EXPECT_EQ(channel.reliableSession(), 4294967295U);
    channel.configure(nullptr);
    EXPECT_EQ(channel.reliableSession(), 1U); // a draw that would give 0 wraps into range
    channel.configure(std::make_shared<InMemoryBleTransport>());
    EXPECT_EQ(channel.reliableSession(), 1U);
    EXPECT_EQ(channel.deliveryOffer(), (ReliableDeliveryOffer { .version = 1, .session = 1, .window = 4 }));
}

TEST(ChannelSession, UsesTheProcessDefaultSourceWhenNoneIsGiven)
{
    SequenceRandomSource random { { 122 } };
    ScopedDefaultRandomSource scoped(random);
    BleDataChannel channel { nullptr };
    EXPECT_EQ(channel.reliableSession(), 123U);
}

using ChannelOutboundLog = ChannelTest;

TEST_F(ChannelOutboundLog, WritesOneLinePerMessage)
{
    link->setMaximumWriteLength(20);
    ASSERT_TRUE(channel.sendBinaryPayload(Data(25, 0), "image"));
    EXPECT_EQ(lines, (std::vector<std::string> { "[ble:data] -> msg=1 chunks=3 (25 bytes)" }));
}

TEST_F(ChannelOutboundLog, RecordsReplaceTheLinesWhenRequested)
{
    std::vector<BleDataMessageLogDetail> details;
    channel.onMessageLog = [&](const BleDataMessageLogDetail& detail) { details.push_back(detail); };
    link->setMaximumWriteLength(20);
    ASSERT_TRUE(channel.sendBinaryPayload(Data(25, 0), "image"));
    ASSERT_TRUE(channel.sendCommand("system", "ping"));

    EXPECT_TRUE(lines.empty());
    ASSERT_EQ(details.size(), 2U);
    EXPECT_EQ(details[0],
        (BleDataMessageLogDetail {
            .direction = Direction::outbound,
            .messageId = 1,
            .flags = 1,
            .writeType = "withoutResponse",
            .byteCount = 25,
            .receivedChunkCount = 3,
            .isComplete = true,
            .chunks = { { 1, 3, 9 }, { 2, 3, 9 }, { 3, 3, 7 } },
        }));
    EXPECT_EQ(details[1].writeType, "withResponse");
    EXPECT_EQ(details[1].flags, 0);
    EXPECT_EQ(rawValue(details[1].direction), "outbound");
}

} // namespace
} // namespace tavrik::test
