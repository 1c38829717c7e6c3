#include "TavrikLink/Support/KeyValueStore.hpp"

namespace tavrik {

std::optional<bool> InMemoryKeyValueStore::boolValue(std::string_view key) const
{
    const auto found = values.find(key);
    if (found == values.end() || !std::holds_alternative<bool>(found->second)) {
        return std::nullopt;
    }
    return std::get<bool>(found->second);
}

void InMemoryKeyValueStore::setBool(std::string_view key, bool value)
{
    values.insert_or_assign(std::string(key), value);
}

std::optional<std::string> InMemoryKeyValueStore::stringValue(std::string_view key) const
{
    const auto found = values.find(key);
    if (found == values.end() || !std::holds_alternative<std::string>(found->second)) {
        return std::nullopt;
    }
    return std::get<std::string>(found->second);
}

void InMemoryKeyValueStore::setString(std::string_view key, std::string_view value)
{
    values.insert_or_assign(std::string(key), std::string(value));
}

void InMemoryKeyValueStore::remove(std::string_view key)
{
    const auto found = values.find(key);
    if (found != values.end()) {
        values.erase(found);
    }
}

} // namespace tavrik
