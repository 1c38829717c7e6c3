#pragma once

#include "TavrikCore/Link/BleDataMessageLogDetail.hpp"
#include "TavrikCore/Support/Uuid.hpp"

#include <chrono>
#include <optional>
#include <string>
#include <variant>

namespace tavrik {

// One line of the controller's log, as the log drawer shows it. Made only by the controller's log.
struct TavrikLogEntry {
    // Structured detail; its one kind is a data-channel transfer record.
    using Detail = std::variant<BleDataMessageLogDetail>;

    Uuid id;
    std::chrono::system_clock::time_point timestamp;
    std::string timestampText;
    std::string text;
    std::optional<Detail> detail;

    friend bool operator==(const TavrikLogEntry&, const TavrikLogEntry&) = default;
};

} // namespace tavrik
