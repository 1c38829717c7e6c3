#pragma once

#include <string>

namespace tavrik {

// The version this program was built as (TAVRIK_APP_VERSION when configured), "0.0.0" when the
// build gave none. The device is told it, firmware releases are checked against it and --version
// prints it.
std::string tavrikAppVersion();

} // namespace tavrik
