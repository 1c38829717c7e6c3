#include "TavrikCore/Support/Json.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <utility>
#include <vector>

namespace tavrik {

namespace {

// nlohmann's parser has no depth limit; one pass over the bytes finds too deep a nesting before
// any tree is built.
bool exceedsDepth(std::string_view text)
{
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const char character : text) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (character == '\\') {
                escaped = true;
            } else if (character == '"') {
                inString = false;
            }
            continue;
        }
        switch (character) {
        case '"':
            inString = true;
            break;
        case '[':
        case '{':
            if (++depth > maximumJsonDepth) {
                return true;
            }
            break;
        case ']':
        case '}':
            --depth;
            break;
        default:
            break;
        }
    }
    return false;
}

std::string quoted(std::string_view key)
{
    return "\"" + std::string(key) + "\"";
}

[[noreturn]] void typeMismatch(std::string_view key, std::string_view expected)
{
    throw JsonDecodeError("Expected " + std::string(expected) + " for " + quoted(key));
}

} // namespace

namespace {

// Builds the ordered tree from the parser's events. The ordered object's own insertion looks for the
// key among all earlier ones, so an object of n keys would cost n² comparisons: members are
// gathered in a plain list instead, and a repeated key is found by sorting once the object closes.
// A repeated key keeps the place of its first occurrence and the value of its last, as inserting
// each member in turn would.
class OrderedTreeBuilder {
public:
    using number_integer_t = Json::number_integer_t;
    using number_unsigned_t = Json::number_unsigned_t;
    using number_float_t = Json::number_float_t;
    using string_t = Json::string_t;
    using binary_t = Json::binary_t;

    explicit OrderedTreeBuilder(Json& root)
        : root(root)
    {
    }

    bool null() { return place(nullptr); }
    bool boolean(bool value) { return place(value); }
    bool number_integer(number_integer_t value) { return place(value); }
    bool number_unsigned(number_unsigned_t value) { return place(value); }
    bool number_float(number_float_t value, const string_t&) { return place(value); }
    bool string(string_t& value) { return place(std::move(value)); }
    bool binary(binary_t& value) { return place(Json::binary(std::move(value))); }

    bool start_object(std::size_t)
    {
        Json* object = slot();
        *object = Json::object();
        open.push_back({ object, {} });
        return true;
    }

    bool key(string_t& name)
    {
        open.back().members.emplace_back(std::move(name), nullptr);
        return true;
    }

    bool end_object()
    {
        Level& level = open.back();
        dropRepeatedKeys(level.members);
        auto& object = static_cast<Json::object_t::Container&>(level.container->get_ref<Json::object_t&>());
        object.reserve(level.members.size());
        for (auto& [name, value] : level.members) {
            if (!value.is_discarded()) {
                object.emplace_back(std::move(name), std::move(value));
            }
        }
        open.pop_back();
        return true;
    }

    bool start_array(std::size_t)
    {
        Json* array = slot();
        *array = Json::array();
        open.push_back({ array, {} });
        return true;
    }

    bool end_array()
    {
        open.pop_back();
        return true;
    }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& error)
    {
        // Only a syntax error has a place in the text; a number out of range has none.
        if (const auto* syntax = dynamic_cast<const nlohmann::detail::parse_error*>(&error)) {
            syntaxErrorByte = syntax->byte;
        }
        return false;
    }

    std::optional<std::size_t> syntaxErrorByte;

private:
    using Members = std::vector<std::pair<std::string, Json>>;

    struct Level {
        Json* container;
        // An object's members until it closes; an array takes its elements directly.
        Members members;
    };
    // `slot` hands out places inside an open level's members: growing the list of levels must move
    // them, never copy them.
    static_assert(std::is_nothrow_move_constructible_v<Level>);

    // Where the next value goes: the root, the end of the open array, or the open object's last key.
    Json* slot()
    {
        if (open.empty()) {
            return &root;
        }
        Level& level = open.back();
        if (level.container->is_array()) {
            return &level.container->get_ref<Json::array_t&>().emplace_back();
        }
        return &level.members.back().second;
    }

