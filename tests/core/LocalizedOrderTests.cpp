#include "TavrikCore/Support/LocalizedOrder.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace tavrik::text {
namespace {

std::vector<std::string> sortedIn(const std::string& locale, std::vector<std::string> names)
{
    std::stable_sort(names.begin(), names.end(), LocalizedCaseInsensitiveOrder(locale));
    return names;
}

TEST(LocalizedOrder, IgnoresCaseInEveryLocale)
{
    for (const std::string locale : { "en_US", "en_US_POSIX", "de_DE", "sv_SE", "no_such_locale", "" }) {
        SCOPED_TRACE(locale);
        const LocalizedCaseInsensitiveOrder order(locale);
        EXPECT_EQ(order.compare("Office", "office"), 0);
        EXPECT_EQ(order.compare("STRASSE", "strasse"), 0);
        EXPECT_LT(order.compare("attic", "Cafe"), 0);
        EXPECT_GT(order.compare("b", "A"), 0);
        // Equal names keep their order in a stable sort.
        EXPECT_EQ(sortedIn(locale, { "net", "B", "NET", "a", "Net" }),
            (std::vector<std::string> { "a", "B", "net", "NET", "Net" }));
    }
}

TEST(LocalizedOrder, FollowsTheLocalesAlphabet)
{
    EXPECT_EQ(
        sortedIn("de_DE", { "Zebra", "Äpfel", "Apfel" }), (std::vector<std::string> { "Apfel", "Äpfel", "Zebra" }));
    EXPECT_EQ(
        sortedIn("sv_SE", { "Zebra", "Äpfel", "Apfel" }), (std::vector<std::string> { "Apfel", "Zebra", "Äpfel" }));
    // Accents still count, unlike case.
    EXPECT_NE(LocalizedCaseInsensitiveOrder("en_US").compare("cafe", "café"), 0);
}

} // namespace
} // namespace tavrik::text
