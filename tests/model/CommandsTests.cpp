#include "TavrikCore/Model/Commands.hpp"
#include "TavrikCore/Model/RoutineModels.hpp"
#include "TavrikCore/Model/ScheduleModels.hpp"
#include "TavrikCore/Model/SettingsModels.hpp"
#include "TavrikCore/Model/SyncSignature.hpp"
#include "TavrikCore/Model/TagModels.hpp"

#include <gtest/gtest.h>

#include <iterator>
#include <string_view>

namespace tavrik {
namespace {

TEST(QuotedCommandValue, EscapesBackslashesBeforeQuotes)
{
    const std::pair<std::string, std::string> cases[] = {
        { "Morning", "\"Morning\"" },
        { "", "\"\"" },
        { "say \"hi\"", "\"say \\\"hi\\\"\"" },
        { "a\\b", "\"a\\\\b\"" },
        { "a\\\"b", "\"a\\\\\\\"b\"" },
        { " x=1: \n", "\" x=1: \n\"" },
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(quotedCommandValue(input), expected) << input;
    }
}

TEST(AtomicCommandChannel, RawValuesAndMessages)
{
    struct Case {
        AtomicCommandChannel channel;
        std::string_view raw;
        std::string_view message;
    };
    const Case cases[] = {
        { AtomicCommandChannel::schedule, "schedule", "Failed to save schedule change" },
        { AtomicCommandChannel::tag, "tag", "Failed to save tag change" },
        { AtomicCommandChannel::routine, "routine", "Failed to save routine change" },
        { AtomicCommandChannel::steps, "steps", "Failed to save routine step change" },
        { AtomicCommandChannel::groups, "groups", "Failed to save group change" },
        { AtomicCommandChannel::settings, "settings", "Failed to save settings change" },
    };
    ASSERT_EQ(allAtomicCommandChannels.size(), std::size(cases));
    for (std::size_t index = 0; index < std::size(cases); ++index) {
        const Case& c = cases[index];
        EXPECT_EQ(allAtomicCommandChannels[index], c.channel) << c.raw;
        EXPECT_EQ(rawValue(c.channel), c.raw);
        EXPECT_EQ(saveFailureMessage(c.channel), c.message) << c.raw;
        EXPECT_EQ(atomicCommandChannelFromRawValue(c.raw), c.channel);
    }
    for (const char* text : { "Tag", "steps ", " tag", "system", "clock", "" }) {
        EXPECT_EQ(atomicCommandChannelFromRawValue(text), std::nullopt) << text;
    }
}

TEST(SyncSignature, EqualContentGivesEqualSignatures)
{
    const auto signature = [](std::string_view a, std::string_view b, std::optional<int> c) {
        return makeSyncSignature([&](SyncHasher& hasher) {
            hasher.combine(a);
            hasher.combine(b);
            hasher.combine(c);
        });
    };
    EXPECT_EQ(signature("ab", "c", 1), signature("ab", "c", 1));
    EXPECT_NE(signature("ab", "c", 1), signature("a", "bc", 1));
    EXPECT_NE(signature("ab", "c", 1), signature("ab", "c", std::nullopt));
    EXPECT_NE(signature("ab", "c", 0), signature("ab", "c", std::nullopt));
}

// The records whose edited copies are told from the confirmed ones by signature.
static_assert(SyncedValue<TagInfo>);
static_assert(SyncedValue<ScheduledRoutine>);
static_assert(SyncedValue<SyncSettingsPayload>);
static_assert(SyncedValue<RoutineStepModel>);
static_assert(SyncedValue<RoutineGroupModel>);
static_assert(SyncedValue<RoutineDetailModel>);
static_assert(!SyncedValue<RoutinePayload>);

} // namespace
} // namespace tavrik
