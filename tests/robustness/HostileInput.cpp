#include "tests/robustness/HostileInput.hpp"

#include <limits>

namespace tavrik::test {

namespace {

Json scalarOf(std::size_t choice)
{
    switch (choice) {
    case 0:
        return nullptr;
    case 1:
        return true;
    case 2:
        return false;
    case 3:
        return 0;
    case 4:
        return -1;
    case 5:
        return std::numeric_limits<std::int64_t>::min();
    case 6:
        return std::numeric_limits<std::int64_t>::max();
    case 7:
        return std::numeric_limits<std::uint64_t>::max();
    case 8:
        return 4294967295U;
    case 9:
        return 4294967296U;
    case 10:
        return 65536;
    case 11:
        return 1e300;
    case 12:
        return -1e300;
    case 13:
        return 0.5;
    case 14:
        return 9.0;
    case 15:
        return -0.0;
    case 16:
        return "";
    case 17:
        return " ";
    case 18:
        return "0";
    case 19:
        return "-1";
    case 20:
        return std::string(5000, 'x');
    case 21:
        return "\u00e9\u0301\U0001F600 \u200b";
    case 22:
        return "line\nbreak\"quote\\";
    case 23:
        return "https://example.invalid/a";
    case 24:
        return "file:///etc/passwd";
    case 25:
        return "m5stick-c";
    case 26:
        return "9999999999999999999999";
    case 27:
        return 1;
    case 28:
        return 2;
    default:
        return 128;
    }
}

constexpr std::size_t scalarCount = 30;

} // namespace

Json HostileInput::scalar()
{
    return scalarOf(below(scalarCount));
}

Json HostileInput::value(int depth)
{
    if (depth <= 0 || chance(70)) {
        return scalar();
    }
    const std::size_t count = below(4);
    if (chance(50)) {
        Json array = Json::array();
        for (std::size_t index = 0; index < count; ++index) {
            array.push_back(value(depth - 1));
        }
        return array;
    }
    static const std::vector<std::string> keys { "id", "type", "label", "steps", "groups", "message", "state", "uid",
        "name", "value", "", "\u00fc" };
    Json object = Json::object();
    for (std::size_t index = 0; index < count; ++index) {
        object[pick(keys)] = value(depth - 1);
    }
    return object;
}

void HostileInput::mutateOnce(Json& node, int depth)
{
    const bool descend = node.is_structured() && !node.empty() && depth < 6 && chance(65);
    if (descend) {
        const std::size_t index = below(node.size());
        auto element = node.begin();
        std::advance(element, static_cast<std::ptrdiff_t>(index));
        mutateOnce(*element, depth + 1);
        return;
    }
    if (node.is_object() && !node.empty() && chance(35)) {
        auto element = node.begin();
        std::advance(element, static_cast<std::ptrdiff_t>(below(node.size())));
        node.erase(element.key());
        return;
    }
    if (node.is_object() && chance(20)) {
        node["extra" + std::to_string(below(3))] = value(1);
        return;
    }
    if (node.is_array() && chance(25)) {
        // The same element again: repeated ids, repeated stages, repeated tags.
        node.push_back(node.empty() ? value(1) : node[below(node.size())]);
        return;
    }
    node = value(2);
}

Json HostileInput::mutated(Json document, int changes)
{
    const int count = changes > 0 ? changes : 1 + static_cast<int>(below(3));
    for (int change = 0; change < count; ++change) {
        mutateOnce(document, 0);
    }
    return document;
}

Json HostileInput::sameKind(const Json& original)
{
    if (original.is_boolean()) {
        return !original.get<bool>();
    }
    if (original.is_number()) {
        static const std::vector<Json> numbers { 0, 1, 2, -1, 7, 59, 60, 128, 255, 65535, 65536, 4294967295U,
            4294967296U, std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max(),
            std::numeric_limits<std::uint64_t>::max(), 2.0, 0.5, 1e300 };
        return pick(numbers);
    }
    if (original.is_string()) {
        static const std::vector<Json> texts { "", " ", "1", "2", "99", "0", "+1", "01", "timebox", "rotation",
            "single", "recurring", "m5stick-s3", "m5stick-c", "t-embed-cc1101", std::string(300, 'w'), "\u00e9\u0301",
            "a\"b\\c", "\n" };
        return pick(texts);
    }
    return value(1);
}

void HostileInput::nudgeOnce(Json& node, int depth)
{
    if (node.is_structured() && !node.empty() && (depth < 6 && chance(80))) {
        if (node.is_array() && chance(20)) {
            if (chance(50)) {
                node.push_back(node[below(node.size())]);
            } else {
                node.erase(below(node.size()));
            }
            return;
        }
        auto element = node.begin();
        std::advance(element, static_cast<std::ptrdiff_t>(below(node.size())));
        nudgeOnce(*element, depth + 1);
        return;
    }
    node = sameKind(node);
}

Json HostileInput::nudged(Json document, int changes)
{
    const int count = changes > 0 ? changes : 1 + static_cast<int>(below(2));
    for (int change = 0; change < count; ++change) {
        nudgeOnce(document, 0);
    }
    return document;
}

Data HostileInput::brokenText(const Json& document)
{
    const std::string text = dumpJson(document);
    switch (below(10)) {
    case 0:
        return textBytes(std::string_view(text).substr(0, below(text.size())));
    case 1: {
        // A string holding bytes that are not UTF-8.
        std::string bad = text;
        const std::size_t quote = bad.find("\":\"");
        const std::string invalid = "\xff\xfe\xc3\x28\xed\xa0\x80";
        bad.insert(quote == std::string::npos ? 0 : quote + 3, invalid);
        return textBytes(bad);
    }
    case 2:
        return textBytes(std::string(300, '[') + std::string(300, ']'));
    case 3:
        return textBytes(std::string(257, '[') + std::string(257, ']'));
    case 4:
        return textBytes("\xef\xbb\xbf" + text);
    case 5: {
        std::string withNul = text;
        withNul.insert(withNul.size() / 2, 1, '\0');
        return textBytes(withNul);
    }
    case 6:
        return textBytes(R"({"type":"firmware_status","state":"receiving","nextChunkIndex":1e999,"value":NaN})");
    case 7:
        return textBytes(text + text);
    case 8: {
        // Well-formed, but with a member nested exactly as deep as a reader allows.
        if (!document.is_object()) {
            return noise(64);
        }
        const int depth = maximumJsonDepth - 1;
        std::string deep = text.substr(0, text.size() - 1) + (document.empty() ? "" : ",") + "\"deep\":";
        deep += std::string(static_cast<std::size_t>(depth), '[');
        deep += std::string(static_cast<std::size_t>(depth), ']') + "}";
        return textBytes(deep);
    }
    default:
        return noise(64);
    }
}

Data HostileInput::noise(std::size_t maximumLength)
{
    Data bytes(below(maximumLength + 1));
    for (std::uint8_t& byte : bytes) {
        byte = static_cast<std::uint8_t>(engine());
    }
    return bytes;
}

Data bytesOf(const Json& document)
{
    return dumpJsonData(document);
}

Data textBytes(std::string_view text)
{
    return Data(text.begin(), text.end());
}

} // namespace tavrik::test
