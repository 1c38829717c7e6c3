#include "TavrikCore/Model/ClockModels.hpp"
#include "tests/robustness/HostileHost.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace tavrik::test {
namespace {

constexpr std::int64_t smallest = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t largest = std::numeric_limits<std::int64_t>::max();

// Calendar fields come straight from device messages and backups. Any that ICU cannot take gives no
// date; the month, which is shifted to count from 0, must not overflow on the way there.
TEST(DateComponentsHostileInputTest, FieldsBeyondTheCalendarGiveNoDate)
{
    struct Case {
        const char* name;
        std::int64_t year, month, day;
    };
    const Case cases[] = {
        { "smallest month", 2025, smallest, 1 },
        { "largest month", 2025, largest, 1 },
        { "month below the 32-bit range", 2025, std::int64_t { std::numeric_limits<std::int32_t>::min() }, 1 },
        { "smallest year", smallest, 6, 1 },
        { "largest day", 2025, 6, largest },
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        const DateComponents components { "en_US_POSIX", "UTC", item.year, item.month, item.day, 12, 0, 0 };
        EXPECT_EQ(components.date(), std::nullopt);
    }
    // Lenient within range: month 13 is January of the next year.
    const DateComponents lenient { "en_US_POSIX", "UTC", 2024, 13, 1, 0, 0, 0 };
    const DateComponents january { "en_US_POSIX", "UTC", 2025, 1, 1, 0, 0, 0 };
    EXPECT_EQ(lenient.date(), january.date());
}

// Device data whose clock and one-time schedule name the smallest month: the data loads, the clock
// notice reports the unreadable device time, and the schedule preview falls back to its stored run
// (29,000,000 minutes after 1970: 2025-02-19).
TEST(DateComponentsHostileInputTest, DeviceDataWithTheSmallestMonthLoadsAndShowsAClockNotice)
{
    Json data = sampleDeviceDataWithOneTimeSchedule();
    data["clock"]["month"] = smallest;
    data["schedules"][1]["month"] = smallest;
    data["schedules"][1]["runAt"] = 29'000'000;
    for (const bool physical : { false, true }) {
        SCOPED_TRACE(physical ? "physical link" : "simulator");
        HostileHost host;
        host.context = "smallest month";
        if (physical) {
            host.loadOverPhysicalLink(data);
        } else {
            host.loadOverSimulator(data);
        }
        const HostileHost::Reply reply = host.dispatch("state");
        ASSERT_TRUE(reply.ok) << reply.error;
        EXPECT_TRUE(reply.state().contains("device"));
        EXPECT_EQ(reply.state().at("clockNotice").at("device"), "2025--9223372036854775808-15 15:06");
        EXPECT_EQ(reply.state().at("routineSchedulePreviews").at("2"), "21:00 Feb 19, 2025");
    }
}

} // namespace
} // namespace tavrik::test
