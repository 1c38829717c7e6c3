#pragma once

#include "TavrikCore/Support/RandomSource.hpp"

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tavrik {

// A 128-bit identifier; its text is upper-case, e.g. "E621E1F8-C36C-495A-93FC-0C247A3E6E5F".
struct Uuid {
    std::array<std::uint8_t, 16> bytes {};

    // A random (version 4) identifier from the given source.
    static Uuid random(RandomSource& source);
    // A random identifier from the process-wide source.
    static Uuid make();
    // Reads the 8-4-4-4-12 hexadecimal form, either letter case.
    static std::optional<Uuid> parse(std::string_view text);

    std::string text() const;

    friend auto operator<=>(const Uuid&, const Uuid&) = default;
    friend bool operator==(const Uuid&, const Uuid&) = default;
};

} // namespace tavrik
