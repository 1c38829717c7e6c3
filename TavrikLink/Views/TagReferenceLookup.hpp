#pragma once

#include "TavrikCore/Model/TagModels.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tavrik {

// A step's tag reference read as an unsigned 32-bit decimal number: digits, a leading "+" allowed, a
// leading "-" only before a zero value. Nothing for any other text or a value out of range. The text
// is not trimmed here.
std::optional<std::uint32_t> parseTagReference(std::string_view text);

// Tag names by id for step rows; when two tags share an id the later one's name wins.
class TagReferenceLookup {
public:
    explicit TagReferenceLookup(const std::vector<TagInfo>& tags);

    // Nothing for a blank reference; the tag's name; otherwise "Unlinked tag".
    std::optional<std::string> name(std::string_view tagId) const;

private:
    std::unordered_map<std::uint32_t, std::string> m_names;
};

} // namespace tavrik
