#include "TavrikCore/Support/Url.hpp"

#include <uriparser/Uri.h>

#include <cctype>
#include <memory>
#include <vector>

namespace tavrik {

namespace {

// Owns a parsed uriparser URI together with the text its ranges point into.
struct ParsedUri {
    std::string source;
    UriUriA uri {};
    bool parsed = false;

    ParsedUri() = default;
    ParsedUri(const ParsedUri&) = delete;
    ParsedUri& operator=(const ParsedUri&) = delete;
    ~ParsedUri()
    {
        if (parsed) {
            uriFreeUriMembersA(&uri);
        }
    }
};

std::unique_ptr<ParsedUri> parseReference(std::string_view text)
{
    if (text.empty()) {
        return nullptr;
    }
    auto result = std::make_unique<ParsedUri>();
    result->source.assign(text);
    const char* errorPosition = nullptr;
    const char* first = result->source.data();
    if (uriParseSingleUriExA(&result->uri, first, first + result->source.size(), &errorPosition) != URI_SUCCESS) {
        return nullptr;
    }
    result->parsed = true;
    return result;
}

bool hasScheme(const UriUriA& uri)
{
    return uri.scheme.first != nullptr && uri.scheme.afterLast != uri.scheme.first;
}

std::string rangeText(const UriTextRangeA& range)
{
    if (range.first == nullptr || range.afterLast == nullptr) {
        return {};
    }
    return std::string(range.first, range.afterLast);
}

std::optional<std::string> uriText(const UriUriA& uri)
{
    int length = 0;
    if (uriToStringCharsRequiredA(&uri, &length) != URI_SUCCESS) {
        return std::nullopt;
    }
    std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
    if (uriToStringA(buffer.data(), &uri, length + 1, nullptr) != URI_SUCCESS) {
        return std::nullopt;
    }
    return std::string(buffer.data());
}

std::string lowered(std::string text)
{
    for (char& character : text) {
        character = static_cast<char>(std::tolower(static_cast<unsigned char>(character)));
    }
    return text;
}

std::string percentDecoded(std::string text)
{
    if (text.empty()) {
        return text;
    }
    const char* end = uriUnescapeInPlaceExA(text.data(), URI_FALSE, URI_BR_DONT_TOUCH);
    text.resize(static_cast<std::size_t>(end - text.data()));
    return text;
}

} // namespace

std::optional<Url> Url::parse(std::string_view text)
{
    auto parsed = parseReference(text);
    if (!parsed || !hasScheme(parsed->uri)) {
        return std::nullopt;
    }
    Url url;
    url.schemeText = lowered(rangeText(parsed->uri.scheme));
    if (url.schemeText == "file") {
        if (uriNormalizeSyntaxExA(&parsed->uri, URI_NORMALIZE_PATH) != URI_SUCCESS) {
            return std::nullopt;
        }
        auto normalised = uriText(parsed->uri);
        if (!normalised) {
            return std::nullopt;
        }
        url.text = std::move(*normalised);
    } else {
        url.text.assign(text);
    }
    // The path is read again from the final text, whose ranges the parse above may have moved.
    auto final = parseReference(url.text);
    if (!final) {
        return std::nullopt;
    }
    std::string path;
    if (final->uri.absolutePath || (final->uri.hostText.first != nullptr && final->uri.pathHead != nullptr)) {
        path = "/";
    }
    for (const UriPathSegmentA* segment = final->uri.pathHead; segment != nullptr; segment = segment->next) {
        path += rangeText(segment->text);
        if (segment->next != nullptr) {
            path += '/';
        }
    }
    path = percentDecoded(std::move(path));
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    url.pathText = std::move(path);
    return url;
}

std::optional<Url> Url::resolve(std::string_view text, const Url& base)
{
    auto reference = parseReference(text);
    if (!reference) {
        return std::nullopt;
    }
    if (hasScheme(reference->uri)) {
        return parse(text);
    }
    auto baseUri = parseReference(base.absoluteString());
    if (!baseUri) {
        return std::nullopt;
    }
    UriUriA absolute {};
    if (uriAddBaseUriExA(&absolute, &reference->uri, &baseUri->uri, URI_RESOLVE_STRICTLY) != URI_SUCCESS) {
        uriFreeUriMembersA(&absolute);
        return std::nullopt;
    }
    const auto resolved = uriText(absolute);
    uriFreeUriMembersA(&absolute);
    if (!resolved) {
        return std::nullopt;
    }
    return parse(*resolved);
}

std::string Url::lastPathComponent() const
{
    if (pathText.empty() || pathText == "/") {
        return pathText;
    }
    const auto slash = pathText.rfind('/');
    return slash == std::string::npos ? pathText : pathText.substr(slash + 1);
}

} // namespace tavrik
