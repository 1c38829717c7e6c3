#include "TavrikLink/Views/DurationText.hpp"

#include "TavrikCore/Support/Text.hpp"

#include <array>
#include <charconv>
#include <cstdio>
#include <vector>

namespace tavrik {

namespace {

std::string clockText(std::int64_t hours, std::int64_t minutes, std::int64_t seconds, bool withHours)
{
    std::array<char, 64> buffer {};
    if (withHours) {
        std::snprintf(buffer.data(), buffer.size(), "%lld:%02lld:%02lld", static_cast<long long>(hours),
            static_cast<long long>(minutes), static_cast<long long>(seconds));
    } else {
        std::snprintf(buffer.data(), buffer.size(), "%lld:%02lld", static_cast<long long>(minutes),
            static_cast<long long>(seconds));
    }
    return buffer.data();
}

bool isAsciiDigits(std::string_view text)
{
    if (text.empty()) {
        return false;
    }
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

// A plain decimal Int with an optional sign; nothing on any other character or on overflow.
std::optional<std::int64_t> integerValue(std::string_view text)
{
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (!isAsciiDigits(text)) {
        return std::nullopt;
    }
    // Reads the magnitude as unsigned so that the most negative value still converts.
    std::uint64_t magnitude = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    constexpr auto maximum = static_cast<std::uint64_t>(INT64_MAX);
    if (negative) {
        if (magnitude > maximum + 1) {
            return std::nullopt;
        }
        return magnitude == maximum + 1 ? INT64_MIN : -static_cast<std::int64_t>(magnitude);
    }
    if (magnitude > maximum) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(magnitude);
}

std::optional<std::int64_t> multiplyAdd(std::int64_t value, std::int64_t factor, std::int64_t addend)
{
    std::int64_t product = 0;
    std::int64_t sum = 0;
    if (__builtin_mul_overflow(value, factor, &product) || __builtin_add_overflow(product, addend, &sum)) {
        return std::nullopt;
    }
    return sum;
}

std::optional<std::int64_t> parseClockText(std::string_view text)
{
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (true) {
        const std::size_t colon = text.find(':', start);
        pieces.push_back(text.substr(start, colon == std::string_view::npos ? std::string_view::npos : colon - start));
        if (colon == std::string_view::npos) {
            break;
        }
        start = colon + 1;
    }
    if (pieces.size() < 2 || pieces.size() > 3) {
        return std::nullopt;
    }
    std::vector<std::int64_t> values;
    for (const std::string_view piece : pieces) {
        if (!isAsciiDigits(piece)) {
            return std::nullopt;
        }
        const auto value = integerValue(piece);
        if (!value) {
            return std::nullopt;
        }
        values.push_back(*value);
    }
    if (values.size() == 3) {
        if (values[1] > 59 || values[2] > 59) {
            return std::nullopt;
        }
        const auto minutes = multiplyAdd(values[0], 60, values[1]);
        return minutes ? multiplyAdd(*minutes, 60, values[2]) : std::nullopt;
    }
    if (values[1] > 59) {
        return std::nullopt;
    }
    return multiplyAdd(values[0], 60, values[1]);
}

// "<digits><blanks><unit>" with a minute or second unit.
std::optional<std::int64_t> parseUnitText(std::string_view text)
{
    std::size_t digitCount = 0;
    while (digitCount < text.size() && text[digitCount] >= '0' && text[digitCount] <= '9') {
        ++digitCount;
    }
    if (digitCount == 0) {
        return std::nullopt;
    }
    // The outer blanks are already gone, so trimming the rest removes just the blanks before the unit.
    const std::string unit = text::trimmed(text.substr(digitCount));
    static constexpr std::array<std::string_view, 5> minuteUnits { "m", "min", "mins", "minute", "minutes" };
    static constexpr std::array<std::string_view, 5> secondUnits { "s", "sec", "secs", "second", "seconds" };
    bool minutes = false;
    bool known = false;
    for (const std::string_view candidate : minuteUnits) {
        known = known || unit == candidate;
        minutes = minutes || unit == candidate;
    }
    for (const std::string_view candidate : secondUnits) {
        known = known || unit == candidate;
    }
    if (!known) {
        return std::nullopt;
    }
    const auto number = integerValue(text.substr(0, digitCount));
    if (!number) {
        return std::nullopt;
    }
    return minutes ? multiplyAdd(*number, 60, 0) : number;
}

} // namespace

std::string formattedDuration(std::int64_t seconds)
{
    const std::int64_t minutes = seconds / 60;
    const std::int64_t rest = seconds - 60 * minutes;
    if (seconds >= 3600) {
        return clockText(minutes / 60, minutes % 60, rest, true);
    }
    return clockText(0, minutes, rest, false);
}

std::string formattedDurationInput(std::int64_t seconds)
{
    if (seconds >= 3600) {
        return clockText(seconds / 3600, (seconds % 3600) / 60, seconds % 60, true);
    }
    if (seconds >= 60) {
        return clockText(0, seconds / 60, seconds % 60, false);
    }
    return clockText(0, 0, seconds, false);
}

std::optional<std::int64_t> parseDurationInput(std::string_view input)
{
    const std::string text = text::lowercased(text::trimmed(input));
    if (text.empty()) {
        return std::nullopt;
    }
    if (text.find(':') != std::string::npos) {
        return parseClockText(text);
    }
    if (const auto value = integerValue(text); value && *value >= 1) {
        return multiplyAdd(*value, 60, 0);
    }
    return parseUnitText(text);
}

} // namespace tavrik
