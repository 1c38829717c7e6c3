#include "TavrikCore/Support/LocalizedOrder.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tavrik {
namespace {

std::vector<std::string> sortedLabels(std::vector<std::string> labels, const std::string& locale)
{
    const LocalizedCaseInsensitiveOrder order(locale);
    std::stable_sort(labels.begin(), labels.end(), std::cref(order));
    return labels;
}

TEST(LocalizedCaseInsensitiveOrder, SortsByLetterWhateverTheCaseInEveryLocale)
{
    // en_US_POSIX is what a "C" environment reports; its tailoring puts every capital before "a".
    for (const std::string locale : { "en_US", "en_US_POSIX", "de_DE", "", "xx_NOWHERE" }) {
        SCOPED_TRACE(locale);
        EXPECT_EQ(sortedLabels({ "beta", "Alpha", "alpha two", "Beta", "apple" }, locale),
            (std::vector<std::string> { "Alpha", "alpha two", "apple", "beta", "Beta" }));
        EXPECT_EQ(LocalizedCaseInsensitiveOrder(locale).compare("MORNING", "morning"), 0);
    }
}

TEST(LocalizedCaseInsensitiveOrder, FollowsTheLocalesAlphabet)
{
    // Accents sort beside their base letter, not after "z" as their code points would.
    EXPECT_EQ(sortedLabels({ "zebra", "Évening", "apple" }, "en_US"),
        (std::vector<std::string> { "apple", "Évening", "zebra" }));
    // Swedish puts "ä" after "z"; English keeps it with "a".
    EXPECT_EQ(sortedLabels({ "zon", "äng", "ax" }, "sv_SE"), (std::vector<std::string> { "ax", "zon", "äng" }));
    EXPECT_EQ(sortedLabels({ "zon", "äng", "ax" }, "en_US"), (std::vector<std::string> { "äng", "ax", "zon" }));
}

TEST(LocalizedCaseInsensitiveOrder, EqualTextsKeepTheirOrderInAStableSort)
{
    std::vector<std::pair<std::string, int>> items { { "Walk", 1 }, { "alpha", 2 }, { "WALK", 3 }, { "walk", 4 } };
    const LocalizedCaseInsensitiveOrder order("en_US");
    std::stable_sort(
        items.begin(), items.end(), [&](const auto& lhs, const auto& rhs) { return order(lhs.first, rhs.first); });
    EXPECT_EQ(items,
        (std::vector<std::pair<std::string, int>> { { "alpha", 2 }, { "Walk", 1 }, { "WALK", 3 }, { "walk", 4 } }));
}

} // namespace
} // namespace tavrik
