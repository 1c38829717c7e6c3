#include "TavrikCore/Model/TagReference.hpp"

#include <charconv>

namespace tavrik {

std::optional<std::uint32_t> tagIdFromReference(std::string_view text)
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

} // namespace tavrik
