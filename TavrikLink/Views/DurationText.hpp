#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tavrik {

// Clock-style text for rows and headers: "0:05", "1:05", "1:02:05".
std::string formattedDuration(std::int64_t seconds);
// The canonical text put into a duration field; the same text as formattedDuration for every value from 0.
std::string formattedDurationInput(std::int64_t seconds);
// Seconds from what a user typed ("1:30", "01:02:03", "5" for minutes, "90s", "2 min"), or nothing
// when the text is not a duration or its value does not fit in 64 bits. Only ASCII digits count.
std::optional<std::int64_t> parseDurationInput(std::string_view input);

} // namespace tavrik
