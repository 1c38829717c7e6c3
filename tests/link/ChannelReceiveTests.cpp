#include "TavrikCore/Link/Crc8.hpp"
#include "tests/link/ChannelTestSupport.hpp"

#include <gtest/gtest.h>

#include <string>

namespace tavrik::test {
namespace {

using Direction = BleDataMessageLogDetail::Direction;
using Delivered = std::vector<std::pair<std::uint16_t, std::string>>;

constexpr std::uint32_t session = 100; // the fixture's session after its configure

Data withByte(Data frame, std::size_t offset, std::uint8_t value)
{
    frame.at(offset) = value;
    return frame;
}

// Rewrites a header field and fixes the CRC so that only the field itself is wrong.
Data resealed(Data frame, std::size_t offset, std::uint8_t value)
{
    frame.at(offset) = value;
    frame.back() = crc8(std::span(frame).first(frame.size() - 1));
    return frame;
}

using ChannelInboundValidation = ChannelTest;

TEST_F(ChannelInboundValidation, DropsBrokenFramesWithTheirLogText)
{
    const Data good = plainFrame(7, 0, 1, "abc");
    Data longer = good;
    longer.push_back(0);
    Data shorter = good;
    shorter.erase(shorter.begin() + 11);
    struct Case {
        const char* name;
        Data frame;
        const char* line;
    };
    const Case cases[] = {
        { "empty", {}, "[ble:data] invalid frame" },
        { "ten bytes", Data(good.begin(), good.begin() + 10), "[ble:data] invalid frame" },
        { "version 2", resealed(good, 0, 2), "[ble:data] invalid frame" },
        { "flags 1 (binary, outbound only)", resealed(good, 1, 1), "[ble:data] invalid frame" },
        { "flags 3", resealed(good, 1, 3), "[ble:data] invalid frame" },
        { "chunk count 0", resealed(resealed(good, 6, 0), 7, 0), "[ble:data] invalid frame" },
        { "index equal to count", plainFrame(7, 1, 1, "abc"), "[ble:data] invalid frame" },
        { "one byte too many", longer, "[ble:data] invalid frame length" },
        { "one byte too few", shorter, "[ble:data] invalid frame length" },
        { "payload byte flipped", withByte(good, 11, 'B'), "[ble:data] crc mismatch for message 7" },
        { "CRC byte flipped", withByte(good, 13, static_cast<std::uint8_t>(good[13] ^ 1U)),
            "[ble:data] crc mismatch for message 7" },
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        lines.clear();
        feed(item.frame);
        EXPECT_EQ(lines, (std::vector<std::string> { item.line }));
    }
    EXPECT_TRUE(delivered.empty());

    feed(good);
    EXPECT_EQ(delivered, (Delivered { { 7, "abc" } }));
}

TEST_F(ChannelInboundValidation, TheDocumentedAbcFrameDelivers)
{
    feed(Data { 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x03, 0x00, 0x61, 0x62, 0x63, 0x43 });
    EXPECT_EQ(delivered, (Delivered { { 1, "abc" } }));
    EXPECT_EQ(lines, (std::vector<std::string> { "[ble:data] <- msg=1 chunks=1/1 (3 bytes)" }));
}

using ChannelReassembly = ChannelTest;

TEST_F(ChannelReassembly, ChunksInAnyOrderDeliverOnceInIndexOrder)
{
    struct Case {
        const char* name;
        std::vector<int> order;
    };
    const std::string parts[] = { "alpha-", "beta-", "gamma-", "delta" };
    const Case cases[] = {
        { "in order", { 0, 1, 2, 3 } },
        { "reversed", { 3, 2, 1, 0 } },
        { "shuffled with duplicates", { 2, 2, 0, 3, 0, 1 } },
    };
    std::uint16_t id = 20;
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        delivered.clear();
        ++id;
        for (int index : item.order) {
            feed(plainFrame(id, static_cast<std::uint16_t>(index), 4, parts[index]));
        }
        EXPECT_EQ(delivered, (Delivered { { id, "alpha-beta-gamma-delta" } }));
    }
    EXPECT_TRUE(link->writes.empty()); // plain messages are never acknowledged
}

TEST_F(ChannelReassembly, DuplicateBeforeCompletionChangesNothingCopyAfterDeliveryStartsOver)
{
    feed(plainFrame(5, 1, 2, "world"));
    feed(plainFrame(5, 1, 2, "WORLD"));
    feed(plainFrame(5, 0, 2, "hello "));
    EXPECT_EQ(delivered, (Delivered { { 5, "hello world" } }));

    // Plain messages are not remembered once complete: a late copy opens a new message under that id.
    feed(plainFrame(5, 1, 2, "again"));
    EXPECT_EQ(delivered.size(), 1U);
    feed(plainFrame(5, 0, 2, "once "));
    EXPECT_EQ(delivered.back(), (std::pair<std::uint16_t, std::string> { 5, "once again" }));
}

TEST_F(ChannelReassembly, FramesThatDisagreeWithTheirMessageAreDropped)
{
    feed(plainFrame(3, 0, 3, "a"));
    lines.clear();
    feed(plainFrame(3, 1, 4, "b")); // another chunk count
    feed(reliableFrame(session, 3, 1, 3, "b")); // reliable under a plain message's id
    EXPECT_TRUE(lines.empty());

    feed(plainFrame(3, 1, 3, "b"));
    feed(plainFrame(3, 2, 3, "c"));
    EXPECT_EQ(delivered, (Delivered { { 3, "abc" } }));
}

TEST_F(ChannelReassembly, AtMostSixteenMessagesArePending)
{
    for (std::uint16_t id = 1; id <= 16; ++id) {
        feed(plainFrame(id, 0, 2, "x"));
    }
    lines.clear();
    feed(plainFrame(17, 0, 2, "new "));
    feed(plainFrame(17, 1, 2, "message"));
    feed(plainFrame(18, 0, 1, "single"));
    EXPECT_TRUE(delivered.empty());
    EXPECT_TRUE(lines.empty());

    // A chunk of an already pending message still counts.
    feed(plainFrame(16, 1, 2, "y"));
    EXPECT_EQ(delivered, (Delivered { { 16, "xy" } }));
    feed(plainFrame(18, 0, 1, "single"));
    EXPECT_EQ(delivered.back().second, "single");

    channel.configure(link);
    for (std::uint16_t id = 30; id < 46; ++id) {
        feed(plainFrame(id, 0, 1, "after configure"));
    }
    EXPECT_EQ(delivered.size(), 18U);
}

TEST_F(ChannelReassembly, MessagesAreLimitedToOneMebibyte)
{
    const std::string full(65535, 'm');
    for (std::uint16_t index = 0; index < 16; ++index) {
        feed(plainFrame(9, index, 17, full));
    }
    feed(plainFrame(9, 16, 17, full)); // 16 * 65535 + 65535 > 1 MiB
    EXPECT_TRUE(delivered.empty());

    feed(plainFrame(9, 16, 17, std::string(16, 'm'))); // exactly 1 MiB
    ASSERT_EQ(delivered.size(), 1U);
    EXPECT_EQ(delivered[0].second.size(), 1048576U);
}

TEST_F(ChannelReassembly, EmptyChunksCountAsReceived)
{
    feed(plainFrame(4, 1, 3, ""));
    feed(plainFrame(4, 0, 3, "a"));
    feed(plainFrame(4, 2, 3, "b"));
    EXPECT_EQ(delivered, (Delivered { { 4, "ab" } }));
}

using ChannelReliableDelivery = ChannelTest;

TEST_F(ChannelReliableDelivery, AcknowledgesAtBlocksOfFourGapsDuplicatesAndCompletion)
{
    captureAcknowledgements();
    struct Arrival {
        int index;
        std::optional<std::uint16_t> next; // the acknowledgement it causes
    };
    struct Case {
        const char* name;
        int count;
        std::vector<Arrival> arrivals;
    };
    const Case cases[] = {
        { "ten in order", 10,
            { { 0, {} }, { 1, {} }, { 2, {} }, { 3, 4 }, { 4, {} }, { 5, {} }, { 6, {} }, { 7, 8 }, { 8, {} },
                { 9, 10 } } },
        { "gap filled", 3, { { 0, {} }, { 2, 1 }, { 1, 3 } } },
        { "first chunk missing", 2, { { 1, 0 }, { 0, 2 } } },
        { "duplicates repeat the position", 6,
            { { 0, {} }, { 0, 1 }, { 2, 1 }, { 2, 1 }, { 1, {} }, { 3, 4 }, { 5, 4 }, { 4, 6 } } },
        { "single chunk", 1, { { 0, 1 } } },
    };
    std::uint16_t id = 100;
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        ++id;
        delivered.clear();
        std::string expected;
        for (const Arrival& arrival : item.arrivals) {
            SCOPED_TRACE(testing::Message() << "chunk " << arrival.index);
            acks.clear();
            const std::string part(1, static_cast<char>('a' + arrival.index));
            feed(reliableFrame(
                session, id, static_cast<std::uint16_t>(arrival.index), static_cast<std::uint16_t>(item.count), part));
            if (arrival.next) {
                EXPECT_EQ(acks, (std::vector { ackOf(session, id, *arrival.next) }));
            } else {
                EXPECT_TRUE(acks.empty());
            }
        }
        for (int index = 0; index < item.count; ++index) {
            expected.push_back(static_cast<char>('a' + index));
        }
        EXPECT_EQ(delivered, (Delivered { { id, expected } }));
    }
    EXPECT_TRUE(link->writes.empty()); // the sink took every acknowledgement
}

