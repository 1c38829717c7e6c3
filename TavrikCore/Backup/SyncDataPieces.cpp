#include "TavrikCore/Backup/SyncDataPieces.hpp"

#include "TavrikCore/Support/Json.hpp"

#include <cstddef>

namespace tavrik {

namespace {

constexpr std::size_t notFound = std::string_view::npos;

// Walks the text's structure only: where strings, arrays and objects begin and end. What lies
// between (numbers, literals, the characters inside strings) is left for the parser to judge.
class Scanner {
public:
    explicit Scanner(std::string_view text)
        : text(text)
    {
    }

    std::size_t skipBlanks(std::size_t at) const
    {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' || text[at] == '\r')) {
            ++at;
        }
        return at;
    }

    // Past the closing quote of the string opening at `at`; `escaped` tells whether it held a backslash.
    std::size_t skipString(std::size_t at, bool& escaped) const
    {
        escaped = false;
        for (++at; at < text.size(); ++at) {
            if (text[at] == '\\') {
                escaped = true;
                ++at;
            } else if (text[at] == '"') {
                return at + 1;
            }
        }
        return notFound;
    }

    // Past the value beginning at `at`, which lies `depth` containers deep.
    std::size_t skipValue(std::size_t at, int depth) const
    {
        if (at >= text.size()) {
            return notFound;
        }
        const char first = text[at];
        if (first == '"') {
            bool escaped = false;
            return skipString(at, escaped);
        }
        if (first == '[' || first == '{') {
            return skipContainer(at, depth + 1);
        }
        // A scalar runs up to the next character that has a meaning in the structure.
        std::size_t end = at;
        while (end < text.size() && !isDelimiter(text[end])) {
            ++end;
        }
        return end == at ? notFound : end;
    }

    // Past the array or object opening at `at`: its members separated by commas, an object's each
    // a string key and a colon before the value.
    std::size_t skipContainer(std::size_t at, int depth) const
    {
        // The parser refuses nesting past its limit; such text goes to it whole.
        if (depth >= maximumJsonDepth) {
            return notFound;
        }
        const bool object = text[at] == '{';
        const char close = object ? '}' : ']';
        at = skipBlanks(at + 1);
        if (at < text.size() && text[at] == close) {
            return at + 1;
        }
        while (true) {
            if (object) {
                if (at >= text.size() || text[at] != '"') {
                    return notFound;
                }
                bool escaped = false;
                at = skipBlanks(skipString(at, escaped));
                if (at >= text.size() || text[at] != ':') {
                    return notFound;
                }
                at = skipBlanks(at + 1);
            }
            at = skipValue(at, depth);
            if (at == notFound) {
                return notFound;
            }
            at = skipBlanks(at);
            if (at >= text.size()) {
                return notFound;
            }
            if (text[at] == close) {
                return at + 1;
            }
            if (text[at] != ',') {
                return notFound;
            }
            at = skipBlanks(at + 1);
        }
    }

private:
    static bool isDelimiter(char character)
    {
        switch (character) {
        case ',':
        case ':':
        case '[':
        case ']':
        case '{':
        case '}':
        case '"':
        case ' ':
        case '\t':
        case '\n':
        case '\r':
            return true;
        default:
            return false;
        }
    }

    std::string_view text;
};

} // namespace

std::optional<SyncDataPieces> SyncDataPieces::split(std::string_view text)
{
    const Scanner scanner(text);
    std::size_t at = scanner.skipBlanks(0);
    if (at >= text.size() || text[at] != '{') {
        return std::nullopt;
    }
    SyncDataPieces pieces;
    std::size_t arrayOpen = notFound;
    std::size_t arrayClose = notFound;
    at = scanner.skipBlanks(at + 1);
    while (true) {
        if (at >= text.size() || text[at] != '"') {
            return std::nullopt;
        }
        bool escaped = false;
        const std::size_t keyEnd = scanner.skipString(at, escaped);
        // An escaped key might spell "routines" another way; the whole reader decides about it.
        if (keyEnd == notFound || escaped) {
            return std::nullopt;
        }
        const std::string_view key = text.substr(at + 1, keyEnd - at - 2);
        at = scanner.skipBlanks(keyEnd);
        if (at >= text.size() || text[at] != ':') {
            return std::nullopt;
        }
        at = scanner.skipBlanks(at + 1);
        if (key == "routines") {
            if (arrayOpen != notFound || at >= text.size() || text[at] != '[') {
                return std::nullopt;
            }
            arrayOpen = at;
            at = scanner.skipBlanks(at + 1);
            if (at < text.size() && text[at] != ']') {
                while (true) {
                    // A routine lies two containers deep: in the document, in the array.
                    const std::size_t end = scanner.skipValue(at, 2);
                    if (end == notFound) {
                        return std::nullopt;
                    }
                    pieces.routines.push_back(text.substr(at, end - at));
                    at = scanner.skipBlanks(end);
                    if (at >= text.size() || (text[at] != ',' && text[at] != ']')) {
                        return std::nullopt;
                    }
                    if (text[at] == ']') {
                        break;
                    }
                    at = scanner.skipBlanks(at + 1);
                }
            }
            if (at >= text.size()) {
                return std::nullopt;
            }
            arrayClose = at;
            at = scanner.skipBlanks(at + 1);
        } else {
            at = scanner.skipValue(at, 1);
            if (at == notFound) {
                return std::nullopt;
            }
            at = scanner.skipBlanks(at);
        }
        if (at >= text.size()) {
            return std::nullopt;
        }
        if (text[at] == '}') {
            break;
        }
        if (text[at] != ',') {
            return std::nullopt;
        }
        at = scanner.skipBlanks(at + 1);
    }
    if (arrayOpen == notFound || scanner.skipBlanks(at + 1) != text.size()) {
        return std::nullopt;
    }
    pieces.document.reserve(text.size() - (arrayClose - arrayOpen) + 1);
    pieces.document.append(text.substr(0, arrayOpen + 1));
    pieces.document.append(text.substr(arrayClose));
    return pieces;
}

} // namespace tavrik
