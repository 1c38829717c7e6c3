#pragma once

#include <cstdint>
#include <string>

namespace tavrik {

// A file size as people read it in a file manager: decimal units (1 KB = 1000 bytes), whole
// kilobytes, one decimal for megabytes and two from gigabytes up, trailing zeros dropped:
// "Zero KB", "1 byte", "999 bytes", "12 KB", "1.5 MB", "1.23 GB".
std::string fileStyleByteCount(std::int64_t bytes);

} // namespace tavrik