TEST_F(ChannelReliableDelivery, CompletedMessageIsAcknowledgedAgainButNeverDeliveredTwice)
{
    captureAcknowledgements();
    feed(reliableFrame(session, 60, 0, 2, "he"));
    feed(reliableFrame(session, 60, 1, 2, "llo"));
    ASSERT_EQ(delivered.size(), 1U);
    acks.clear();
    lines.clear();

    feed(reliableFrame(session, 60, 0, 2, "he"));
    EXPECT_EQ(acks, (std::vector { ackOf(session, 60, 2) }));
    feed(reliableFrame(session, 60, 0, 3, "he")); // same id, another count: dropped silently
    EXPECT_EQ(acks.size(), 1U);
    EXPECT_EQ(delivered.size(), 1U);
    EXPECT_TRUE(lines.empty());
}

TEST_F(ChannelReliableDelivery, RemembersTheSixteenNewestCompletedMessages)
{
    captureAcknowledgements();
    for (std::uint16_t id = 1; id <= 17; ++id) {
        feed(reliableFrame(session, id, 0, 1, "m"));
    }
    ASSERT_EQ(delivered.size(), 17U);
    acks.clear();

    feed(reliableFrame(session, 2, 0, 1, "m")); // still remembered
    EXPECT_EQ(delivered.size(), 17U);
    feed(reliableFrame(session, 1, 0, 1, "m")); // forgotten: delivered as a new message
    EXPECT_EQ(delivered.size(), 18U);
    EXPECT_EQ(acks, (std::vector { ackOf(session, 2, 1), ackOf(session, 1, 1) }));

    channel.configure(link); // a new connection forgets them all, and takes a new session number
    EXPECT_EQ(channel.reliableSession(), 7U);
    feed(reliableFrame(7, 2, 0, 1, "m"));
    EXPECT_EQ(delivered.size(), 19U);
}

