#include "TavrikCore/Support/Json.hpp"
#include "TavrikCore/Support/Uuid.hpp"
#include "tests/support/SequenceRandomSource.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace tavrik {
namespace {

TEST(JsonParse, RejectsInvalidTextAndTooDeepNesting)
{
    EXPECT_THROW(parseJson("{\"a\": }"), JsonDecodeError);
    EXPECT_THROW(parseJson(""), JsonDecodeError);

    const auto nested = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    EXPECT_NO_THROW(parseJson(nested(maximumJsonDepth)));
    EXPECT_THROW(parseJson(nested(maximumJsonDepth + 1)), JsonDecodeError);
    // Brackets inside strings do not count as nesting.
    EXPECT_NO_THROW(parseJson("{\"a\":\"" + std::string(1000, '[') + "\\\"\"}"));
}

TEST(JsonParse, ReadsAnyNumberFormWithoutLosingIntegers)
{
    const Json value = parseJson(R"({"big": 18446744073709551615, "neg": -5, "whole": 9.0})");
    EXPECT_EQ(json::requiredInt(value, "neg"), -5);
    EXPECT_EQ(json::requiredInt(value, "whole"), 9);
    EXPECT_THROW(json::requiredInt(value, "big"), JsonDecodeError);
}

TEST(JsonParse, KeepsEveryObjectInItsWrittenOrder)
{
    for (const char* text : { R"({"z":[1,{"b":true,"a":null},[]],"a":"x","m":{},"n":-2.5,"u":18446744073709551615})",
             R"([{"y":{"x":{"w":[false]}}},"s",7])", R"("alone")", "[]", "{}" }) {
        EXPECT_EQ(dumpJson(parseJson(text)), text);
    }
}

// A repeated key keeps the place of its first occurrence and takes the value of its last, whether the
// object is small or large and whatever the values are.
TEST(JsonParse, ARepeatedKeyKeepsItsFirstPlaceAndItsLastValue)
{
    const std::pair<const char*, const char*> cases[] = {
        { R"({"b":1,"a":2,"b":3})", R"({"b":3,"a":2})" },
        { R"({"k":1,"k":2,"k":3})", R"({"k":3})" },
        { R"({"a":{"x":1,"y":2},"b":0,"a":[1]})", R"({"a":[1],"b":0})" },
        { R"({"o":{"z":1,"y":2,"z":null}})", R"({"o":{"z":null,"y":2}})" },
        { R"([{"\u0061":1,"a":2},{"":1,"":{"":2}}])", R"([{"a":2},{"":{"":2}}])" },
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(dumpJson(parseJson(text)), expected) << text;
    }

    std::string text = "{";
    Json expected = Json::object();
    for (int index = 0; index < 600; ++index) {
        const std::string key = "k" + std::to_string(index * 7 % 240);
        text += (index == 0 ? "\"" : ",\"") + key + "\":" + std::to_string(index);
        expected[key] = index;
    }
    text += "}";
    EXPECT_EQ(dumpJson(parseJson(text)), dumpJson(expected));
}

struct IntegerCase {
    const char* text;
    bool validInt;
    bool validUInt32;
};

TEST(JsonReaders, IntegersAreStrict)
{
    const IntegerCase cases[] = {
        { "0", true, true },
        { "4294967295", true, true },
        { "4294967296", true, false },
        { "-1", true, false },
        { "9.0", true, true },
        { "9.5", false, false },
        { "1e300", false, false },
        { "true", false, false },
        { "\"9\"", false, false },
        { "9223372036854775807", true, false },
        { "9223372036854775808", false, false },
    };
    for (const auto& item : cases) {
        const Json value = parseJson(std::string("{\"v\":") + item.text + "}");
        SCOPED_TRACE(item.text);
        if (item.validInt) {
            EXPECT_NO_THROW(json::requiredInt(value, "v"));
        } else {
            EXPECT_THROW(json::requiredInt(value, "v"), JsonDecodeError);
        }
        if (item.validUInt32) {
            EXPECT_NO_THROW(json::requiredUInt32(value, "v"));
        } else {
            EXPECT_THROW(json::requiredUInt32(value, "v"), JsonDecodeError);
        }
    }
}

TEST(JsonReaders, BooleansAndNumbersDoNotMix)
{
    const Json value = parseJson(R"({"flag": true, "one": 1, "text": "x", "nothing": null})");
    EXPECT_TRUE(json::requiredBool(value, "flag"));
    EXPECT_THROW(json::requiredBool(value, "one"), JsonDecodeError);
    EXPECT_THROW(json::requiredInt(value, "flag"), JsonDecodeError);
    EXPECT_THROW(json::requiredString(value, "one"), JsonDecodeError);
    EXPECT_EQ(json::optionalString(value, "nothing"), std::nullopt);
    EXPECT_EQ(json::optionalString(value, "absent"), std::nullopt);
    EXPECT_THROW(json::requiredString(value, "nothing"), JsonDecodeError);
    EXPECT_THROW(json::optionalInt(value, "text"), JsonDecodeError);
}

TEST(JsonReaders, ArraysDecodeEveryElement)
{
    const Json value = parseJson(R"({"ids": [1, 2, 3], "bad": [1, -2], "notArray": 5})");
    EXPECT_EQ(json::requiredArray(value, "ids", [](const Json& e) { return json::asUInt32(e); }),
        (std::vector<std::uint32_t> { 1, 2, 3 }));
    EXPECT_THROW(json::asUInt32Array(value["bad"]), JsonDecodeError);
    EXPECT_THROW(json::asUInt32Array(value["notArray"]), JsonDecodeError);
    EXPECT_EQ(json::optionalArray(value, "absent", [](const Json& e) { return json::asInt(e); }), std::nullopt);
}

TEST(JsonWriters, KeepDeclaredOrderOrSortForBackups)
{
    Json object = Json::object();
    object["zeta"] = 1;
    object["alpha"] = "a";
    json::putOptional(object, "missing", std::optional<int>());
    EXPECT_EQ(dumpJson(object), R"({"zeta":1,"alpha":"a"})");
    EXPECT_EQ(strictSortedJsonText(object, true), "{\n  \"alpha\": \"a\",\n  \"zeta\": 1\n}");
    EXPECT_EQ(strictSortedJsonText(object, false), R"({"alpha":"a","zeta":1})");
}

TEST(JsonWriters, StrictTextRefusesWhatTheLenientDumpWouldRewrite)
{
    const Json cases[] = {
        Json { { "n", std::nan("") } },
        Json::array({ 1, Json::array({ std::numeric_limits<double>::infinity() }) }),
        Json { { "s", "bad \xFF byte" } },
    };
    for (const Json& value : cases) {
        EXPECT_EQ(strictJsonText(value), std::nullopt) << dumpJson(value);
        EXPECT_EQ(strictSortedJsonText(value, true), std::nullopt) << dumpJson(value);
    }
    EXPECT_EQ(strictJsonText(Json { { "x", 1.5 } }), R"({"x":1.5})");
}

TEST(UuidText, RoundTripsUpperCase)
{
    test::SequenceRandomSource random({ 0x0123456789ABCDEFull, 0xFEDCBA9876543210ull });
    const Uuid uuid = Uuid::random(random);
    const std::string text = uuid.text();
    EXPECT_EQ(text.size(), 36u);
    EXPECT_EQ(text[14], '4');
    EXPECT_EQ(Uuid::parse(text), uuid);
    EXPECT_EQ(Uuid::parse("e621e1f8-c36c-495a-93fc-0c247a3e6e5f")->text(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_EQ(Uuid::parse("E621E1F8C36C495A93FC0C247A3E6E5F"), std::nullopt);
}

} // namespace
} // namespace tavrik
