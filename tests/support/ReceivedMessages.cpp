#include "tests/support/ReceivedMessages.hpp"

namespace tavrik::test {

std::vector<Json> jsonMessages(const std::vector<std::string>& texts)
{
    std::vector<Json> messages;
    for (const std::string& text : texts) {
        Json value = Json::parse(text, nullptr, false);
        if (value.is_object()) {
            messages.push_back(std::move(value));
        }
    }
    return messages;
}

std::optional<Json> lastMessageOfType(const std::vector<std::string>& texts, std::string_view type)
{
    std::optional<Json> found;
    for (const Json& message : jsonMessages(texts)) {
        if (message.value("type", "") == type) {
            found = message;
        }
    }
    return found;
}

} // namespace tavrik::test
