#include "TavrikCore/Model/LocalIds.hpp"

#include <algorithm>
#include <limits>

namespace tavrik {

std::optional<std::uint32_t> nextUnusedId(const std::vector<std::uint32_t>& ids)
{
    constexpr std::uint32_t largest = std::numeric_limits<std::uint32_t>::max();
    if (ids.empty()) {
        return 1;
    }
    const std::uint32_t highest = *std::max_element(ids.begin(), ids.end());
    if (highest < largest) {
        return highest + 1;
    }
    // The counter has run out, but ids below it may be free; 0 is never handed out.
    std::vector<std::uint32_t> sorted = ids;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    std::uint64_t candidate = 1;
    for (const std::uint32_t taken : sorted) {
        if (taken == 0) {
            continue;
        }
        if (taken != candidate) {
            return static_cast<std::uint32_t>(candidate);
        }
        ++candidate;
    }
    return std::nullopt;
}

} // namespace tavrik
