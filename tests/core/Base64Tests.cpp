#include "TavrikCore/Support/Base64.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace tavrik {
namespace {

TEST(Base64Test, EncodesEveryTailLengthAndDecodesItBack)
{
    const struct {
        std::string_view bytes;
        std::string_view text;
    } cases[] = {
        { "", "" },
        { "f", "Zg==" },
        { "fo", "Zm8=" },
        { "foo", "Zm9v" },
        { "foob", "Zm9vYg==" },
        { "fooba", "Zm9vYmE=" },
        { "foobar", "Zm9vYmFy" },
        { std::string_view("\xFB\xFF\x00\x3E", 4), "+/8APg==" },
    };
    for (const auto& [bytes, text] : cases) {
        EXPECT_EQ(base64Encoded(bytes), text) << text;
        const std::optional<Data> decoded = base64Decoded(text);
        ASSERT_TRUE(decoded.has_value()) << text;
        EXPECT_EQ(std::string(decoded->begin(), decoded->end()), bytes) << text;
    }
}

TEST(Base64Test, RefusesTextThatIsNotThePaddedStandardForm)
{
    for (const std::string_view text :
        { "Zg", "Zg=", "Zm9vY", "Zg=a", "=Zg=", "Z===", "====", "Zm 9", "Zm9v\n", "Zm-_" }) {
        EXPECT_FALSE(base64Decoded(text).has_value()) << text;
    }
}

} // namespace
} // namespace tavrik
