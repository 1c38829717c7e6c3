#include "TavrikLink/Views/ByteCountText.hpp"

#include <array>
#include <cmath>
#include <cstdio>
#include <string_view>

namespace tavrik {
namespace {

struct Unit {
    std::string_view name;
    int fractionDigits;
};

constexpr std::array<Unit, 6> units { {
    { "KB", 0 },
    { "MB", 1 },
    { "GB", 2 },
    { "TB", 2 },
    { "PB", 2 },
    { "EB", 2 },
} };

std::string trimmedNumber(double value, int fractionDigits)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", fractionDigits, value);
    std::string result(text);
    if (result.find('.') != std::string::npos) {
        while (result.back() == '0') {
            result.pop_back();
        }
        if (result.back() == '.') {
            result.pop_back();
        }
    }
    return result;
}

} // namespace

std::string fileStyleByteCount(std::int64_t bytes)
{
    if (bytes == 0) {
        return "Zero KB";
    }
    const std::string sign = bytes < 0 ? "-" : "";
    // Magnitude as a double: exact enough for display and safe for the most negative value.
    const double magnitude = std::fabs(static_cast<double>(bytes));
    if (magnitude < 1000) {
        return sign + std::to_string(static_cast<std::int64_t>(magnitude)) + (magnitude == 1 ? " byte" : " bytes");
    }
    double value = magnitude / 1000;
    std::size_t unit = 0;
    for (;;) {
        const double scale = std::pow(10.0, units[unit].fractionDigits);
        // A value that rounds up to 1000 reads as one of the next unit ("1 MB", not "1000 KB").
        if (std::round(value * scale) / scale < 1000 || unit + 1 == units.size()) {
            break;
        }
        value /= 1000;
        ++unit;
    }
    return sign + trimmedNumber(value, units[unit].fractionDigits) + " " + std::string(units[unit].name);
}

} // namespace tavrik
