#include "TavrikLink/Controller/TavrikBleCentral.hpp"

#include <QDateTime>

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
    if (text.size() <= TavrikBleCentral::logLineByteLimit) {
        return text;
    }
    const std::string ellipsis = "\u2026";
    std::size_t cut = TavrikBleCentral::logLineByteLimit - ellipsis.size();
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

void TavrikBleCentral::appendLog(const std::string& text, bool allowDuplicates)
{
    appendLogItem(text, std::nullopt, allowDuplicates);
}

void TavrikBleCentral::appendLogItem(
    const std::string& text, std::optional<TavrikLogEntry::Detail> detail, bool allowDuplicates)
{
    const auto now = clock.now();
    std::string stored = cappedText(text);
    if (!allowDuplicates && !logItems_.empty() && logItems_.back().text == stored) {
        return;
    }
    TavrikLogEntry entry { Uuid::random(random), now, logTimeText(now), std::move(stored), std::move(detail) };
    logEntries_.push_back(lineText(entry));
    logItems_.push_back(std::move(entry));
    trimLog();
    emit logChanged();
}

void TavrikBleCentral::trimLog()
{
    // The newest entries that fit both caps; the lists drop their oldest together.
    std::size_t kept = 0;
    std::size_t bytes = 0;
    for (std::size_t index = logItems_.size(); index-- > 0 && kept < logCapacity;) {
        bytes += entryBytes(logItems_[index], logEntries_[index]);
        if (kept > 0 && bytes > logByteCapacity) {
            break;
        }
        ++kept;
    }
    const auto dropped = static_cast<std::ptrdiff_t>(logItems_.size() - kept);
    logEntries_.erase(logEntries_.begin(), logEntries_.begin() + dropped);
    logItems_.erase(logItems_.begin(), logItems_.begin() + dropped);
}

void TavrikBleCentral::appendBleDataLog(const BleDataMessageLogDetail& detail)
{
    const std::string line = transferLine(detail);
    const bool inbound = detail.direction == BleDataMessageLogDetail::Direction::inbound;
    if (!inbound) {
        appendLogItem(line, detail, true);
        return;
    }
    // Every inbound chunk shows the device is still sending: a running load gets another full wait.
    if (sessionMode_ == SyncMode::load && loadTimeoutTask_.isPending()) {
        scheduleLoadTimeout(loadTimeout);
    }
    for (std::size_t index = logItems_.size(); index-- > 0;) {
        TavrikLogEntry& entry = logItems_[index];
        if (!entry.detail) {
            continue;
        }
        const BleDataMessageLogDetail& open = std::get<BleDataMessageLogDetail>(*entry.detail);
        if (open.direction == detail.direction && open.messageId == detail.messageId && !open.isComplete) {
            entry.text = line;
            entry.detail = detail;
            logEntries_[index] = lineText(entry);
            trimLog();
            emit logChanged();
            return;
        }
    }
    appendLogItem(line, detail, true);
}

void TavrikBleCentral::clearLog()
{
    if (logItems_.empty() && logEntries_.empty()) {
        return;
    }
    logItems_.clear();
    logEntries_.clear();
    emit logChanged();
}

} // namespace tavrik
