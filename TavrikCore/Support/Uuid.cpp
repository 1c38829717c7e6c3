#include "TavrikCore/Support/Uuid.hpp"

namespace tavrik {

Uuid Uuid::random(RandomSource& source)
{
    Uuid uuid;
    for (std::size_t offset = 0; offset < uuid.bytes.size(); offset += 8) {
        std::uint64_t value = source.nextUInt64();
        for (std::size_t index = 0; index < 8; ++index) {
            uuid.bytes[offset + index] = static_cast<std::uint8_t>(value >> (8 * index));
        }
    }
    uuid.bytes[6] = static_cast<std::uint8_t>((uuid.bytes[6] & 0x0F) | 0x40);
    uuid.bytes[8] = static_cast<std::uint8_t>((uuid.bytes[8] & 0x3F) | 0x80);
    return uuid;
}

Uuid Uuid::make()
{
    return random(defaultRandomSource());
}

namespace {
int hexValue(char character)
{
    if (character >= '0' && character <= '9') {
        return character - '0';
    }
    if (character >= 'a' && character <= 'f') {
        return character - 'a' + 10;
    }
    if (character >= 'A' && character <= 'F') {
        return character - 'A' + 10;
    }
    return -1;
}
} // namespace

std::optional<Uuid> Uuid::parse(std::string_view text)
{
    if (text.size() != 36) {
        return std::nullopt;
    }
    Uuid uuid;
    std::size_t byteIndex = 0;
    for (std::size_t position = 0; position < text.size();) {
        if (position == 8 || position == 13 || position == 18 || position == 23) {
            if (text[position] != '-') {
                return std::nullopt;
            }
            ++position;
            continue;
        }
        const int high = hexValue(text[position]);
        const int low = hexValue(text[position + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        uuid.bytes[byteIndex++] = static_cast<std::uint8_t>(high * 16 + low);
        position += 2;
    }
    return uuid;
}

std::string Uuid::text() const
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string result;
    result.reserve(36);
    for (std::size_t index = 0; index < bytes.size(); ++index) {
        if (index == 4 || index == 6 || index == 8 || index == 10) {
            result.push_back('-');
        }
        result.push_back(digits[bytes[index] >> 4]);
        result.push_back(digits[bytes[index] & 0x0F]);
    }
    return result;
}

} // namespace tavrik
