#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tavrik {

// Orders version texts "numerically": runs of ASCII digits compare by their value (so "01" equals
// "1"), every other byte by its value, letter case significant, and a text that ends first is the
// smaller. Negative, zero or positive like strcmp.
int compareVersions(std::string_view left, std::string_view right);

// True when both are present and the available version is the greater.
bool firmwareUpdateIsAvailable(
    const std::optional<std::string>& installedVersion, const std::optional<std::string>& availableVersion);

} // namespace tavrik
