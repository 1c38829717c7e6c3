#include "TavrikUSBFlasher/FlatJson.hpp"

#include <charconv>
#include <cstdio>

namespace tavrik {

namespace {

class Reader {
public:
    explicit Reader(std::string_view text)
        : text_(text)
    {
    }

    void skipSpace()
    {
        while (position_ < text_.size()
            && (text_[position_] == ' ' || text_[position_] == '\t' || text_[position_] == '\n'
                || text_[position_] == '\r')) {
            ++position_;
        }
    }

    bool take(char expected)
    {
        skipSpace();
        if (position_ < text_.size() && text_[position_] == expected) {
            ++position_;
            return true;
        }
        return false;
    }

    bool takeWord(std::string_view word)
    {
        if (text_.substr(position_, word.size()) == word) {
            position_ += word.size();
            return true;
        }
        return false;
    }

    bool atEnd()
    {
        skipSpace();
        return position_ == text_.size();
    }

    char peek()
    {
        skipSpace();
        return position_ < text_.size() ? text_[position_] : '\0';
    }

    std::optional<std::string> readString()
    {
        if (!take('"')) {
            return std::nullopt;
        }
        std::string out;
        while (position_ < text_.size()) {
            const char current = text_[position_++];
            if (current == '"') {
                return out;
            }
            if (static_cast<unsigned char>(current) < 0x20) {
                return std::nullopt;
            }
            if (current != '\\') {
                out.push_back(current);
                continue;
            }
            if (position_ >= text_.size()) {
                return std::nullopt;
            }
            const char escaped = text_[position_++];
            switch (escaped) {
            case '"':
                out.push_back('"');
                break;
            case '\\':
                out.push_back('\\');
                break;
            case '/':
                out.push_back('/');
                break;
            case 'b':
                out.push_back('\b');
                break;
            case 'f':
                out.push_back('\f');
                break;
            case 'n':
                out.push_back('\n');
                break;
            case 'r':
                out.push_back('\r');
                break;
            case 't':
                out.push_back('\t');
                break;
            case 'u': {
                auto unit = readHex4();
                if (!unit) {
                    return std::nullopt;
                }
                std::uint32_t code = *unit;
                if (code >= 0xD800 && code <= 0xDBFF) {
                    if (!takeWord("\\u")) {
                        return std::nullopt;
                    }
                    const auto low = readHex4();
                    if (!low || *low < 0xDC00 || *low > 0xDFFF) {
                        return std::nullopt;
                    }
                    code = 0x10000 + ((code - 0xD800) << 10) + (*low - 0xDC00);
                } else if (code >= 0xDC00 && code <= 0xDFFF) {
                    return std::nullopt;
                }
                appendUtf8(out, code);
                break;
            }
            default:
                return std::nullopt;
            }
        }
        return std::nullopt;
    }

    std::optional<std::string> readNumber()
    {
        skipSpace();
        const std::size_t start = position_;
        auto digits = [&] {
            const std::size_t first = position_;
            while (position_ < text_.size() && text_[position_] >= '0' && text_[position_] <= '9') {
                ++position_;
            }
            return position_ > first;
        };
        if (position_ < text_.size() && text_[position_] == '-') {
            ++position_;
        }
        if (!digits()) {
            return std::nullopt;
        }
        if (position_ < text_.size() && text_[position_] == '.') {
            ++position_;
            if (!digits()) {
                return std::nullopt;
            }
        }
        if (position_ < text_.size() && (text_[position_] == 'e' || text_[position_] == 'E')) {
            ++position_;
            if (position_ < text_.size() && (text_[position_] == '+' || text_[position_] == '-')) {
                ++position_;
            }
            if (!digits()) {
                return std::nullopt;
            }
        }
        return std::string(text_.substr(start, position_ - start));
    }

private:
    std::optional<std::uint32_t> readHex4()
    {
        if (text_.size() - position_ < 4) {
            return std::nullopt;
        }
        std::uint32_t value = 0;
        const auto* first = text_.data() + position_;
        const auto result = std::from_chars(first, first + 4, value, 16);
        if (result.ec != std::errc() || result.ptr != first + 4) {
            return std::nullopt;
        }
        position_ += 4;
        return value;
    }