    template <class Value>
    bool place(Value&& value)
    {
        *slot() = Json(std::forward<Value>(value));
        return true;
    }

    // Moves each repeated key's last value to its first place and marks the later places discarded.
    void dropRepeatedKeys(Members& members)
    {
        if (members.size() < 2) {
            return;
        }
        order.resize(members.size());
        std::iota(order.begin(), order.end(), std::size_t { 0 });
        std::sort(order.begin(), order.end(), [&members](std::size_t left, std::size_t right) {
            const int comparison = members[left].first.compare(members[right].first);
            return comparison < 0 || (comparison == 0 && left < right);
        });
        for (std::size_t start = 0; start < order.size();) {
            std::size_t end = start + 1;
            while (end < order.size() && members[order[end]].first == members[order[start]].first) {
                ++end;
            }
            if (end - start > 1) {
                members[order[start]].second = std::move(members[order[end - 1]].second);
                for (std::size_t later = start + 1; later < end; ++later) {
                    members[order[later]].second = Json(Json::value_t::discarded);
                }
            }
            start = end;
        }
    }

    Json& root;
    std::vector<Level> open;
    std::vector<std::size_t> order;
};
} // namespace

Json parseJson(std::string_view text)
{
    if (exceedsDepth(text)) {
        throw JsonDecodeError("The data is nested too deeply");
    }
    Json result;
    OrderedTreeBuilder builder(result);
    if (!Json::sax_parse(text.begin(), text.end(), &builder)) {
        if (builder.syntaxErrorByte) {
            throw JsonDecodeError("The data is not valid JSON", *builder.syntaxErrorByte);
        }
        throw JsonDecodeError("The data is not valid JSON");
    }
    return result;
}

