#include "TavrikCore/Model/ClockModels.hpp"

#include "tests/support/ManualClock.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace tavrik {
namespace {

using namespace std::chrono_literals;

TEST(DeviceClockSnapshot, ReadsClockStateAndIgnoresOtherKeys)
{
    const DeviceClockSnapshot read = deviceClockSnapshotFromJson(parseJson(
        R"({"type":"clock_state","valid":1,"year":2025,"month":6,"day":1,"hour":8,"minute":5,"second":9,"message":"synced"})"));
    EXPECT_EQ(read, (DeviceClockSnapshot { 1, 2025, 6, 1, 8, 5, 9, "synced" }));
    EXPECT_EQ(dumpJson(toJson(read)),
        R"({"valid":1,"year":2025,"month":6,"day":1,"hour":8,"minute":5,"second":9,"message":"synced"})");
    EXPECT_EQ(dumpJson(toJson(DeviceClockSnapshot { 0, 2025, 6, 1, 8, 5, 9, std::nullopt })),
        R"({"valid":0,"year":2025,"month":6,"day":1,"hour":8,"minute":5,"second":9})");
}

TEST(DeviceClockSnapshot, RefusesMissingOrMistypedNumbers)
{
    const char* cases[] = {
        R"({"type":"clock_state","valid":1,"year":2025,"month":6,"day":1,"hour":8,"minute":5})",
        R"({"year":2025,"month":6,"day":1,"hour":8,"minute":5,"second":9})",
        R"({"valid":true,"year":2025,"month":6,"day":1,"hour":8,"minute":5,"second":9})",
        R"({"valid":1,"year":"2025","month":6,"day":1,"hour":8,"minute":5,"second":9})",
        R"({"valid":1,"year":2025,"month":6,"day":1,"hour":8,"minute":5,"second":9,"message":0})",
    };
    for (const char* text : cases) {
        EXPECT_THROW(deviceClockSnapshotFromJson(parseJson(text)), JsonDecodeError) << text;
    }
}

TEST(DeviceClockSnapshot, AnyNonZeroValidCounts)
{
    const std::pair<std::int64_t, bool> cases[] = { { 0, false }, { 1, true }, { 2, true }, { -1, true } };
    for (const auto& [valid, expected] : cases) {
        EXPECT_EQ((DeviceClockSnapshot { valid, 2025, 6, 15, 17, 6, 40 }).isValid(), expected) << valid;
    }
}

TEST(DeviceClockSnapshot, ComponentsReadAsLocalTimeOfTheUser)
{
    test::ManualClock clock;
    clock.wallTime = std::chrono::system_clock::time_point(1'750'000'000s);
    clock.zone = "Europe/Amsterdam";
    clock.locale = "en_US";

    const DeviceClockSnapshot reading { 1, 2025, 6, 15, 17, 6, 40 };
    const DateComponents components = reading.dateComponents(clock);
    EXPECT_EQ(components.timeZoneId, "Europe/Amsterdam");
    EXPECT_EQ(components.localeId, "en_US");
    EXPECT_EQ(components.date(), currentMoment(clock));

    clock.zone = "UTC";
    EXPECT_EQ(reading.dateComponents(clock).date(), currentMoment(clock) + 2h);
}

TEST(DateComponents, LenientCalendarAndLimits)
{
    DateComponents components { "en_US", "Europe/Amsterdam", 2024, 13, 1, 0, 0, 0 };
    // Month 13 rolls into January of the next year (winter time, UTC+1).
    EXPECT_EQ(components.date(), Moment(1'735'686'000s));

    components.year = std::int64_t(std::numeric_limits<std::int32_t>::max()) + 1;
    EXPECT_EQ(components.date(), std::nullopt);

    // An unknown zone reads as UTC rather than failing.
    const DateComponents unknownZone { "en_US", "Nowhere/Atlantis", 2025, 6, 15, 15, 6, 40 };
    EXPECT_EQ(unknownZone.date(), Moment(1'750'000'000s));
}

TEST(TimeSyncNotice, EveryNoticeHasItsOwnId)
{
    const DeviceClockSnapshot reading { 0, 2025, 6, 1, 8, 5, 9 };
    const TimeSyncNotice first(reading, "2025-06-01 08:05:09", "Jun 1, 2025 at 8:05:09 AM", std::nullopt);
    const TimeSyncNotice second(reading, "2025-06-01 08:05:09", "Jun 1, 2025 at 8:05:09 AM", std::nullopt);
    EXPECT_NE(first, second);
    EXPECT_NE(first.id, second.id);
    EXPECT_EQ(TimeSyncNotice(first), first);
    EXPECT_EQ(first.deviceClock, reading);
    EXPECT_EQ(first.driftSeconds, std::nullopt);
    EXPECT_EQ(TimeSyncNotice(reading, "a", "b", 61).driftSeconds, 61);
}

TEST(GregorianLocale, OnlyTheCalendarOfTheLocaleChanges)
{
    const struct {
        const char* locale;
        const char* expected;
    } cases[] = {
        { "th_TH", "th_TH@calendar=gregorian" },
        { "ja_JP@calendar=japanese", "ja_JP@calendar=gregorian" },
        { "de_DE@collation=phonebook", "de_DE@calendar=gregorian;collation=phonebook" },
        { "en_US_POSIX", "en_US_POSIX@calendar=gregorian" },
    };
    for (const auto& each : cases) {
        EXPECT_EQ(gregorianLocaleId(each.locale), each.expected) << each.locale;
    }
}

} // namespace
} // namespace tavrik
