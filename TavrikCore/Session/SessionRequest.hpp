#pragma once

#include "TavrikCore/Support/Json.hpp"

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

// Small readers shared by the session's sources for loosely typed request members.
namespace tavrik::session {

inline bool isOneOf(std::string_view value, std::initializer_list<std::string_view> names)
{
    return std::find(names.begin(), names.end(), value) != names.end();
}

// The member's text when it is a string; any other value counts as absent.
inline std::optional<std::string> stringMember(const Json& object, std::string_view key)
{
    const Json* value = json::member(object, key);
    return value && value->is_string() ? std::optional<std::string>(value->get<std::string>()) : std::nullopt;
}

} // namespace tavrik::session
