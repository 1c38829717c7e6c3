#include "TavrikCore/Model/KillSwitchUid.hpp"

#include <gtest/gtest.h>

namespace tavrik {
namespace {

TEST(KillSwitchUidTest, BlankRunsCollapseAndLettersAreUpperCased)
{
    struct Case {
        std::string input;
        std::string normalized;
    };
    const Case cases[] = {
        { "04  aa bb\n", "04 AA BB" },
        { "04 AA BB", "04 AA BB" },
        { "\t04\r\naa \u00a0bb\u2028cc ", "04 AA BB CC" },
        { "04aabb", "04AABB" },
        { "", "" },
        { " \t\n ", "" },
    };
    for (const Case& item : cases) {
        EXPECT_EQ(normalizedKillSwitchUid(item.input), item.normalized) << item.input;
    }
}

} // namespace
} // namespace tavrik
