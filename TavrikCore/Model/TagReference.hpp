#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tavrik {

// The tag id a step's tag reference names: decimal digits with an optional sign ("+7"; "-0" reads
// as 0), nothing else, in the 32-bit range. The text is taken as given; callers trim it first.
std::optional<std::uint32_t> tagIdFromReference(std::string_view text);

} // namespace tavrik
