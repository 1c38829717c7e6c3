#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrik {

// A one-level JSON object of strings, numbers, booleans and nulls, in key order: all the line
// protocol and the helper's output lines need, without a JSON library in this program.
class FlatJsonObject {
public:
    enum class Kind { null, boolean, number, string };

    struct Field {
        std::string key;
        Kind kind = Kind::null;
        // The decoded text of a string, the literal of a number.
        std::string text;
        bool boolean = false;

        bool operator==(const Field&) const = default;
    };

    // Nothing when the text is not one such object (nested values are refused).
    static std::optional<FlatJsonObject> parse(std::string_view text);
    std::string encode() const;

    FlatJsonObject& setString(const std::string& key, const std::string& value);
    FlatJsonObject& setInteger(const std::string& key, std::int64_t value);
    FlatJsonObject& setBoolean(const std::string& key, bool value);
    FlatJsonObject& copyField(const Field& field);

    std::optional<std::string> string(const std::string& key) const;
    std::optional<std::int64_t> integer(const std::string& key) const;
    const Field* find(const std::string& key) const;
    const std::vector<Field>& fields() const { return fields_; }

    bool operator==(const FlatJsonObject&) const = default;

private:
    Field& slot(const std::string& key);

    std::vector<Field> fields_;
};

} // namespace tavrik