    static void appendUtf8(std::string& out, std::uint32_t code)
    {
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (code >> 18)));
            out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }

    std::string_view text_;
    std::size_t position_ = 0;
};

void appendQuoted(std::string& out, const std::string& text)
{
    out.push_back('"');
    for (const char current : text) {
        switch (current) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(current) < 0x20 || current == 0x7F) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(current));
                out += escaped;
            } else {
                out.push_back(current);
            }
        }
    }
    out.push_back('"');
}

} // namespace

std::optional<FlatJsonObject> FlatJsonObject::parse(std::string_view text)
{
    Reader reader(text);
    FlatJsonObject object;
    if (!reader.take('{')) {
        return std::nullopt;
    }
    if (!reader.take('}')) {
        while (true) {
            auto key = reader.readString();
            if (!key || !reader.take(':')) {
                return std::nullopt;
            }
            Field field;
            field.key = *key;
            const char next = reader.peek();
            if (next == '"') {
                auto value = reader.readString();
                if (!value) {
                    return std::nullopt;
                }
                field.kind = Kind::string;
                field.text = *value;
            } else if (next == 't' || next == 'f' || next == 'n') {
                if (reader.takeWord("true")) {
                    field.kind = Kind::boolean;
                    field.boolean = true;
                } else if (reader.takeWord("false")) {
                    field.kind = Kind::boolean;
                } else if (reader.takeWord("null")) {
                    field.kind = Kind::null;
                } else {
                    return std::nullopt;
                }
            } else {
                auto number = reader.readNumber();
                if (!number) {
                    return std::nullopt;
                }
                field.kind = Kind::number;
                field.text = *number;
            }
            object.slot(field.key) = field;
            if (reader.take('}')) {
                break;
            }
            if (!reader.take(',')) {
                return std::nullopt;
            }
        }
    }
    if (!reader.atEnd()) {
        return std::nullopt;
    }
    return object;
}

std::string FlatJsonObject::encode() const
{
    std::string out = "{";
    for (const Field& field : fields_) {
        if (out.size() > 1) {
            out.push_back(',');
        }
        appendQuoted(out, field.key);
        out.push_back(':');
        switch (field.kind) {
        case Kind::null:
            out += "null";
            break;
        case Kind::boolean:
            out += field.boolean ? "true" : "false";
            break;
        case Kind::number:
            out += field.text;
            break;
        case Kind::string:
            appendQuoted(out, field.text);
            break;
        }
    }
    out.push_back('}');
    return out;
}

FlatJsonObject::Field& FlatJsonObject::slot(const std::string& key)
{
    for (Field& field : fields_) {
        if (field.key == key) {
            return field;
        }
    }
    Field field;
    field.key = key;
    fields_.push_back(std::move(field));
    return fields_.back();
}

FlatJsonObject& FlatJsonObject::setString(const std::string& key, const std::string& value)
{
    slot(key) = Field { key, Kind::string, value };
    return *this;
}

FlatJsonObject& FlatJsonObject::setInteger(const std::string& key, std::int64_t value)
{
    slot(key) = Field { key, Kind::number, std::to_string(value) };
    return *this;
}

FlatJsonObject& FlatJsonObject::setBoolean(const std::string& key, bool value)
{
    slot(key) = Field { key, Kind::boolean, {}, value };
    return *this;
}

FlatJsonObject& FlatJsonObject::copyField(const Field& field)
{
    slot(field.key) = field;
    return *this;
}

const FlatJsonObject::Field* FlatJsonObject::find(const std::string& key) const
{
    for (const Field& field : fields_) {
        if (field.key == key) {
            return &field;
        }
    }
    return nullptr;
}

std::optional<std::string> FlatJsonObject::string(const std::string& key) const
{
    const Field* field = find(key);
    if (field == nullptr || field->kind != Kind::string) {
        return std::nullopt;
    }
    return field->text;
}

std::optional<std::int64_t> FlatJsonObject::integer(const std::string& key) const
{
    const Field* field = find(key);
    if (field == nullptr || field->kind != Kind::number) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    const auto result = std::from_chars(field->text.data(), field->text.data() + field->text.size(), value);
    if (result.ec != std::errc() || result.ptr != field->text.data() + field->text.size()) {
        return std::nullopt;
    }
    return value;
}

} // namespace tavrik
