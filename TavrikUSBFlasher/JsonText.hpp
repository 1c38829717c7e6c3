#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace tavrik {

// Compact JSON text. Text that is not valid UTF-8 (a board may print Latin-1) comes out with each
// bad sequence replaced by U+FFFD, so every line this program prints stays readable JSON.
std::string jsonText(const nlohmann::ordered_json& value);

// One JSON object from text in any encoding: sequences that are not UTF-8 become U+FFFD first, so
// one odd byte spoils a single string, not the message. Nothing when the text is no object.
std::optional<nlohmann::ordered_json> parseJsonObject(std::string_view text);

} // namespace tavrik