TEST_F(ChannelReliableDelivery, ForeignSessionAndShortPayloadsAreDroppedSilently)
{
    captureAcknowledgements();
    Data fourBytes = makeFrame(2, 8, 0, 1, Data { 100, 0, 0, 0 });
    const Data cases[] = {
        reliableFrame(session + 1, 8, 0, 1, "x"),
        reliableFrame(42, 8, 0, 1, "x"), // the session before configure
        fourBytes,
        makeFrame(2, 8, 0, 1, {}),
    };
    for (const Data& frame : cases) {
        feed(frame);
    }
    EXPECT_TRUE(lines.empty());
    EXPECT_TRUE(acks.empty());
    EXPECT_TRUE(delivered.empty());

    feed(reliableFrame(session, 8, 0, 1, "x"));
    EXPECT_EQ(delivered, (Delivered { { 8, "x" } }));
}

TEST_F(ChannelReliableDelivery, AcknowledgementTravelsAsAFramedMessageWithResponse)
{
    feed(reliableFrame(session, 513, 0, 1, "ok"));
    ASSERT_EQ(link->writes.size(), 1U);
    EXPECT_EQ(link->writes[0].type, BleWriteType::withResponse);
    const auto sent = link->sentMessages();
    EXPECT_EQ(sent[0].messageId, 1);
    EXPECT_EQ(sent[0].flags, 0);
    EXPECT_EQ(sent[0].text(), R"({"type":"ble_ack","session":100,"messageId":513,"nextChunk":1})");
    EXPECT_EQ(sent[0].text(), dumpJson(toJson(ackOf(100, 513, 1))));
}

