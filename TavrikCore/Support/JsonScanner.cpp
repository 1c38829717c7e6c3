#include "TavrikCore/Support/JsonScanner.hpp"

#include "TavrikCore/Support/Json.hpp"

namespace tavrik {

namespace {

bool isDelimiter(char character)
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

} // namespace

std::size_t JsonScanner::skipBlanks(std::size_t at) const
{
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' || text[at] == '\r')) {
        ++at;
    }
    return at;
}

std::size_t JsonScanner::skipString(std::size_t at, bool& escaped) const
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

std::size_t JsonScanner::skipValue(std::size_t at, int depth) const
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

std::size_t JsonScanner::skipContainer(std::size_t at, int depth) const
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

bool JsonScanner::forEachMember(const MemberVisit& visit) const
{
    std::size_t at = skipBlanks(0);
    if (at >= text.size() || text[at] != '{') {
        return false;
    }
    at = skipBlanks(at + 1);
    if (at < text.size() && text[at] == '}') {
        return skipBlanks(at + 1) == text.size();
    }
    while (true) {
        if (at >= text.size() || text[at] != '"') {
            return false;
        }
        bool escaped = false;
        const std::size_t keyEnd = skipString(at, escaped);
        if (keyEnd == notFound) {
            return false;
        }
        const std::string_view key = text.substr(at + 1, keyEnd - at - 2);
        at = skipBlanks(keyEnd);
        if (at >= text.size() || text[at] != ':') {
            return false;
        }
        at = visit(key, escaped, skipBlanks(at + 1));
        if (at == notFound) {
            return false;
        }
        at = skipBlanks(at);
        if (at >= text.size()) {
            return false;
        }
        if (text[at] == '}') {
            return skipBlanks(at + 1) == text.size();
        }
        if (text[at] != ',') {
            return false;
        }
        at = skipBlanks(at + 1);
    }
}

} // namespace tavrik
