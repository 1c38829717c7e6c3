#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace tavrik {

// The id for a record made in the app: one more than the largest id in use (1 for none); once the
// largest is 4294967295, the lowest id not in use. Never 0; nothing only when every id is taken.
std::optional<std::uint32_t> nextUnusedId(const std::vector<std::uint32_t>& ids);

} // namespace tavrik
