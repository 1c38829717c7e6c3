#include "TavrikLink/Views/TagReferenceLookup.hpp"

#include "TavrikCore/Support/Text.hpp"

#include <charconv>

namespace tavrik {

std::optional<std::uint32_t> parseTagReference(std::string_view text)
{
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
    }
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || (negative && value != 0)) {
        return std::nullopt;
    }
    return value;
}

TagReferenceLookup::TagReferenceLookup(const std::vector<TagInfo>& tags)
{
    for (const TagInfo& tag : tags) {
        m_names.insert_or_assign(tag.id, tag.name);
    }
}

std::optional<std::string> TagReferenceLookup::name(std::string_view tagId) const
{
    const std::string trimmed = text::trimmed(tagId);
    if (trimmed.empty()) {
        return std::nullopt;
    }
    if (const auto id = parseTagReference(trimmed)) {
        if (const auto found = m_names.find(*id); found != m_names.end()) {
            return found->second;
        }
    }
    return std::string("Unlinked tag");
}

} // namespace tavrik
