#pragma once

#include <string_view>

namespace tavrik::text {

// Compares two labels as the locale (an ICU identifier such as "en_US") sorts them, without regard to
// case: negative when `lhs` comes first, 0 when they sort together, positive otherwise.
int compareLocalizedIgnoringCase(std::string_view lhs, std::string_view rhs, std::string_view localeId);

} // namespace tavrik::text