Json parseJson(const Data& bytes)
{
    return parseJson(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::string dumpJson(const Json& value)
{
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Data dumpJsonData(const Json& value)
{
    return dataFromString(dumpJson(value));
}

namespace {
bool containsNonFiniteNumber(const Json& value)
{
    if (value.is_number_float()) {
        return !std::isfinite(value.get<double>());
    }
    if (value.is_structured()) {
        for (const Json& element : value) {
            if (containsNonFiniteNumber(element)) {
                return true;
            }
        }
    }
    return false;
}

template <class Document>
std::optional<std::string> strictText(const Document& document, int indent)
{
    try {
        return document.dump(indent, ' ', false, Document::error_handler_t::strict);
    } catch (const typename Document::exception&) {
        return std::nullopt;
    }
}
} // namespace

std::optional<std::string> strictJsonText(const Json& value)
{
    if (containsNonFiniteNumber(value)) {
        return std::nullopt;
    }
    return strictText(value, -1);
}

std::optional<std::string> strictSortedJsonText(const Json& value, bool prettyPrinted)
{
    if (containsNonFiniteNumber(value)) {
        return std::nullopt;
    }
    // nlohmann::json keeps its object keys sorted.
    const nlohmann::json sorted = value;
    return strictText(sorted, prettyPrinted ? 2 : -1);
}

namespace json {

const Json& requireObject(const Json& value, std::string_view what)
{
    if (!value.is_object()) {
        throw JsonDecodeError("Expected an object for " + quoted(what));
    }
    return value;
}

const Json* member(const Json& object, std::string_view key)
{
    if (!object.is_object()) {
        throw JsonDecodeError("Expected an object holding " + quoted(key));
    }
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) {
        return nullptr;
    }
    return &*found;
}

const Json& required(const Json& object, std::string_view key)
{
    const Json* value = member(object, key);
    if (value == nullptr) {
        throw JsonDecodeError("Missing value for " + quoted(key));
    }
    return *value;
}

std::string asString(const Json& value, std::string_view key)
{
    if (!value.is_string()) {
        typeMismatch(key, "a string");
    }
    return value.get_ref<const std::string&>();
}

bool asBool(const Json& value, std::string_view key)
{
    if (!value.is_boolean()) {
        typeMismatch(key, "a boolean");
    }
    return value.get<bool>();
}

bool isInteger(const Json& value)
{
    if (value.is_number_integer() && !value.is_number_unsigned()) {
        return true;
    }
    if (value.is_number_unsigned()) {
        return value.get<std::uint64_t>() <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    }
    if (value.is_number_float()) {
        const double number = value.get<double>();
        // 2^63 itself is out of range; -2^63 is in.
        return std::isfinite(number) && std::trunc(number) == number && number >= -9223372036854775808.0
            && number < 9223372036854775808.0;
    }
    return false;
}

std::int64_t asInt(const Json& value, std::string_view key)
{
    if (!value.is_number()) {
        typeMismatch(key, "an integer");
    }
    if (!isInteger(value)) {
        throw JsonDecodeError("Number for " + quoted(key) + " is not a representable integer");
    }
    if (value.is_number_float()) {
        return static_cast<std::int64_t>(value.get<double>());
    }
    if (value.is_number_unsigned()) {
        return static_cast<std::int64_t>(value.get<std::uint64_t>());
    }
    return value.get<std::int64_t>();
}

namespace {
template <class Unsigned>
Unsigned asUnsigned(const Json& value, std::string_view key)
{
    const std::int64_t number = asInt(value, key);
    if (number < 0 || static_cast<std::uint64_t>(number) > std::numeric_limits<Unsigned>::max()) {
        throw JsonDecodeError("Number for " + quoted(key) + " is out of range");
    }
    return static_cast<Unsigned>(number);
}
} // namespace

std::uint32_t asUInt32(const Json& value, std::string_view key)
{
    return asUnsigned<std::uint32_t>(value, key);
}

std::uint16_t asUInt16(const Json& value, std::string_view key)
{
    return asUnsigned<std::uint16_t>(value, key);
}

std::uint8_t asUInt8(const Json& value, std::string_view key)
{
    return asUnsigned<std::uint8_t>(value, key);
}

double asDouble(const Json& value, std::string_view key)
{
    if (!value.is_number()) {
        typeMismatch(key, "a number");
    }
    return value.get<double>();
}

std::string requiredString(const Json& object, std::string_view key)
{
    return asString(required(object, key), key);
}

std::optional<std::string> optionalString(const Json& object, std::string_view key)
{
    const Json* value = member(object, key);
    return value ? std::optional<std::string>(asString(*value, key)) : std::nullopt;
}

bool requiredBool(const Json& object, std::string_view key)
{
    return asBool(required(object, key), key);
}

std::optional<bool> optionalBool(const Json& object, std::string_view key)
{
    const Json* value = member(object, key);
    return value ? std::optional<bool>(asBool(*value, key)) : std::nullopt;
}

std::int64_t requiredInt(const Json& object, std::string_view key)
{
    return asInt(required(object, key), key);
}

std::optional<std::int64_t> optionalInt(const Json& object, std::string_view key)
{
    const Json* value = member(object, key);
    return value ? std::optional<std::int64_t>(asInt(*value, key)) : std::nullopt;
}

std::uint32_t requiredUInt32(const Json& object, std::string_view key)
{
    return asUInt32(required(object, key), key);
}

std::optional<std::uint32_t> optionalUInt32(const Json& object, std::string_view key)
{
    const Json* value = member(object, key);
    return value ? std::optional<std::uint32_t>(asUInt32(*value, key)) : std::nullopt;
}

double requiredDouble(const Json& object, std::string_view key)
{
    return asDouble(required(object, key), key);
}

std::optional<double> optionalDouble(const Json& object, std::string_view key)
{
    const Json* value = member(object, key);
    return value ? std::optional<double>(asDouble(*value, key)) : std::nullopt;
}

std::vector<std::uint32_t> asUInt32Array(const Json& value, std::string_view key)
{
    return asArray(value, key, [key](const Json& element) { return asUInt32(element, key); });
}

std::vector<std::string> asStringArray(const Json& value, std::string_view key)
{
    return asArray(value, key, [key](const Json& element) { return asString(element, key); });
}

} // namespace json
} // namespace tavrik
