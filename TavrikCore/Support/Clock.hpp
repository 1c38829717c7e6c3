#pragma once

#include <chrono>
#include <string>

namespace tavrik {

// Wall time, the user's time zone and locale, and monotonic uptime, read through one seam so that
// texts depending on them are deterministic in tests.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::chrono::system_clock::time_point now() const = 0;
    // IANA identifier such as "Europe/Amsterdam".
    virtual std::string timeZoneId() const = 0;
    // ICU locale identifier such as "en_US".
    virtual std::string localeId() const = 0;
    virtual std::chrono::milliseconds uptime() const = 0;
};

class SystemClock final : public Clock {
public:
    std::chrono::system_clock::time_point now() const override;
    std::string timeZoneId() const override;
    std::string localeId() const override;
    std::chrono::milliseconds uptime() const override;
};

// The process-wide system clock.
const Clock& systemClock();

} // namespace tavrik
