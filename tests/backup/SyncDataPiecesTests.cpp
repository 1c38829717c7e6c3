#include "TavrikCore/Backup/SyncDataPieces.hpp"
#include "TavrikCore/Support/Json.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace tavrik {
namespace {

// The document read back from its pieces, or nothing when a piece is not valid JSON.
std::optional<Json> reassembled(const SyncDataPieces& pieces)
{
    try {
        Json document = parseJson(pieces.document);
        Json routines = Json::array();
        for (const std::string_view routine : pieces.routines) {
            routines.push_back(parseJson(routine));
        }
        document["routines"] = std::move(routines);
        return document;
    } catch (const JsonDecodeError&) {
        return std::nullopt;
    }
}

std::optional<Json> parsedWhole(const std::string& text)
{
    try {
        return parseJson(text);
    } catch (const JsonDecodeError&) {
        return std::nullopt;
    }
}

TEST(SyncDataPiecesTests, PiecesReadBackAsTheWholeTextOrTheTextIsLeftWhole)
{
    const std::string deep = std::string(300, '[') + std::string(300, ']');
    const struct {
        const char* what;
        std::string text;
        // Routines found; -1: the text is left to the whole-document reader.
        int routines;
    } cases[] = {
        { "plain", R"({"type":"sync_data","routines":[{"id":1},{"id":2}],"tags":[]})", 2 },
        { "structure inside strings", R"({"a":"}]{[,:","routines":[{"label":"a],{\"b"},{"l":"x"}],"z":"routines"})", 2 },
        { "a string ending in a backslash", R"({"routines":[{"a":"x\\"},{"b":"\\\""}]})", 2 },
        { "escapes inside routines", R"({"routines":[{"rout\u0069nes":"\u005d\n"}]})", 1 },
        { "blanks everywhere", " \n{ \"routines\" :\t[ {\"id\":1} , [1,[2,{}]] ,\"x\", 3 , null ] } \r\n", 5 },
        { "no routines", R"({"routines":[],"tags":[]})", 0 },
        { "a nested routines key", R"({"x":{"routines":[1]},"routines":[{"id":2}]})", 1 },
        { "text beyond ASCII", "{\"routines\":[{\"label\":\"Caf\xC3\xA9 \xE2\x98\x95\"}]}", 1 },
        // Faults the scanner passes on: the piece's reader refuses it as the whole reader does.
        { "a broken number", R"({"routines":[{"id":1x}]})", 1 },
        { "a control character in a string", "{\"routines\":[{\"label\":\"a\tb\"}]}", 1 },
        { "a bad literal", R"({"routines":[tru],"tags":nul})", 1 },
        { "only a nested routines key", R"({"x":{"routines":[1]}})", -1 },
        { "an escaped key", R"({"rout\u0069nes":[{"id":1}]})", -1 },
        { "a repeated key", R"({"routines":[],"routines":[{"id":1}]})", -1 },
        { "routines not an array", R"({"routines":{"id":1}})", -1 },
        { "text after the end", R"({"routines":[]} x)", -1 },
        { "a second document", R"({"routines":[]}{})", -1 },
        { "a trailing comma", R"({"routines":[{"id":1},]})", -1 },
        { "an open string", R"({"routines":[{"label":"abc}]})", -1 },
        { "a missing colon", R"({"routines" [1]})", -1 },
        { "mismatched brackets", R"({"routines":[{"id":[1}]]})", -1 },
        { "an array at the top", R"([{"routines":[]}])", -1 },
        { "nesting past the limit", R"({"routines":[)" + deep + "]}", -1 },
        { "nothing", "", -1 },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        const std::optional<SyncDataPieces> pieces = SyncDataPieces::split(test.text);
        // Cut a byte at a step, the text is cut at every place it can stop and go on.
        SyncDataPieces::Splitter splitter(test.text);
        std::size_t steps = 0;
        while (!splitter.advance(1)) {
            ++steps;
        }
        const std::optional<SyncDataPieces> stepped = splitter.take();
        EXPECT_EQ(stepped.has_value(), pieces.has_value());
        if (stepped && pieces) {
            EXPECT_EQ(stepped->document, pieces->document);
            EXPECT_EQ(stepped->routines, pieces->routines);
            EXPECT_GE(steps, pieces->routines.size());
        }
        if (test.routines < 0) {
            EXPECT_FALSE(pieces);
            continue;
        }
        ASSERT_TRUE(pieces);
        EXPECT_EQ(pieces->routines.size(), static_cast<std::size_t>(test.routines));
        // Either both readings fail, or both give the same values.
        EXPECT_EQ(reassembled(*pieces), parsedWhole(test.text));
    }
}

} // namespace
} // namespace tavrik
