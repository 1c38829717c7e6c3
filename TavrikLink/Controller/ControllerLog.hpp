#pragma once

#include "TavrikCore/Link/BleDataMessageLogDetail.hpp"
#include "TavrikCore/Model/TavrikLogEntry.hpp"
#include "TavrikCore/Support/Clock.hpp"
#include "TavrikCore/Support/RandomSource.hpp"
#include "TavrikCore/Support/Uuid.hpp"

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tavrik {

// The controller's log: the entries and their text lines, kept together, held to a number of lines
// and to a size, with one line for each message the data channel carries.
class ControllerLog {
public:
    static constexpr std::size_t capacity = 500;
    // A longer line is cut, with an ellipsis, to this many bytes.
    static constexpr std::size_t lineByteLimit = 4096;
    // What the log may hold in all: the texts of both lists and the transfer records. The newest
    // entry stays whatever its size.
    static constexpr std::size_t byteCapacity = 1'048'576;

    // `changed` runs after every change of the lists.
    ControllerLog(const Clock& clock, RandomSource& random, std::function<void()> changed);

    const std::vector<std::string>& lines() const { return lineTexts; }
    const std::vector<TavrikLogEntry>& entries() const { return items; }

    // A repeat of the newest text is dropped unless `allowDuplicates`.
    void append(
        const std::string& text, bool allowDuplicates, std::optional<TavrikLogEntry::Detail> detail = std::nullopt);
    // An outbound message gets its own line; inbound chunks update the line of their message until
    // it is complete.
    void appendTransfer(const BleDataMessageLogDetail& detail);
    void clear();

private:
    // Drops the oldest entries past the line and byte caps.
    void trim();

    const Clock& clock;
    RandomSource& random;
    std::function<void()> changed;
    std::vector<std::string> lineTexts;
    std::vector<TavrikLogEntry> items;
};

} // namespace tavrik