TEST_F(ChannelReliableDelivery, NewerAcknowledgementReplacesAQueuedOneForTheSameMessage)
{
    ASSERT_TRUE(channel.sendCommand("system", "busy")); // keeps the link busy
    for (std::uint16_t index = 0; index < 8; ++index) {
        feed(reliableFrame(session, 7, index, 8, "c")); // acknowledged after chunks 3 and 7
    }
    feed(reliableFrame(session, 8, 0, 1, "d"));

    link->completeAllWrites();
    std::vector<std::string> texts;
    for (const auto& message : link->sentMessages()) {
        texts.push_back(message.text());
    }
    EXPECT_EQ(texts,
        (std::vector<std::string> {
            "system:busy",
            R"({"type":"ble_ack","session":100,"messageId":7,"nextChunk":8})",
            R"({"type":"ble_ack","session":100,"messageId":8,"nextChunk":1})",
        }));
}

TEST_F(ChannelReliableDelivery, AcknowledgementInFlightIsNotTakenBack)
{
    const int order[] = { 0, 2, 1, 3, 4, 5, 6, 7 };
    for (int index : order) {
        // Chunk 2 is acknowledged ahead of the gap and goes out at once; the one after chunk 3 waits behind
        // it until the one at completion replaces it.
        feed(reliableFrame(session, 7, static_cast<std::uint16_t>(index), 8, "c"));
    }
    link->completeAllWrites();
    std::vector<std::string> texts;
    for (const auto& message : link->sentMessages()) {
        texts.push_back(message.text());
    }
    EXPECT_EQ(texts,
        (std::vector<std::string> {
            R"({"type":"ble_ack","session":100,"messageId":7,"nextChunk":1})",
            R"({"type":"ble_ack","session":100,"messageId":7,"nextChunk":8})",
        }));
}

TEST_F(ChannelReliableDelivery, AcknowledgementThatHasBegunToGoOutIsFinishedNotCutShort)
{
    link->setMaximumWriteLength(20); // an acknowledgement takes 7 frames
    feed(reliableFrame(session, 7, 1, 8, "c")); // next 0: its first frame goes out at once
    feed(reliableFrame(session, 7, 3, 8, "c")); // next 0 again, wholly queued
    feed(reliableFrame(session, 7, 0, 8, "c"));
    feed(reliableFrame(session, 7, 2, 8, "c")); // next 4 replaces the wholly queued one only

    link->completeAllWrites();
    std::vector<std::pair<std::uint16_t, std::string>> sent;
    for (const auto& message : link->sentMessages()) {
        sent.emplace_back(message.messageId, message.text());
    }
    EXPECT_EQ(sent,
        (Delivered {
            { 1, R"({"type":"ble_ack","session":100,"messageId":7,"nextChunk":0})" },
            { 3, R"({"type":"ble_ack","session":100,"messageId":7,"nextChunk":4})" },
        }));
    EXPECT_EQ(link->writes.size(), 14U); // every frame of both, no fragment of the replaced one
}

