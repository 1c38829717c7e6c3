#include "TavrikCore/Support/LabelOrder.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavrik::text {
namespace {

TEST(LabelOrderTests, LettersSortWithoutRegardToCase)
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
            const int result = compareLocalizedIgnoringCase(test.lhs, test.rhs, locale);
            EXPECT_EQ((result > 0) - (result < 0), test.order);
        }
    }
}

TEST(LabelOrderTests, TheLocaleDecidesWhereLettersGo)
{
    // Swedish sorts ä after z; German sorts it with a.
    EXPECT_LT(compareLocalizedIgnoringCase("\xC3\xA4r", "zon", "de_DE"), 0);
    EXPECT_GT(compareLocalizedIgnoringCase("\xC3\xA4r", "zon", "sv_SE"), 0);
}

} // namespace
} // namespace tavrik::text
