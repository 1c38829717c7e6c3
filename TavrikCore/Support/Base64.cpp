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
    Data bytes;
    bytes.reserve(text.size() / 4 * 3);
    if (!base64DecodePiece(text, true, bytes)) {
        return std::nullopt;
    }
    return bytes;
}

bool base64DecodePiece(std::string_view piece, bool last, Data& bytes)
{
    if (piece.size() % 4 != 0) {
        return false;
    }
    std::size_t padding = 0;
    while (last && padding < 2 && padding < piece.size() && piece[piece.size() - 1 - padding] == '=') {
        ++padding;
    }
    const std::size_t body = piece.size() - padding;
    const std::size_t whole = body / 4 * 4;
    const std::size_t start = bytes.size();
    // Written in place: a long text decodes at memory speed rather than a byte at a time.
    bytes.resize(start + whole / 4 * 3 + (body - whole == 0 ? 0 : body - whole - 1));
    std::uint8_t* out = bytes.data() + start;
    const auto value = [&piece](std::size_t index) {
        return static_cast<std::int32_t>(decodeTable[static_cast<unsigned char>(piece[index])]);
    };
    std::size_t index = 0;
    for (; index < whole; index += 4) {
        const std::int32_t a = value(index);
        const std::int32_t b = value(index + 1);
        const std::int32_t c = value(index + 2);
        const std::int32_t d = value(index + 3);
        if ((a | b | c | d) < 0) {
            return false;
        }
        const auto group = static_cast<std::uint32_t>((a << 18) | (b << 12) | (c << 6) | d);
        *out++ = static_cast<std::uint8_t>(group >> 16);
        *out++ = static_cast<std::uint8_t>(group >> 8);
        *out++ = static_cast<std::uint8_t>(group);
    }
    // What padding leaves: two characters give one byte, three give two.
    std::uint32_t group = 0;
    for (; index < body; ++index) {
        const std::int32_t next = value(index);
        if (next < 0) {
            return false;
        }
        group = (group << 6) | static_cast<std::uint32_t>(next);
    }
    if (body - whole == 2) {
        *out = static_cast<std::uint8_t>(group >> 4);
    } else if (body - whole == 3) {
        out[0] = static_cast<std::uint8_t>(group >> 10);
        out[1] = static_cast<std::uint8_t>(group >> 2);
    }
    return true;
}

} // namespace tavrik
