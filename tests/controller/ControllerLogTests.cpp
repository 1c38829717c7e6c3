#include "tests/controller/ControllerTestSupport.hpp"

#include <QSignalSpy>

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

TEST_F(ControllerTest, LogLinesCarryTheirTimeInUtcWithMilliseconds)
{
    makeController();
    clock.advance(123ms);
    controller->appendLog("hello", true);
    const TavrikLogEntry& entry = controller->logItems().back();
    EXPECT_EQ(entry.timestampText, "2025-06-15T15:06:40.123Z");
    EXPECT_EQ(entry.timestamp, clock.now());
    EXPECT_FALSE(entry.detail);
    EXPECT_EQ(controller->logEntries().back(), "[2025-06-15T15:06:40.123Z] hello");
}

TEST_F(ControllerTest, OnlyARepeatOfTheNewestLineIsDropped)
{
    makeController();
    controller->appendLog("a", false);
    controller->appendLog("a", false);
    controller->appendLog("a", true);
    controller->appendLog("b", false);
    controller->appendLog("a", false);
    EXPECT_EQ(logTexts(), (std::vector<std::string> { "a", "a", "b", "a" }));
}

TEST_F(ControllerTest, LogKeepsTheNewestFiveHundredInBothLists)
{
    makeController();
    QSignalSpy changes(controller.get(), &TavrikBleCentral::logChanged);
    for (int line = 1; line <= 501; ++line) {
        controller->appendLog("line " + std::to_string(line), true);
    }
    EXPECT_EQ(changes.count(), 501);
    ASSERT_EQ(controller->logItems().size(), 500u);
    ASSERT_EQ(controller->logEntries().size(), 500u);
    EXPECT_EQ(controller->logItems().front().text, "line 2");
    for (std::size_t index = 0; index < 500; ++index) {
        const TavrikLogEntry& item = controller->logItems()[index];
        ASSERT_EQ(controller->logEntries()[index], "[" + item.timestampText + "] " + item.text);
    }
    controller->clearLog();
    EXPECT_TRUE(controller->logItems().empty());
    EXPECT_TRUE(controller->logEntries().empty());
}

// A device may send a line of any length, and long lines many times: each line and the whole log are
// held to a size, so the log's memory stays small however the device behaves.
TEST_F(ControllerTest, LongLinesAreCutWithAnEllipsisAtACharacterBoundary)
{
    makeController();
    const std::string huge(12 * 1024 * 1024, 'x');
    controller->appendLog(huge, false);
    controller->appendLog(huge, false);
    ASSERT_EQ(controller->logItems().size(), 1U) << "a repeat of a cut line is still a repeat";
    const std::string& stored = controller->logItems().back().text;
    EXPECT_EQ(stored.size(), TavrikBleCentral::logLineByteLimit);
    EXPECT_EQ(stored, std::string(TavrikBleCentral::logLineByteLimit - 3, 'x') + "\u2026");
    EXPECT_EQ(controller->logEntries().back(), "[" + controller->logItems().back().timestampText + "] " + stored);

    // Two-byte characters: the cut never splits one.
    std::string accents;
    for (int index = 0; index < 3000; ++index) {
        accents += "\u00E9";
    }
    controller->appendLog(accents, true);
    const std::string& cut = controller->logItems().back().text;
    EXPECT_LE(cut.size(), TavrikBleCentral::logLineByteLimit);
    EXPECT_TRUE(cut.ends_with("\u00E9\u2026")) << cut.substr(cut.size() - 8);

    const std::string exact(TavrikBleCentral::logLineByteLimit, 'y');
    controller->appendLog(exact, true);
    EXPECT_EQ(controller->logItems().back().text, exact);
}

TEST_F(ControllerTest, LogIsHeldToASizeAsWellAsToFiveHundredLines)
{
    makeController();
    for (int line = 1; line <= 500; ++line) {
        controller->appendLog(std::to_string(line) + std::string(4000, '.'), true);
    }
    const auto& items = controller->logItems();
    ASSERT_EQ(controller->logEntries().size(), items.size());
    EXPECT_LT(items.size(), 500U);
    EXPECT_GT(items.size(), 100U);
    EXPECT_TRUE(items.back().text.starts_with("500."));
    std::size_t bytes = 0;
    for (std::size_t index = 0; index < items.size(); ++index) {
        bytes += items[index].text.size() + controller->logEntries()[index].size();
    }
    EXPECT_LE(bytes, TavrikBleCentral::logByteCapacity);

    // Transfer lines count with their chunk records.
    controller->clearLog();
    controller->appendLog("first", true);
    const int chunks = static_cast<int>(TavrikBleCentral::logByteCapacity / sizeof(BleDataChunkLogDetail));
    controller->appendBleDataLog(inbound(7, chunks, chunks + 1, chunks * 20));
    controller->appendBleDataLog(inbound(7, chunks + 1, chunks + 1, chunks * 20 + 20));
    ASSERT_EQ(controller->logItems().size(), 1U);
    EXPECT_EQ(controller->logItems().back().text,
        "[ble:data] <- complete msg=7 chunk " + std::to_string(chunks + 1) + "/" + std::to_string(chunks + 1) + " "
            + std::to_string(chunks * 20 + 20) + " bytes");
}

TEST_F(ControllerTest, InboundChunksMergeIntoTheirMessagesLine)
{
    makeController();
    controller->appendBleDataLog(inbound(12, 1, 3, 180));
    const std::string firstTime = controller->logItems().back().timestampText;
    const Uuid firstId = controller->logItems().back().id;
    clock.advance(40ms);
    controller->appendLog("between", true);
    controller->appendBleDataLog(inbound(12, 2, 3, 360));
    clock.advance(40ms);
    controller->appendBleDataLog(inbound(12, 3, 3, 412));

    ASSERT_EQ(controller->logItems().size(), 2u);
    const TavrikLogEntry& merged = controller->logItems().front();
    EXPECT_EQ(merged.text, "[ble:data] <- complete msg=12 chunk 3/3 412 bytes");
    EXPECT_EQ(merged.timestampText, firstTime);
    EXPECT_EQ(merged.id, firstId);
    EXPECT_EQ(merged.detail, TavrikLogEntry::Detail(inbound(12, 3, 3, 412)));
    EXPECT_EQ(controller->logEntries().front(), "[" + firstTime + "] [ble:data] <- complete msg=12 chunk 3/3 412 bytes");

    // A complete message is never reopened: the same id later is a new line.
    controller->appendBleDataLog(inbound(12, 1, 2, 100));
    EXPECT_EQ(controller->logItems().back().text, "[ble:data] <- receiving msg=12 chunk 1/2 100 bytes");
    EXPECT_EQ(controller->logItems().size(), 3u);
}

TEST_F(ControllerTest, OutboundMessagesEachGetALine)
{
    makeController();
    BleDataMessageLogDetail sent;
    sent.direction = BleDataMessageLogDetail::Direction::outbound;
    sent.messageId = 7;
    sent.writeType = "withResponse";
    sent.byteCount = 412;
    sent.receivedChunkCount = 3;
    sent.isComplete = true;
    controller->appendBleDataLog(sent);
    controller->appendBleDataLog(sent);
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
