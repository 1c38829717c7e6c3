#include "tests/session/SessionTestSupport.hpp"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace tavrik::test {
namespace {

using namespace std::chrono;

class SessionClockNoticeTest : public SessionTest {
protected:
    // The device clock as the fields of a UTC wall time shifted by `zoneOffset` (the device keeps
    // local time and knows no zone).
    static Json deviceClock(sys_seconds utc, seconds zoneOffset = seconds(0), int valid = 1)
    {
        const auto local = utc + zoneOffset;
        const auto day = floor<days>(local);
        const year_month_day date(day);
        const hh_mm_ss time(local - day);
        return { { "valid", valid }, { "year", static_cast<int>(date.year()) },
            { "month", static_cast<unsigned>(date.month()) }, { "day", static_cast<unsigned>(date.day()) },
            { "hour", time.hours().count() }, { "minute", time.minutes().count() },
            { "second", time.seconds().count() } };
    }

    sys_seconds now() const { return floor<seconds>(clock.wallTime); }

    // Connects the simulator (with the zone, when given) and installs data with that clock.
    void loadWithClock(const Json& reportedClock, const std::optional<std::string>& zone = std::nullopt)
    {
        Json arguments = Json::object();
        if (zone) {
            arguments["timeZone"] = *zone;
        }
        dispatch("connectSimulator", arguments);
        Json data = sampleDeviceData();
        data["clock"] = reportedClock;
        simulatorSends(data);
        ASSERT_TRUE(state().contains("device")) << state().at("status");
    }

    bool noticeShown() const { return state().contains("clockNotice"); }
};

TEST_F(SessionClockNoticeTest, AppearsWhenTheClockDriftsMoreThanAMinuteOrIsInvalid)
{
    struct Case {
        std::string name;
        Json clock;
        bool notice;
    };
    Json unformable = deviceClock(now());
    unformable["year"] = 3'000'000'000LL;
    const std::vector<Case> cases {
        { "exact", deviceClock(now()), false },
        { "60 s ahead", deviceClock(now() + seconds(60)), false },
        { "60 s behind", deviceClock(now() - seconds(60)), false },
        { "61 s ahead", deviceClock(now() + seconds(61)), true },
        { "61 s behind", deviceClock(now() - seconds(61)), true },
        { "a day ahead", deviceClock(now() + days(1)), true },
        { "exact but not valid", deviceClock(now(), seconds(0), 0), true },
        { "no date can be formed", unformable, true },
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        loadWithClock(row.clock);
        EXPECT_EQ(noticeShown(), row.notice) << state().dump();
    }
}

TEST_F(SessionClockNoticeTest, SubSecondTimeCountsTowardsTheDrift)
{
    clock.wallTime += milliseconds(500);
    loadWithClock(deviceClock(now() - seconds(60)));
    EXPECT_TRUE(noticeShown()) << "60.5 seconds behind";
    loadWithClock(deviceClock(now() + seconds(60)));
    EXPECT_FALSE(noticeShown()) << "59.5 seconds ahead";
}

TEST_F(SessionClockNoticeTest, ShowsBothTimesInTheSessionZone)
{
    clock.locale = "de_DE";
    Json reported = deviceClock(now());
    reported.update({ { "year", 2025 }, { "month", 1 }, { "day", 2 }, { "hour", 3 }, { "minute", 4 }, { "second", 5 } });
    loadWithClock(reported, "Asia/Tokyo");
    ASSERT_TRUE(noticeShown());
    // 15:06 UTC is six minutes past midnight of the next day in Tokyo.
    EXPECT_EQ(state().at("clockNotice"), parseJson(R"({"device":"2025-01-02 03:04","phone":"16.06.2025, 00:06"})"));
}

TEST_F(SessionClockNoticeTest, ReadsTheDeviceClockInTheSessionZone)
{
    clock.zone = "America/New_York";
    struct Case {
        std::optional<std::string> sessionZone;
        seconds deviceOffset; // of the device's wall time from UTC
        bool notice;
    };
    const std::vector<Case> cases {
        { "Asia/Tokyo", hours(9), false },
        { "Asia/Tokyo", hours(0), true },
        { "UTC", hours(0), false },
        { "UTC", hours(-4), true },
        // A zone name that names nothing falls back to the system's zone, not to Greenwich.
        { "Mars/Olympus", hours(-4), false },
        { "Mars/Olympus", hours(0), true },
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.sessionZone.value_or("system") + " " + std::to_string(row.deviceOffset.count()));
        loadWithClock(deviceClock(now(), row.deviceOffset), row.sessionZone);
        EXPECT_EQ(noticeShown(), row.notice);
    }
}

TEST_F(SessionClockNoticeTest, DeviceDatesAreGregorianWhateverTheLocale)
{
    for (const std::string locale : { "th_TH", "ja_JP@calendar=japanese", "ar_SA" }) {
        SCOPED_TRACE(locale);
        clock.locale = locale;
        loadWithClock(deviceClock(now()));
        EXPECT_FALSE(noticeShown());
    }
}

TEST_F(SessionClockNoticeTest, CorrectClockLeavesAnEarlierNotice)
{
    loadWithClock(deviceClock(now() + minutes(5)));
    ASSERT_TRUE(noticeShown());
    const Json earlier = state().at("clockNotice");

    Json data = sampleDeviceData();
    data["clock"] = deviceClock(now());
    simulatorSends(data);
    EXPECT_EQ(state().at("clockNotice"), earlier);

    Json noClock = sampleDeviceData();
    noClock.erase("clock");
    simulatorSends(noClock);
    EXPECT_EQ(state().at("clockNotice"), earlier);

    dispatch("dismissClockNotice");
    simulatorSends(data);
    EXPECT_FALSE(noticeShown());
}

} // namespace
} // namespace tavrik::test
