#include "TavrikCore/Support/Base64.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

TEST(Base64Test, ReadsALongTextInPiecesAsWholeAndRefusesPaddingBeforeTheLastPiece)
{
    const struct {
        std::vector<std::string_view> pieces;
        std::optional<std::string_view> bytes;
    } cases[] = {
        { { "Zm9v", "YmFy" }, "foobar" },
        { { "Zm9v", "YmE=" }, "fooba" },
        { { "Zm9v", "", "Yg==" }, "foob" },
        { { "Zm8=", "YmFy" }, std::nullopt },
        { { "Zm9v", "Ym" }, std::nullopt },
        { { "Zm9v", "Y=Fy" }, std::nullopt },
        { { "Zm-v", "YmFy" }, std::nullopt },
    };
    for (const auto& [pieces, bytes] : cases) {
        Data decoded;
        bool read = true;
        for (std::size_t index = 0; read && index < pieces.size(); ++index) {
            read = base64DecodePiece(pieces[index], index + 1 == pieces.size(), decoded);
        }
        ASSERT_EQ(read, bytes.has_value()) << pieces.front() << pieces.back();
        if (bytes) {
            EXPECT_EQ(std::string(decoded.begin(), decoded.end()), *bytes);
        }
    }
}

} // namespace
} // namespace tavrik
