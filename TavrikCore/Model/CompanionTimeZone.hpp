#pragma once

#include "TavrikCore/Support/Clock.hpp"

#include <chrono>
#include <string>
#include <string_view>

namespace tavrik {

// The device sets its clock from NTP and needs the user's local rules as a C-library TZ string.
struct CompanionTimeZone {
    CompanionTimeZone() = delete;

    // The TZ string for an IANA zone id, with the offset in force at `at`. Central European zones
    // get the full daylight rule; every other zone a fixed "GMT" offset. Never fails: an unknown id
    // counts as Greenwich.
    static std::string posixValue(std::string_view zoneId, std::chrono::system_clock::time_point at);
    // The same, at the clock's present moment.
    static std::string posixValue(std::string_view zoneId, const Clock& clock = systemClock());
};

} // namespace tavrik
