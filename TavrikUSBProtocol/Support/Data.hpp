#pragma once

#include <cstdint>
#include <vector>

namespace tavrik {

// The same alias as the core's, declared here so this library and the USB helper program need
// nothing but the standard library and zlib. Both declarations name the same type.
using Data = std::vector<std::uint8_t>;

} // namespace tavrik
