#include "TavrikCore/Support/Text.hpp"

#include <algorithm>

#include <memory>
#include <unicode/brkiter.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

namespace tavrik::text {

namespace {

bool isLineBreak(UChar32 character)
{
    return (character >= 0x0A && character <= 0x0D) || character == 0x85 || character == 0x2028 || character == 0x2029;
}

bool inSet(UChar32 character, TrimSet set)
{
    if (character == '\t' || u_charType(character) == U_SPACE_SEPARATOR) {
        return true;
    }
    return set == TrimSet::whitespacesAndNewlines && isLineBreak(character);
}

icu::UnicodeString unicode(std::string_view value)
{
    return icu::UnicodeString::fromUTF8(icu::StringPiece(value.data(), static_cast<int32_t>(value.size())));
}

std::string utf8(const icu::UnicodeString& value)
{
    std::string result;
    value.toUTF8String(result);
    return result;
}

const icu::Normalizer2& nfc()
{
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* normalizer = icu::Normalizer2::getNFCInstance(status);
    return *normalizer;
}

} // namespace

std::string trimmed(std::string_view value, TrimSet set)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(value.data());
    const auto length = static_cast<int32_t>(value.size());
    int32_t start = 0;
    while (start < length) {
        int32_t next = start;
        UChar32 character;
        U8_NEXT(bytes, next, length, character);
        if (character < 0 || !inSet(character, set)) {
            break;
        }
        start = next;
    }
    int32_t end = length;
    while (end > start) {
        int32_t previous = end;
        UChar32 character;
        U8_PREV(bytes, start, previous, character);
        if (character < 0 || !inSet(character, set)) {
            break;
        }
        end = previous;
    }
    return std::string(value.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start)));
}

std::string lowercased(std::string_view value)
{
    icu::UnicodeString text = unicode(value);
    text.toLower(icu::Locale::getRoot());
    return utf8(text);
}

std::string uppercased(std::string_view value)
{
    icu::UnicodeString text = unicode(value);
    text.toUpper(icu::Locale::getRoot());
    return utf8(text);
}

std::string canonicalForm(std::string_view value)
{
    UErrorCode status = U_ZERO_ERROR;
    const icu::UnicodeString normalized = nfc().normalize(unicode(value), status);
    return U_SUCCESS(status) ? utf8(normalized) : std::string(value);
}

bool canonicallyEqual(std::string_view left, std::string_view right)
{
    return left == right || canonicalForm(left) == canonicalForm(right);
}

bool equalIgnoringCase(std::string_view left, std::string_view right)
{
    // Two ASCII texts fold and normalise to their ASCII lower case; titles mostly are, and a title
    // is compared with every other one on each key press.
    const auto ascii = [](std::string_view value) {
        return std::all_of(value.begin(), value.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    };
    if (ascii(left) && ascii(right)) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        return left.size() == right.size()
            && std::equal(left.begin(), left.end(), right.begin(), [&](char a, char b) { return lower(a) == lower(b); });
    }
    icu::UnicodeString a = unicode(left);
    icu::UnicodeString b = unicode(right);
    a.foldCase();
    b.foldCase();
    UErrorCode status = U_ZERO_ERROR;
    const icu::UnicodeString normalizedA = nfc().normalize(a, status);
    const icu::UnicodeString normalizedB = nfc().normalize(b, status);
    return U_SUCCESS(status) ? normalizedA == normalizedB : a == b;
}

namespace {
template <class Visit>
void forEachGraphemeBoundary(const icu::UnicodeString& text, Visit&& visit)
{
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> iterator(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !iterator) {
        return;
    }
    iterator->setText(text);
    iterator->first();
    for (int32_t boundary = iterator->next(); boundary != icu::BreakIterator::DONE; boundary = iterator->next()) {
        if (!visit(boundary)) {
            return;
        }
    }
}
} // namespace

std::size_t graphemeCount(std::string_view value)
{
    std::size_t count = 0;
    forEachGraphemeBoundary(unicode(value), [&](int32_t) {
        ++count;
        return true;
    });
    return count;
}

std::string prefixGraphemes(std::string_view value, std::size_t count)
{
    const icu::UnicodeString text = unicode(value);
    if (count == 0) {
        return {};
    }
    int32_t cut = text.length();
    std::size_t seen = 0;
    forEachGraphemeBoundary(text, [&](int32_t boundary) {
        if (++seen == count) {
            cut = boundary;
            return false;
        }
        return true;
    });
    return utf8(text.tempSubString(0, cut));
}

} // namespace tavrik::text
