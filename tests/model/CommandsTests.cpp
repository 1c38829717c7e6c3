#include "TavrikCore/Model/Commands.hpp"
#include "TavrikCore/Model/SyncSignature.hpp"

#include <gtest/gtest.h>

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
    for (const AtomicCommandChannel channel : allAtomicCommandChannels) {
        EXPECT_EQ(atomicCommandChannelFromRawValue(rawValue(channel)), channel);
    }
    EXPECT_EQ(saveFailureMessage(AtomicCommandChannel::steps), "Failed to save routine step change");
    EXPECT_EQ(saveFailureMessage(AtomicCommandChannel::groups), "Failed to save group change");
    EXPECT_EQ(atomicCommandChannelFromRawValue("Tag"), std::nullopt);
    EXPECT_EQ(atomicCommandChannelFromRawValue("steps "), std::nullopt);
    EXPECT_EQ(atomicCommandChannelFromRawValue("system"), std::nullopt);
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

} // namespace
} // namespace tavrik
