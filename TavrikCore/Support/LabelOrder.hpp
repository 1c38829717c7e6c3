#pragma once

#include <string_view>

namespace tavrik::text {

// Compares two labels as the user's locale sorts them, without regard to case: negative when `lhs`
// comes first, 0 when they sort together, positive otherwise.
int compareLocalizedIgnoringCase(std::string_view lhs, std::string_view rhs);

} // namespace tavrik::text
