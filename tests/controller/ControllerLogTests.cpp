#include "TavrikLink/Controller/ControllerLog.hpp"
#include "tests/controller/ControllerTestSupport.hpp"

namespace tavrik::test {
namespace {

using namespace std::chrono_literals;

BleDataMessageLogDetail inbound(std::uint16_t id, int received, int total, int bytes)
{
    BleDataMessageLogDetail detail;
    detail.direction = BleDataMessageLogDetail::Direction::inbound;
    detail.messageId = id;
    detail.receivedChunkCount = received;
    detail.byteCount = bytes;
    detail.isComplete = received == total;
    for (int index = 1; index <= received; ++index) {
        detail.chunks.push_back({ index, total, bytes / received });
    }
    return detail;
}

// The log alone, on a clock the test moves.
class ControllerLogTest : public ::testing::Test {
protected:
    ManualClock clock;
    SequenceRandomSource random;
    int changes = 0;
    ControllerLog log { clock, random, [this] { ++changes; } };

    std::vector<std::string> logTexts() const
    {
        std::vector<std::string> texts;
        for (const TavrikLogEntry& entry : log.entries()) {
            texts.push_back(entry.text);
        }
        return texts;
    }
};

TEST_F(ControllerLogTest, LogLinesCarryTheirTimeInUtcWithMilliseconds)
{
    clock.advance(123ms);
    log.append("hello", true);
    const TavrikLogEntry& entry = log.entries().back();
    EXPECT_EQ(entry.timestampText, "2025-06-15T15:06:40.123Z");
    EXPECT_EQ(entry.timestamp, clock.now());
    EXPECT_FALSE(entry.detail);
    EXPECT_EQ(log.lines().back(), "[2025-06-15T15:06:40.123Z] hello");
}

TEST_F(ControllerLogTest, OnlyARepeatOfTheNewestLineIsDropped)
{
    log.append("a", false);
    log.append("a", false);
    log.append("a", true);
    log.append("b", false);
    log.append("a", false);
    EXPECT_EQ(logTexts(), (std::vector<std::string> { "a", "a", "b", "a" }));
}

TEST_F(ControllerLogTest, LogKeepsTheNewestFiveHundredInBothLists)
{
    for (int line = 1; line <= 501; ++line) {
        log.append("line " + std::to_string(line), true);
    }
    EXPECT_EQ(changes, 501);
    ASSERT_EQ(log.entries().size(), 500u);
    ASSERT_EQ(log.lines().size(), 500u);
    EXPECT_EQ(log.entries().front().text, "line 2");
    for (std::size_t index = 0; index < 500; ++index) {
        const TavrikLogEntry& item = log.entries()[index];
        ASSERT_EQ(log.lines()[index], "[" + item.timestampText + "] " + item.text);
    }
    log.clear();
    EXPECT_TRUE(log.entries().empty());
    EXPECT_TRUE(log.lines().empty());
}

// A device may send a line of any length, and long lines many times: each line and the whole log are
// held to a size, so the log's memory stays small however the device behaves.
TEST_F(ControllerLogTest, LongLinesAreCutWithAnEllipsisAtACharacterBoundary)
{
    const std::string huge(12 * 1024 * 1024, 'x');
    log.append(huge, false);
    log.append(huge, false);
    ASSERT_EQ(log.entries().size(), 1U) << "a repeat of a cut line is still a repeat";
    const std::string& stored = log.entries().back().text;
    EXPECT_EQ(stored.size(), ControllerLog::lineByteLimit);
    EXPECT_EQ(stored, std::string(ControllerLog::lineByteLimit - 3, 'x') + "\u2026");
    EXPECT_EQ(log.lines().back(), "[" + log.entries().back().timestampText + "] " + stored);

    // Two-byte characters: the cut never splits one.
    std::string accents;
    for (int index = 0; index < 3000; ++index) {
        accents += "\u00E9";
    }
    log.append(accents, true);
    const std::string& cut = log.entries().back().text;
    EXPECT_LE(cut.size(), ControllerLog::lineByteLimit);
    EXPECT_TRUE(cut.ends_with("\u00E9\u2026")) << cut.substr(cut.size() - 8);

    const std::string exact(ControllerLog::lineByteLimit, 'y');
    log.append(exact, true);
    EXPECT_EQ(log.entries().back().text, exact);
}

TEST_F(ControllerLogTest, LogIsHeldToASizeAsWellAsToFiveHundredLines)
{
    for (int line = 1; line <= 500; ++line) {
        log.append(std::to_string(line) + std::string(4000, '.'), true);
    }
    const auto& items = log.entries();
    ASSERT_EQ(log.lines().size(), items.size());
    EXPECT_LT(items.size(), 500U);
    EXPECT_GT(items.size(), 100U);
    EXPECT_TRUE(items.back().text.starts_with("500."));
    std::size_t bytes = 0;
    for (std::size_t index = 0; index < items.size(); ++index) {
        bytes += items[index].text.size() + log.lines()[index].size();
    }
    EXPECT_LE(bytes, ControllerLog::byteCapacity);

    // Transfer lines count with their chunk records.
    log.clear();
    log.append("first", true);
    const int chunks = static_cast<int>(ControllerLog::byteCapacity / sizeof(BleDataChunkLogDetail));
    log.appendTransfer(inbound(7, chunks, chunks + 1, chunks * 20));
    log.appendTransfer(inbound(7, chunks + 1, chunks + 1, chunks * 20 + 20));
    ASSERT_EQ(log.entries().size(), 1U);
    EXPECT_EQ(log.entries().back().text,
        "[ble:data] <- complete msg=7 chunk " + std::to_string(chunks + 1) + "/" + std::to_string(chunks + 1) + " "
            + std::to_string(chunks * 20 + 20) + " bytes");
}

TEST_F(ControllerLogTest, InboundChunksMergeIntoTheirMessagesLine)
{
    log.appendTransfer(inbound(12, 1, 3, 180));
    const std::string firstTime = log.entries().back().timestampText;
    const Uuid firstId = log.entries().back().id;
    clock.advance(40ms);
    log.append("between", true);
    log.appendTransfer(inbound(12, 2, 3, 360));
    clock.advance(40ms);
    log.appendTransfer(inbound(12, 3, 3, 412));

    ASSERT_EQ(log.entries().size(), 2u);
    const TavrikLogEntry& merged = log.entries().front();
    EXPECT_EQ(merged.text, "[ble:data] <- complete msg=12 chunk 3/3 412 bytes");
    EXPECT_EQ(merged.timestampText, firstTime);
    EXPECT_EQ(merged.id, firstId);
    EXPECT_EQ(merged.detail, TavrikLogEntry::Detail(inbound(12, 3, 3, 412)));
    EXPECT_EQ(log.lines().front(), "[" + firstTime + "] [ble:data] <- complete msg=12 chunk 3/3 412 bytes");

    // A complete message is never reopened: the same id later is a new line.
    log.appendTransfer(inbound(12, 1, 2, 100));
    EXPECT_EQ(log.entries().back().text, "[ble:data] <- receiving msg=12 chunk 1/2 100 bytes");
    EXPECT_EQ(log.entries().size(), 3u);
}

TEST_F(ControllerLogTest, OutboundMessagesEachGetALine)
{
    BleDataMessageLogDetail sent;
    sent.direction = BleDataMessageLogDetail::Direction::outbound;
    sent.messageId = 7;
    sent.writeType = "withResponse";
    sent.byteCount = 412;
    sent.receivedChunkCount = 3;
    sent.isComplete = true;
    log.appendTransfer(sent);
    log.appendTransfer(sent);
    EXPECT_EQ(logTexts(),
        (std::vector<std::string> {
            "[ble:data] -> send msg=7 chunk 3/3 412 bytes", "[ble:data] -> send msg=7 chunk 3/3 412 bytes" }));
}

TEST_F(ControllerTest, AMultiChunkMessageFromTheDeviceLeavesOneLine)
{
    FakeTavrik& tavrik = addDevice();
    for (std::uint32_t id = 1; id <= 12; ++id) {
        tavrik.data.tags.push_back({ id, "UID " + std::to_string(id), "Tag number " + std::to_string(id) });
    }
    loadFromDevice();
    ASSERT_TRUE(controller->hasLoadedData());
    const auto texts = logTexts();
    const auto lines = std::count_if(texts.begin(), texts.end(), [](const std::string& text) {
        return text.find("<- ") != std::string::npos && text.find("msg=40001") != std::string::npos;
    });
    EXPECT_EQ(lines, 1);
    const auto complete = std::find_if(texts.begin(), texts.end(),
        [](const std::string& text) { return text.rfind("[ble:data] <- complete msg=40001 chunk ", 0) == 0; });
    EXPECT_NE(complete, texts.end());
}

} // namespace
} // namespace tavrik::test
