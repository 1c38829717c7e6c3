#include "TavrikCore/Support/LocalizedTextOrder.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace tavrik {
namespace {

std::vector<std::string> sortedLabels(std::vector<std::string> labels, const std::string& locale)
{
    LocalizedTextOrder(locale).stableSort(labels, [](const std::string& label) -> const std::string& { return label; });
    return labels;
}

TEST(LocalizedTextOrder, SortsByLetterWhateverTheCase)
{
    for (const std::string locale : { "en_US", "en_US_POSIX", "de_DE", "", "xx_NOWHERE" }) {
        SCOPED_TRACE(locale);
        EXPECT_EQ(sortedLabels({ "beta", "Alpha", "alpha two", "Beta" }, locale),
            (std::vector<std::string> { "Alpha", "alpha two", "beta", "Beta" }));
        EXPECT_EQ(LocalizedTextOrder(locale).compare("MORNING", "morning"), 0);
    }
}

TEST(LocalizedTextOrder, FollowsTheLocalesAlphabet)
{
    // Accents sort beside their base letter, not after "z" as their code points would.
    EXPECT_EQ(sortedLabels({ "zebra", "Évening", "apple" }, "en_US"),
        (std::vector<std::string> { "apple", "Évening", "zebra" }));
    // Swedish puts "ä" after "z"; English keeps it with "a".
    EXPECT_EQ(sortedLabels({ "zon", "äng", "ax" }, "sv_SE"), (std::vector<std::string> { "ax", "zon", "äng" }));
    EXPECT_EQ(sortedLabels({ "zon", "äng", "ax" }, "en_US"), (std::vector<std::string> { "äng", "ax", "zon" }));
}

TEST(LocalizedTextOrder, EqualTextsKeepTheirOrder)
{
    std::vector<std::pair<std::string, int>> items { { "Walk", 1 }, { "alpha", 2 }, { "WALK", 3 }, { "walk", 4 } };
    LocalizedTextOrder("en_US").stableSort(items, [](const auto& item) -> const std::string& { return item.first; });
    EXPECT_EQ(items, (std::vector<std::pair<std::string, int>> { { "alpha", 2 }, { "Walk", 1 }, { "WALK", 3 }, { "walk", 4 } }));
}

} // namespace
} // namespace tavrik
