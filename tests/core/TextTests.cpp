#include "TavrikCore/Support/Text.hpp"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace tavrik::text {
namespace {

TEST(TextTrim, UsesUnicodeWhiteSpaceSets)
{
    EXPECT_EQ(trimmed("  \t scan \r\n"), "scan");
    EXPECT_EQ(trimmed("\u00A0\u2003name\u3000"), "name");
    EXPECT_EQ(trimmed("\u2028a b\u2029"), "a b");
    EXPECT_EQ(trimmed("\nline\n", TrimSet::whitespaces), "\nline\n");
    EXPECT_EQ(trimmed(" \t\n "), "");
    EXPECT_EQ(trimmed(""), "");
}

TEST(TextCase, MapsBeyondAscii)
{
    EXPECT_EQ(lowercased("ÄBC Straße"), "äbc straße");
    EXPECT_EQ(uppercased("04 aa ff"), "04 AA FF");
    EXPECT_TRUE(equalIgnoringCase("Morning Ölbad", "MORNING ölbad"));
    EXPECT_FALSE(equalIgnoringCase("a", "b"));
}

TEST(TextCase, EqualIgnoringCaseFoldsAsciiAndBeyondAlike)
{
    const std::vector<std::tuple<std::string, std::string, bool>> cases {
        { "Morning", "MORNING", true },
        { "Morning", "Mornings", false },
        { "Morning", "Morning ", false },
        { "a-b_c 1", "A-B_C 1", true },
        { "@[`{", "@[`{", true },
        { "@", "`", false }, // neighbours of the letters are not letters
        { "[", "{", false },
        { "\u212Aitchen", "kitchen", true }, // the Kelvin sign folds to an ASCII "k"
        { "stra\u00DFe", "STRASSE", true },
        { "cafe\u0301", "CAF\u00C9", true },
        { "", "", true },
    };
    for (const auto& [left, right, equal] : cases) {
        EXPECT_EQ(equalIgnoringCase(left, right), equal) << left << " | " << right;
        EXPECT_EQ(equalIgnoringCase(right, left), equal) << right << " | " << left;
    }
}

TEST(TextCanonical, ComposedAndDecomposedAreEqual)
{
    EXPECT_TRUE(canonicallyEqual("caf\u00E9", "cafe\u0301"));
    EXPECT_FALSE(canonicallyEqual("cafe", "caf\u00E9"));
    EXPECT_EQ(canonicalForm("cafe\u0301"), "caf\u00E9");
}

TEST(TextGraphemes, CutsOnlyAtClusterBoundaries)
{
    const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";
    EXPECT_EQ(graphemeCount("ab" + family + "e\u0301"), 4u);
    EXPECT_EQ(prefixGraphemes("ab" + family + "cd", 3), "ab" + family);
    EXPECT_EQ(prefixGraphemes("e\u0301x", 1), "e\u0301");
    EXPECT_EQ(prefixGraphemes("abc", 10), "abc");
    EXPECT_EQ(prefixGraphemes("abc", 0), "");
}

} // namespace
} // namespace tavrik::text
