#include "TavrikLink/Controller/ControllerLog.hpp"

#include <QDateTime>

#include <utility>

namespace tavrik {

namespace {

// "2025-06-01T12:34:56.789Z": internet date-time in UTC with milliseconds.
std::string logTimeText(std::chrono::system_clock::time_point moment)
{
    const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(moment.time_since_epoch()).count();
    return QDateTime::fromMSecsSinceEpoch(milliseconds).toUTC().toString(Qt::ISODateWithMs).toStdString();
}

// Cut to the line limit, ellipsis included, at a character boundary.
std::string cappedText(const std::string& text)
{
    if (text.size() <= ControllerLog::lineByteLimit) {
        return text;
    }
    const std::string ellipsis = "\u2026";
    std::size_t cut = ControllerLog::lineByteLimit - ellipsis.size();
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return text.substr(0, cut) + ellipsis;
}

// What an entry costs the log: its text in both lists and its transfer records.
std::size_t entryBytes(const TavrikLogEntry& item, const std::string& line)
{
    std::size_t bytes = item.text.size() + line.size();
    if (item.detail) {
        bytes += std::get<BleDataMessageLogDetail>(*item.detail).chunks.size() * sizeof(BleDataChunkLogDetail);
    }
    return bytes;
}

std::string lineText(const TavrikLogEntry& entry)
{
    return "[" + entry.timestampText + "] " + entry.text;
}

std::string transferLine(const BleDataMessageLogDetail& detail)
{
    const bool outbound = detail.direction == BleDataMessageLogDetail::Direction::outbound;
    std::string line = "[ble:data] ";
    line += outbound ? "-> send" : (detail.isComplete ? "<- complete" : "<- receiving");
    const int total = detail.chunks.empty() ? detail.receivedChunkCount : detail.chunks.back().count;
    line += " msg=" + std::to_string(detail.messageId) + " chunk " + std::to_string(detail.receivedChunkCount) + "/"
        + std::to_string(total) + " " + std::to_string(detail.byteCount) + " bytes";
    return line;
}

} // namespace

ControllerLog::ControllerLog(const Clock& clock, RandomSource& random, std::function<void()> changed)
    : clock(clock)
    , random(random)
    , changed(std::move(changed))
{
}

void ControllerLog::append(const std::string& text, bool allowDuplicates, std::optional<TavrikLogEntry::Detail> detail)
{
    const auto now = clock.now();
    std::string stored = cappedText(text);
    if (!allowDuplicates && !items.empty() && items.back().text == stored) {
        return;
    }
    TavrikLogEntry entry { Uuid::random(random), now, logTimeText(now), std::move(stored), std::move(detail) };
    lineTexts.push_back(lineText(entry));
    items.push_back(std::move(entry));
    trim();
    changed();
}

void ControllerLog::trim()
{
    // The newest entries that fit both caps; the lists drop their oldest together.
    std::size_t kept = 0;
    std::size_t bytes = 0;
    for (std::size_t index = items.size(); index-- > 0 && kept < capacity;) {
        bytes += entryBytes(items[index], lineTexts[index]);
        if (kept > 0 && bytes > byteCapacity) {
            break;
        }
        ++kept;
    }
    const auto dropped = static_cast<std::ptrdiff_t>(items.size() - kept);
    lineTexts.erase(lineTexts.begin(), lineTexts.begin() + dropped);
    items.erase(items.begin(), items.begin() + dropped);
}

void ControllerLog::appendTransfer(const BleDataMessageLogDetail& detail)
{
    const std::string line = transferLine(detail);
    if (detail.direction == BleDataMessageLogDetail::Direction::inbound) {
        for (std::size_t index = items.size(); index-- > 0;) {
            TavrikLogEntry& entry = items[index];
            if (!entry.detail) {
                continue;
            }
            const BleDataMessageLogDetail& open = std::get<BleDataMessageLogDetail>(*entry.detail);
            if (open.direction == detail.direction && open.messageId == detail.messageId && !open.isComplete) {
                entry.text = line;
                entry.detail = detail;
                lineTexts[index] = lineText(entry);
                trim();
                changed();
                return;
            }
        }
    }
    append(line, true, detail);
}

void ControllerLog::clear()
{
    if (items.empty() && lineTexts.empty()) {
        return;
    }
    items.clear();
    lineTexts.clear();
    changed();
}

} // namespace tavrik
