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
    for (const Case& test : cases) {
        SCOPED_TRACE(test.lhs + " / " + test.rhs);
        const int result = compareLocalizedIgnoringCase(test.lhs, test.rhs);
        EXPECT_EQ((result > 0) - (result < 0), test.order);
    }
}

} // namespace
} // namespace tavrik::text
