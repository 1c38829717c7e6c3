#pragma once

#include "TavrikUSBProtocol/Support/Data.hpp"

#include <string>

namespace tavrik {

// MD5 as 32 lowercase hex digits, the form the ROM reports for a flash region.
std::string md5Hex(const std::uint8_t* bytes, std::size_t length);

} // namespace tavrik
