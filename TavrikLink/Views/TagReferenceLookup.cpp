#include "TavrikLink/Views/TagReferenceLookup.hpp"

#include "TavrikCore/Model/TagReference.hpp"
#include "TavrikCore/Support/Text.hpp"

namespace tavrik {

std::optional<std::uint32_t> parseTagReference(std::string_view text)
{
    return tagIdFromReference(text);
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
