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

// Appends one piece of a longer padded text to `bytes`, so a long text can be read over several
// turns: every piece's length is a multiple of four, and only the last piece may end in padding.
// False on any fault, with `bytes` then holding an unspecified part of the text.
bool base64DecodePiece(std::string_view piece, bool last, Data& bytes);

} // namespace tavrik
