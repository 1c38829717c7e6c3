#pragma once

#include <chrono>
#include <string>

namespace tavrik {

// The moment as an ISO 8601 internet date and time in UTC, whole seconds: "2026-01-31T08:15:00Z".
std::string internetDateTimeText(std::chrono::system_clock::time_point moment);

} // namespace tavrik
