#pragma once

#include <string>
#include <string_view>

namespace tavrik::test {

// `count` object members "k0":0,"k1":0,… with a trailing comma, to be spliced in right after an
// object's opening brace. With `repeated`, every member has the same key and the values count up.
inline std::string manyMembers(int count, bool repeated = false)
{
    std::string members;
    members.reserve(static_cast<std::size_t>(count) * 12);
    for (int index = 0; index < count; ++index) {
        members += repeated ? "\"k\":" + std::to_string(index) + "," : "\"k" + std::to_string(index) + "\":0,";
    }
    return members;
}

// `text` with `members` spliced in after the opening brace of the first occurrence of `objectStart`.
inline std::string withMembers(std::string text, std::string_view objectStart, const std::string& members)
{
    const std::size_t brace = text.find(objectStart);
    if (brace == std::string::npos || text[brace] != '{') {
        return {};
    }
    text.insert(brace + 1, members);
    return text;
}

} // namespace tavrik::test
