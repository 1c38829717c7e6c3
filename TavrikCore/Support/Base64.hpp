#pragma once

#include "TavrikCore/Support/Data.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tavrik {

// Standard alphabet with "=" padding.
std::string base64Encoded(std::span<const std::uint8_t> bytes);
std::string base64Encoded(std::string_view text);

// Reads the padded standard form only; nothing for any other character, a length that is not a
// multiple of four, or misplaced padding.
std::optional<Data> base64Decoded(std::string_view text);

} // namespace tavrik
