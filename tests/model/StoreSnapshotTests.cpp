#include "TavrikCore/Model/StoreSnapshot.hpp"
#include "TavrikCore/Model/SyncImportError.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace tavrik {
namespace {

StoreSnapshotPayload snapshot(std::vector<StoreEntryPayload> entries, std::int64_t schemaVersion = 1)
{
    return StoreSnapshotPayload { schemaVersion, std::move(entries) };
}

StoreSnapshotPayload single(std::string key, std::string type, std::string value)
{
    return snapshot({ StoreEntryPayload { std::move(key), std::move(type), std::move(value) } });
}

std::vector<StoreEntryPayload> numberedEntries(int count)
{
    std::vector<StoreEntryPayload> entries;
    for (int index = 0; index < count; ++index) {
        // The entry past the limit also has a bad key: the count is checked first.
        entries.push_back(
            { index == 128 ? std::string("bad key") : std::string("k").append(std::to_string(index)), "u8", "1" });
    }
    return entries;
}

// The refusal message, or nothing when the snapshot passes.
std::optional<std::string> refusal(const StoreSnapshotPayload& payload)
{
    try {
        payload.validateForImport();
    } catch (const SyncImportError& error) {
        EXPECT_EQ(error.message(), error.what());
        return error.message();
    }
    return std::nullopt;
}

TEST(StoreSnapshot, RefusalsAndTheirMessages)
{
    struct Case {
        std::string name;
        StoreSnapshotPayload payload;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        { "empty", snapshot({}), std::nullopt },
        { "version 2", snapshot({}, 2), "Unsupported device-store snapshot version 2" },
        { "version before entries", snapshot({ { "bad key", "u8", "x" } }, 0),
            "Unsupported device-store snapshot version 0" },
        { "version -1", snapshot({}, -1), "Unsupported device-store snapshot version -1" },
        { "128 entries", snapshot(numberedEntries(128)), std::nullopt },
        { "129 entries", snapshot(numberedEntries(129)), "Device-store snapshot contains too many entries" },
        { "15-byte key", single("abcdefghijklmno", "u8", "1"), std::nullopt },
        { "ascii key", single("Az_09", "u8", "1"), std::nullopt },
        { "16-byte key", single("abcdefghijklmnop", "u8", "1"), "Device-store snapshot contains an invalid key" },
        { "empty key", single("", "u8", "1"), "Device-store snapshot contains an invalid key" },
        { "hyphen", single("a-b", "u8", "1"), "Device-store snapshot contains an invalid key" },
        { "dot", single("a.b", "u8", "1"), "Device-store snapshot contains an invalid key" },
        { "blank", single("a b", "u8", "1"), "Device-store snapshot contains an invalid key" },
        { "non-ascii", single("caf\xC3\xA9", "u8", "1"), "Device-store snapshot contains an invalid key" },
        { "case-distinct keys", snapshot({ { "mode", "u8", "1" }, { "MODE", "u8", "2" } }), std::nullopt },
        { "repeated key", snapshot({ { "mode", "u8", "1" }, { "x", "u8", "1" }, { "mode", "string", "" } }),
            "Device-store snapshot repeats key mode" },
        { "type in capitals", single("k", "U8", "1"), "Device-store snapshot uses unsupported type U8" },
        { "unknown type", single("k", "float", "1"), "Device-store snapshot uses unsupported type float" },
        { "bad value before bad key", snapshot({ { "first", "u8", "x" }, { "bad key", "u8", "1" } }),
            "Device-store snapshot contains invalid data for first" },
    };
    for (const Case& testCase : cases) {
        EXPECT_EQ(refusal(testCase.payload), testCase.expected) << testCase.name;
    }
}

TEST(StoreSnapshot, ValuesMustParseAsTheirType)
{
    struct Case {
        std::string type;
        std::string value;
        bool valid;
    };
    const Case cases[] = {
        { "u8", "255", true },
        { "u8", "256", false },
        { "u8", "0000000255", true },
        { "u8", "-0", true },
        { "u8", "-1", false },
        { "u8", "", false },
        { "u8", "+", false },
        { "u8", " 1", false },
        { "u8", "1 ", false },
        { "u8", "0x1", false },
        { "i8", "-128", true },
        { "i8", "-129", false },
        { "i8", "127", true },
        { "i8", "128", false },
        { "u16", "+7", true },
        { "u16", "65535", true },
        { "u16", "65536", false },
        { "i16", "-32768", true },
        { "i16", "32768", false },
        { "u32", "-0", true },
        { "u32", "-1", false },
        { "u32", "4294967295", true },
        { "u32", "4294967296", false },
        { "u32", "1 000", false },
        { "u32", "1,000", false },
        { "i32", "-2147483648", true },
        { "i32", "2147483648", false },
        { "u64", "18446744073709551615", true },
        { "u64", "18446744073709551616", false },
        { "u64", "99999999999999999999999", false },
        { "i64", "-9223372036854775808", true },
        { "i64", "-9223372036854775809", false },
        { "i64", "9223372036854775807", true },
        { "i64", "9223372036854775808", false },
        { "i64", "--1", false },
        { "string", "", true },
        { "string", "any text \xE2\x9C\x93", true },
        { "blob", "", true },
        { "blob", "AAEC/w==", true },
        { "blob", "AAECAw==", true },
        { "blob", "AAE=", true },
        { "blob", "+/8A", true },
        { "blob", "AAE", false },
        { "blob", "AA=E", false },
        { "blob", "A===", false },
        { "blob", "AAEC\nAw==", false },
        { "blob", "AA EC", false },
        { "blob", "AA-_", false },
        { "blob", "not base64!", false },
    };
    for (const auto& [type, value, valid] : cases) {
        const std::optional<std::string> message = refusal(single("k", type, value));
        EXPECT_EQ(message,
            valid ? std::nullopt : std::optional<std::string>("Device-store snapshot contains invalid data for k"))
            << type << " \"" << value << "\"";
    }
}

TEST(StoreSnapshot, JsonRoundTripKeepsKeyOrder)
{
    const std::string text = R"({"schemaVersion":1,"entries":[{"key":"volume","type":"u8","value":"7"}]})";
    const StoreSnapshotPayload payload = storeSnapshotPayloadFromJson(parseJson(text));
    EXPECT_EQ(payload, single("volume", "u8", "7"));
    EXPECT_EQ(dumpJson(toJson(payload)), text);

    const std::string refused[] = {
        R"({"schemaVersion":1})",
        R"({"entries":[]})",
        R"({"schemaVersion":"1","entries":[]})",
        R"({"schemaVersion":1,"entries":[{"key":"k","type":"u8"}]})",
        R"({"schemaVersion":1,"entries":[{"key":"k","type":"u8","value":7}]})",
    };
    for (const std::string& bad : refused) {
        EXPECT_THROW(storeSnapshotPayloadFromJson(parseJson(bad)), JsonDecodeError) << bad;
    }
}

} // namespace
} // namespace tavrik
