#pragma once

#include "TavrikCore/Support/Clock.hpp"

#include <string>

namespace tavrik::test {

// A clock that stands still until a test moves it.
class ManualClock final : public Clock {
public:
    std::chrono::system_clock::time_point wallTime { std::chrono::seconds(1'750'000'000) };
    std::string zone = "UTC";
    std::string locale = "en_US_POSIX";
    std::chrono::milliseconds monotonic { 0 };

    std::chrono::system_clock::time_point now() const override { return wallTime; }
    std::string timeZoneId() const override { return zone; }
    std::string localeId() const override { return locale; }
    std::chrono::milliseconds uptime() const override { return monotonic; }

    void advance(std::chrono::milliseconds step)
    {
        wallTime += step;
        monotonic += step;
    }
};

} // namespace tavrik::test
