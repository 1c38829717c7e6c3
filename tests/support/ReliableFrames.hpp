#pragma once

#include "TavrikCore/Support/Data.hpp"

#include <cstdint>
#include <string_view>
#include <vector>

namespace tavrik::test {

// The frames of one message as a Tavrik sends it with reliable delivery: each chunk carries the
// session number the application offered, and every frame fits `writeLength`.
std::vector<Data> reliableFrames(std::string_view text, std::uint32_t session, std::uint16_t messageId, int writeLength);

} // namespace tavrik::test
