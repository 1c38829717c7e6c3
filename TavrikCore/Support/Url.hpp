#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tavrik {

// An absolute URL (it always has a scheme), kept as its text. File URLs are kept with "." and ".."
// segments removed; other URLs keep their text as given.
class Url {
public:
    // An empty URL (no text, no scheme), for records filled in later.
    Url() = default;

    // Only texts that parse as a URL with a scheme; nothing for a relative reference or bad syntax.
    static std::optional<Url> parse(std::string_view text);
    // A text with a scheme is taken as it is; anything else is resolved against `base`. Nothing
    // when the text parses neither way (an empty text counts as unparseable).
    static std::optional<Url> resolve(std::string_view text, const Url& base);

    const std::string& absoluteString() const { return text; }
    // Lower case, e.g. "https".
    const std::string& scheme() const { return schemeText; }
    bool isFileUrl() const { return schemeText == "file"; }
    // "http" or "https".
    bool isWebUrl() const { return schemeText == "http" || schemeText == "https"; }
    // Percent-decoded path without a trailing slash (except a lone "/"); empty when there is none.
    const std::string& path() const { return pathText; }
    // The text after the path's last slash; "/" for the root path, empty without a path.
    std::string lastPathComponent() const;

    friend bool operator==(const Url& left, const Url& right) { return left.text == right.text; }

private:
    std::string text;
    std::string schemeText;
    std::string pathText;
};

} // namespace tavrik
