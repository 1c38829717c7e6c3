#pragma once

#include "TavrikCore/Support/Data.hpp"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace tavrik {

// Key order is kept so that what the device reads comes out in the order the records declare.
using Json = nlohmann::ordered_json;

// A document or record that does not have the expected shape. `what()` names what was wrong.
class JsonDecodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    // A syntax error found by the parser, `byte` counted from 1 where it gave up on the text.
    JsonDecodeError(const std::string& what, std::size_t byte)
        : std::runtime_error(what)
        , syntaxByte(byte)
    {
    }

    // Where the text stopped being JSON; none for errors that have no place (too deep, a number
    // out of range, a record of the wrong shape).
    std::optional<std::size_t> syntaxErrorByte() const { return syntaxByte; }

private:
    std::optional<std::size_t> syntaxByte;
};

inline constexpr int maximumJsonDepth = 256;

// Strict parsing: invalid JSON, or nesting deeper than `maximumJsonDepth`, throws JsonDecodeError.
Json parseJson(std::string_view text);
Json parseJson(const Data& bytes);

// Compact output; invalid UTF-8 in strings is replaced rather than thrown.
std::string dumpJson(const Json& value);
Data dumpJsonData(const Json& value);
// What a strict encoder writes: nothing when the value holds NaN, an infinity or text that is not
// UTF-8, where the lenient dump would write null or replacement characters.
std::optional<std::string> strictJsonText(const Json& value);
// The same with keys sorted, indented by two blanks when pretty printed (backup files).
std::optional<std::string> strictSortedJsonText(const Json& value, bool prettyPrinted);

namespace json {

// The value as an object, else throws naming `what`.
const Json& requireObject(const Json& value, std::string_view what = "value");

// The member, or nullptr when the key is absent or its value is null.
const Json* member(const Json& object, std::string_view key);
// The member; throws when the key is absent or null.
const Json& required(const Json& object, std::string_view key);

// Scalar readers. A boolean is never a number and a number never a boolean; integers are range
// checked; a whole-number float such as 9.0 reads as an integer. `key` only names the value in errors.
std::string asString(const Json& value, std::string_view key = "value");
bool asBool(const Json& value, std::string_view key = "value");
std::int64_t asInt(const Json& value, std::string_view key = "value");
std::uint32_t asUInt32(const Json& value, std::string_view key = "value");
std::uint16_t asUInt16(const Json& value, std::string_view key = "value");
std::uint8_t asUInt8(const Json& value, std::string_view key = "value");
double asDouble(const Json& value, std::string_view key = "value");
// Whether the value is a number that `asInt` would accept.
bool isInteger(const Json& value);

std::string requiredString(const Json& object, std::string_view key);
std::optional<std::string> optionalString(const Json& object, std::string_view key);
bool requiredBool(const Json& object, std::string_view key);
std::optional<bool> optionalBool(const Json& object, std::string_view key);
std::int64_t requiredInt(const Json& object, std::string_view key);
std::optional<std::int64_t> optionalInt(const Json& object, std::string_view key);
std::uint32_t requiredUInt32(const Json& object, std::string_view key);
std::optional<std::uint32_t> optionalUInt32(const Json& object, std::string_view key);
double requiredDouble(const Json& object, std::string_view key);
std::optional<double> optionalDouble(const Json& object, std::string_view key);

// Reads every element of an array value with `decode(const Json&)`.
template <class Decode>
auto asArray(const Json& value, std::string_view key, Decode&& decode)
{
    using Element = std::decay_t<decltype(decode(value))>;
    if (!value.is_array()) {
        throw JsonDecodeError("Expected an array for \"" + std::string(key) + "\"");
    }
    std::vector<Element> result;
    result.reserve(value.size());
    for (const Json& element : value) {
        result.push_back(decode(element));
    }
    return result;
}

template <class Decode>
auto requiredArray(const Json& object, std::string_view key, Decode&& decode)
{
    return asArray(required(object, key), key, std::forward<Decode>(decode));
}

template <class Decode>
auto optionalArray(const Json& object, std::string_view key, Decode&& decode)
    -> std::optional<decltype(asArray(object, key, decode))>
{
    if (const Json* value = member(object, key)) {
        return asArray(*value, key, std::forward<Decode>(decode));
    }
    return std::nullopt;
}

std::vector<std::uint32_t> asUInt32Array(const Json& value, std::string_view key = "value");
std::vector<std::string> asStringArray(const Json& value, std::string_view key = "value");

// Writes `value` under `key` only when it is present: absent optionals are left out, never null.
template <class T>
void putOptional(Json& object, std::string_view key, const std::optional<T>& value)
{
    if (value) {
        object[std::string(key)] = *value;
    }
}

// Reads the record under `key` with `decode`, or nothing when the key is absent or null.
template <class Decode>
auto optionalRecord(const Json& object, std::string_view key, Decode&& decode)
    -> std::optional<std::decay_t<decltype(decode(object))>>
{
    if (const Json* value = member(object, key)) {
        return decode(*value);
    }
    return std::nullopt;
}

// A list that reads as empty when its key is absent or null.
template <class Decode>
auto arrayOrEmpty(const Json& object, std::string_view key, Decode&& decode)
{
    auto list = optionalArray(object, key, std::forward<Decode>(decode));
    using List = typename decltype(list)::value_type;
    return list ? std::move(*list) : List {};
}

// Each record written with its `toJson`.
template <class Records>
Json arrayOf(const Records& records)
{
    Json array = Json::array();
    for (const auto& record : records) {
        array.push_back(toJson(record));
    }
    return array;
}

template <class T>
void putOptionalRecord(Json& object, std::string_view key, const std::optional<T>& record)
{
    if (record) {
        object[std::string(key)] = toJson(*record);
    }
}

template <class T>
void putOptionalArray(Json& object, std::string_view key, const std::optional<std::vector<T>>& records)
{
    if (records) {
        object[std::string(key)] = arrayOf(*records);
    }
}

} // namespace json
} // namespace tavrik
