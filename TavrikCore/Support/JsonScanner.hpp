#pragma once

#include <cstddef>
#include <functional>
#include <string_view>

namespace tavrik {

// Walks a JSON text's structure only: where strings, arrays and objects begin and end. What lies
// between (numbers, literals, the characters inside strings) is left for a parser to judge, so a
// text cut apart here is read piece by piece with the real parser. Every position past the end of
// a part is `notFound` when the structure is broken there.
class JsonScanner {
public:
    static constexpr std::size_t notFound = std::string_view::npos;

    explicit JsonScanner(std::string_view text)
        : text(text)
    {
    }

    std::size_t skipBlanks(std::size_t at) const;
    // Past the closing quote of the string opening at `at`; `escaped` tells whether it held a backslash.
    std::size_t skipString(std::size_t at, bool& escaped) const;
    // Past the value beginning at `at`, which lies `depth` containers deep. Nesting as deep as the
    // parser refuses is refused here too.
    std::size_t skipValue(std::size_t at, int depth) const;

    // Walks the members of the object the whole text is, in order: `visit` gets each key as written
    // (without quotes), whether it holds an escape, and where its value begins, and gives back where
    // the value ends (`skipValue(begin, 1)` when it looks no closer), or `notFound` to give up.
    // True when the text is one object (blanks aside) walked to its end.
    using MemberVisit = std::function<std::size_t(std::string_view key, bool escapedKey, std::size_t valueBegin)>;
    bool forEachMember(const MemberVisit& visit) const;

private:
    std::size_t skipContainer(std::size_t at, int depth) const;

    std::string_view text;
};

} // namespace tavrik
