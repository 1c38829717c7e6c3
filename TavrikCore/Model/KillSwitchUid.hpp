#pragma once

#include <string>
#include <string_view>

namespace tavrik {

// A tag UID as the kill-switch setting stores it: white-space runs become single blanks, the ends
// are trimmed and letters upper-cased ("04  aa bb\n" gives "04 AA BB"); blank text gives "".
std::string normalizedKillSwitchUid(std::string_view uid);

} // namespace tavrik
