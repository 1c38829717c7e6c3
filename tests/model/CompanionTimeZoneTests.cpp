#include "TavrikCore/Model/CompanionTimeZone.hpp"
#include "tests/support/ManualClock.hpp"

#include <gtest/gtest.h>

#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <string>

namespace tavrik {
namespace {

using std::chrono::seconds;
using std::chrono::system_clock;

const system_clock::time_point winter { seconds(1'736'942'400) }; // 2025-01-15 12:00 UTC
const system_clock::time_point summer { seconds(1'752'580'800) }; // 2025-07-15 12:00 UTC

constexpr std::string_view centralEurope = "CET-1CEST,M3.5.0,M10.5.0/3";

struct ZoneCase {
    std::string zone;
    system_clock::time_point at;
    std::string expected;
};

const ZoneCase zoneCases[] = {
    { "Europe/Berlin", winter, std::string(centralEurope) },
    { "Europe/Berlin", summer, std::string(centralEurope) },
    { "Europe/Zurich", summer, std::string(centralEurope) },
    // The rule switches when the zone does: last Sunday of March and of October at 01:00 UTC.
    { "Europe/Amsterdam", system_clock::time_point { seconds(1'743'296'399) }, std::string(centralEurope) },
    { "Europe/Madrid", system_clock::time_point { seconds(1'743'296'400) }, std::string(centralEurope) },
    { "Europe/Rome", system_clock::time_point { seconds(1'761'440'399) }, std::string(centralEurope) },
    { "Europe/Vienna", system_clock::time_point { seconds(1'761'440'400) }, std::string(centralEurope) },
    { "Europe/Oslo", winter, "GMT-1" },
    { "Europe/Oslo", summer, "GMT-2" },
    { "UTC", summer, "GMT-0" },
    { "Europe/London", winter, "GMT-0" },
    { "Europe/London", summer, "GMT-1" },
    { "America/New_York", winter, "GMT5" },
    { "America/New_York", summer, "GMT4" },
    { "Asia/Kolkata", winter, "GMT-5:30" },
    { "Asia/Kathmandu", summer, "GMT-5:45" },
    { "America/St_Johns", winter, "GMT3:30" },
    { "Pacific/Kiritimati", winter, "GMT-14" },
    // Liberia kept -0:44:30 until 1972: the seconds are dropped, not rounded.
    { "Africa/Monrovia", system_clock::time_point {}, "GMT0:44" },
};

TEST(CompanionTimeZone, PosixValueForZones)
{
    for (const auto& [zone, at, expected] : zoneCases) {
        EXPECT_EQ(CompanionTimeZone::posixValue(zone, at), expected) << zone;
    }
}

TEST(CompanionTimeZone, OnlyExactListedIdentifiersGetTheDaylightRule)
{
    for (const char* zone : { "Europe/Amsterdam", "Europe/Brussels", "Europe/Berlin", "Europe/Paris",
             "Europe/Luxembourg", "Europe/Madrid", "Europe/Rome", "Europe/Vienna", "Europe/Zurich" }) {
        EXPECT_EQ(CompanionTimeZone::posixValue(zone, winter), centralEurope) << zone;
    }
    // Same rules, not listed.
    EXPECT_EQ(CompanionTimeZone::posixValue("Europe/Copenhagen", summer), "GMT-2");
    EXPECT_NE(CompanionTimeZone::posixValue("europe/paris", winter), centralEurope);
    EXPECT_NE(CompanionTimeZone::posixValue("Europe/Paris ", winter), centralEurope);
    EXPECT_EQ(CompanionTimeZone::posixValue("Not/AZone", winter), "GMT-0");
    EXPECT_EQ(CompanionTimeZone::posixValue("", winter), "GMT-0");
}

TEST(CompanionTimeZone, DefaultsToTheClocksPresentMoment)
{
    test::ManualClock clock;
    clock.wallTime = winter;
    EXPECT_EQ(CompanionTimeZone::posixValue("America/New_York", clock), "GMT5");
    clock.wallTime = summer;
    EXPECT_EQ(CompanionTimeZone::posixValue("America/New_York", clock), "GMT4");
}

// Sets TZ for the C library and puts the previous value back afterwards.
class ScopedTz {
public:
    explicit ScopedTz(const std::string& value)
    {
        if (const char* current = std::getenv("TZ")) {
            previous = current;
        }
        setenv("TZ", value.c_str(), 1);
        tzset();
    }
    ~ScopedTz()
    {
        if (previous) {
            setenv("TZ", previous->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    ScopedTz(const ScopedTz&) = delete;
    ScopedTz& operator=(const ScopedTz&) = delete;

private:
    std::optional<std::string> previous;
};

long icuOffsetSeconds(const std::string& zone, system_clock::time_point at)
{
    const std::unique_ptr<icu::TimeZone> timeZone(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(zone)));
    std::int32_t raw = 0;
    std::int32_t dst = 0;
    UErrorCode status = U_ZERO_ERROR;
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count();
    timeZone->getOffset(static_cast<UDate>(millis), false, raw, dst, status);
    EXPECT_TRUE(U_SUCCESS(status)) << zone;
    return (raw + dst) / 1000;
}

TEST(CompanionTimeZone, CLibraryReadsTheSameOffsetAsTheZone)
{
    for (const auto& [zone, at, expected] : zoneCases) {
        const std::string posix = CompanionTimeZone::posixValue(zone, at);
        long cLibraryOffset = 0;
        {
            const ScopedTz scoped(posix);
            const std::time_t time = system_clock::to_time_t(at);
            std::tm local {};
            ASSERT_NE(localtime_r(&time, &local), nullptr);
            cLibraryOffset = local.tm_gmtoff;
        }
        const long zoneOffset = icuOffsetSeconds(zone, at);
        // The string keeps whole minutes only.
        EXPECT_EQ(cLibraryOffset, zoneOffset / 60 * 60) << zone << " as " << posix;
    }
}

} // namespace
} // namespace tavrik