using ChannelInboundLog = ChannelTest;

TEST_F(ChannelInboundLog, OneLinePerNewChunk)
{
    feed(plainFrame(12, 1, 3, "bb"));
    feed(plainFrame(12, 1, 3, "bb")); // duplicate: no trace
    feed(plainFrame(12, 0, 3, "a"));
    feed(plainFrame(12, 2, 3, "ccc"));
    EXPECT_EQ(lines,
        (std::vector<std::string> {
            "[ble:data] <- msg=12 chunks=1/3 (2 bytes)",
            "[ble:data] <- msg=12 chunks=2/3 (3 bytes)",
            "[ble:data] <- msg=12 chunks=3/3 (6 bytes)",
        }));
}

TEST_F(ChannelInboundLog, RecordsListTheChunksSoFarWithoutTheSessionPrefix)
{
    captureAcknowledgements();
    std::vector<BleDataMessageLogDetail> details;
    channel.onMessageLog = [&](const BleDataMessageLogDetail& detail) { details.push_back(detail); };
    feed(reliableFrame(session, 12, 2, 3, "ccc"));
    feed(reliableFrame(session, 12, 0, 3, "a"));
    feed(reliableFrame(session, 12, 1, 3, "bb"));

    EXPECT_TRUE(lines.empty());
    ASSERT_EQ(details.size(), 3U);
    EXPECT_EQ(details[1],
        (BleDataMessageLogDetail {
            .direction = Direction::inbound,
            .messageId = 12,
            .flags = 2,
            .writeType = std::nullopt,
            .byteCount = 4,
            .receivedChunkCount = 2,
            .isComplete = false,
            .chunks = { { 1, 3, 1 }, { 3, 3, 3 } },
        }));
    EXPECT_TRUE(details[2].isComplete);
    EXPECT_EQ(details[2].chunks, (std::vector<BleDataChunkLogDetail> { { 1, 3, 1 }, { 2, 3, 2 }, { 3, 3, 3 } }));
    EXPECT_EQ(rawValue(details[2].direction), "inbound");
}

TEST_F(ChannelInboundLog, AcknowledgementIsLoggedBeforeTheChunkThatCausedIt)
{
    feed(reliableFrame(session, 12, 0, 1, "a"));
    EXPECT_EQ(lines,
        (std::vector<std::string> {
            "[ble:data] -> msg=1 chunks=1 (61 bytes)",
            "[ble:data] <- msg=12 chunks=1/1 (1 bytes)",
        }));
}

using ChannelReentrancy = ChannelTest;

TEST_F(ChannelReentrancy, HandlersMayReplyOrDetachFromInsideACallback)
{
    channel.onMessage = [this](std::uint16_t id, const Data& payload) {
        delivered.emplace_back(id, stringFromData(payload));
        if (stringFromData(payload) == "ping") {
            channel.sendCommand("system", "pong");
        } else {
            channel.configure(nullptr);
        }
    };
    feed(plainFrame(1, 0, 1, "ping"));
    ASSERT_EQ(link->sentMessages().size(), 1U);
    EXPECT_EQ(link->sentMessages()[0].text(), "system:pong");

    channel.acknowledgementSink = [this](const ReliableDeliveryAcknowledgement&) { channel.configure(link); };
    feed(reliableFrame(session, 2, 1, 2, "b")); // the acknowledgement starts a new connection
    feed(reliableFrame(7, 3, 0, 1, "bye"));
    EXPECT_EQ(delivered, (Delivered { { 1, "ping" }, { 3, "bye" } }));
    lines.clear();
    EXPECT_FALSE(channel.sendCommand("system", "ping"));
    EXPECT_EQ(lines, (std::vector<std::string> { "[ble:data] send skipped (no peripheral)" }));
}

} // namespace
} // namespace tavrik::test
