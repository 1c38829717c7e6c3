#pragma once

#include "TavrikCore/Support/Json.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrik::test {

// What a device double received, read back: the messages that are JSON objects, in order, and the
// last of one type.
std::vector<Json> jsonMessages(const std::vector<std::string>& texts);
std::optional<Json> lastMessageOfType(const std::vector<std::string>& texts, std::string_view type);

} // namespace tavrik::test
