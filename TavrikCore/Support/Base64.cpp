#include "TavrikCore/Support/Base64.hpp"

#include <array>

namespace tavrik {
namespace {

constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<std::int8_t, 256> makeDecodeTable()
{
    std::array<std::int8_t, 256> table {};
    table.fill(-1);
    for (std::size_t index = 0; index < alphabet.size(); ++index) {
        table[static_cast<unsigned char>(alphabet[index])] = static_cast<std::int8_t>(index);
    }
    return table;
}

constexpr std::array<std::int8_t, 256> decodeTable = makeDecodeTable();

} // namespace

std::string base64Encoded(std::span<const std::uint8_t> bytes)
{
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t index = 0;
    for (; index + 3 <= bytes.size(); index += 3) {
        const std::uint32_t group = (static_cast<std::uint32_t>(bytes[index]) << 16)
            | (static_cast<std::uint32_t>(bytes[index + 1]) << 8) | bytes[index + 2];
        text.push_back(alphabet[(group >> 18) & 63]);
        text.push_back(alphabet[(group >> 12) & 63]);
        text.push_back(alphabet[(group >> 6) & 63]);
        text.push_back(alphabet[group & 63]);
    }
    const std::size_t rest = bytes.size() - index;
    if (rest > 0) {
        std::uint32_t group = static_cast<std::uint32_t>(bytes[index]) << 16;
        if (rest == 2) {
            group |= static_cast<std::uint32_t>(bytes[index + 1]) << 8;
        }
        text.push_back(alphabet[(group >> 18) & 63]);
        text.push_back(alphabet[(group >> 12) & 63]);
        text.push_back(rest == 2 ? alphabet[(group >> 6) & 63] : '=');
        text.push_back('=');
    }
    return text;
}

std::string base64Encoded(std::string_view text)
{
    return base64Encoded(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

std::optional<Data> base64Decoded(std::string_view text)
{
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::size_t padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') {
        ++padding;
    }
    Data bytes;
    bytes.reserve(text.size() / 4 * 3);
    std::uint32_t group = 0;
    int filled = 0;
    const std::size_t body = text.size() - padding;
    for (std::size_t index = 0; index < body; ++index) {
        const std::int8_t value = decodeTable[static_cast<unsigned char>(text[index])];
        if (value < 0) {
            return std::nullopt;
        }
        group = (group << 6) | static_cast<std::uint32_t>(value);
        if (++filled == 4) {
            bytes.push_back(static_cast<std::uint8_t>(group >> 16));
            bytes.push_back(static_cast<std::uint8_t>(group >> 8));
            bytes.push_back(static_cast<std::uint8_t>(group));
            group = 0;
            filled = 0;
        }
    }
    if (filled == 2) {
        bytes.push_back(static_cast<std::uint8_t>(group >> 4));
    } else if (filled == 3) {
        bytes.push_back(static_cast<std::uint8_t>(group >> 10));
        bytes.push_back(static_cast<std::uint8_t>(group >> 2));
    }
    return bytes;
}

} // namespace tavrik
