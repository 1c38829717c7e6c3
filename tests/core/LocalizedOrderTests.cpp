#include "TavrikCore/Support/LocalizedOrder.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavrik {
namespace {

TEST(LocalizedOrderTests, LettersSortWithoutRegardToCase)
{
    struct Case {
        std::string lhs;
        std::string rhs;
        int order;
    };
    const std::vector<Case> cases {
        { "a", "B", -1 },
        { "Alpha", "beta", -1 },
        { "beta", "Alpha", 1 },
        { "Kitchen", "kitchen", 0 },
        { "Zoo", "\xC3\xA9t\xC3\xA9", 1 },
        { "", "a", -1 },
    };
    for (const std::string locale : { "en_US", "de_DE", "en_US_POSIX", "" }) {
        for (const Case& test : cases) {
            SCOPED_TRACE(locale + ": " + test.lhs + " / " + test.rhs);
            const int result = LocalizedCaseInsensitiveOrder(locale).compare(test.lhs, test.rhs);
            EXPECT_EQ((result > 0) - (result < 0), test.order);
        }
    }
}

TEST(LocalizedOrderTests, TheLocaleDecidesWhereLettersGo)
{
    // Swedish sorts ä after z; German sorts it with a.
    EXPECT_LT(LocalizedCaseInsensitiveOrder("de_DE").compare("\xC3\xA4r", "zon"), 0);
    EXPECT_GT(LocalizedCaseInsensitiveOrder("sv_SE").compare("\xC3\xA4r", "zon"), 0);
}

} // namespace
} // namespace tavrik
