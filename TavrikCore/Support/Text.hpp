#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tavrik::text {

enum class TrimSet {
    // Unicode horizontal white space (space separators and tab).
    whitespaces,
    // The above plus line breaks (LF, VT, FF, CR, NEL, LS, PS).
    whitespacesAndNewlines,
};

// Removes leading and trailing characters of the set; the text in between is untouched.
std::string trimmed(std::string_view value, TrimSet set = TrimSet::whitespacesAndNewlines);

// Full Unicode case mapping, independent of the user's locale.
std::string lowercased(std::string_view value);
std::string uppercased(std::string_view value);

// Canonical composition (NFC); texts that are canonically equivalent give the same bytes.
std::string canonicalForm(std::string_view value);
bool canonicallyEqual(std::string_view left, std::string_view right);
// Equal after case folding and canonical composition ("without regard to case").
bool equalIgnoringCase(std::string_view left, std::string_view right);

// User-perceived characters (extended grapheme clusters).
std::size_t graphemeCount(std::string_view value);
// The first `count` grapheme clusters, never cutting one in half.
std::string prefixGraphemes(std::string_view value, std::size_t count);

} // namespace tavrik::text
