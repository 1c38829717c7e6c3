#include "TavrikUSBFlasher/JsonText.hpp"

namespace tavrik {

std::string jsonText(const nlohmann::ordered_json& value)
{
    return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::optional<nlohmann::ordered_json> parseJsonObject(std::string_view text)
{
    // The library's parser refuses bad UTF-8 outright; its writer can replace it. A round trip
    // through a JSON string gives the text with the replacements made.
    const std::string repaired = nlohmann::json::parse(jsonText(std::string(text))).get<std::string>();
    auto object = nlohmann::ordered_json::parse(repaired, nullptr, false);
    if (object.is_discarded() || !object.is_object()) {
        return std::nullopt;
    }
    return object;
}

} // namespace tavrik
