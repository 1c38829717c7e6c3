#include "TavrikUSBFlasher/Md5.hpp"

#include <array>
#include <cstring>

namespace tavrik {

namespace {

constexpr std::array<std::uint32_t, 64> sines = {
    0xd76aa478,
    0xe8c7b756,
    0x242070db,
    0xc1bdceee,
    0xf57c0faf,
    0x4787c62a,
    0xa8304613,
    0xfd469501,
    0x698098d8,
    0x8b44f7af,
    0xffff5bb1,
    0x895cd7be,
    0x6b901122,
    0xfd987193,
    0xa679438e,
    0x49b40821,
    0xf61e2562,
    0xc040b340,
    0x265e5a51,
    0xe9b6c7aa,
    0xd62f105d,
    0x02441453,
    0xd8a1e681,
    0xe7d3fbc8,
    0x21e1cde6,
    0xc33707d6,
    0xf4d50d87,
    0x455a14ed,
    0xa9e3e905,
    0xfcefa3f8,
    0x676f02d9,
    0x8d2a4c8a,
    0xfffa3942,
    0x8771f681,
    0x6d9d6122,
    0xfde5380c,
    0xa4beea44,
    0x4bdecfa9,
    0xf6bb4b60,
    0xbebfbc70,
    0x289b7ec6,
    0xeaa127fa,
    0xd4ef3085,
    0x04881d05,
    0xd9d4d039,
    0xe6db99e5,
    0x1fa27cf8,
    0xc4ac5665,
    0xf4292244,
    0x432aff97,
    0xab9423a7,
    0xfc93a039,
    0x655b59c3,
    0x8f0ccc92,
    0xffeff47d,
    0x85845dd1,
    0x6fa87e4f,
    0xfe2ce6e0,
    0xa3014314,
    0x4e0811a1,
    0xf7537e82,
    0xbd3af235,
    0x2ad7d2bb,
    0xeb86d391,
};
constexpr std::array<int, 16> shifts = { 7, 12, 17, 22, 5, 9, 14, 20, 4, 11, 16, 23, 6, 10, 15, 21 };

std::uint32_t rotate(std::uint32_t value, int count)
{
    return (value << count) | (value >> (32 - count));
}

void compress(std::array<std::uint32_t, 4>& state, const std::uint8_t* block)
{
    std::uint32_t words[16];
    for (int index = 0; index < 16; ++index) {
        words[index] = static_cast<std::uint32_t>(block[index * 4])
            | (static_cast<std::uint32_t>(block[index * 4 + 1]) << 8)
            | (static_cast<std::uint32_t>(block[index * 4 + 2]) << 16)
            | (static_cast<std::uint32_t>(block[index * 4 + 3]) << 24);
    }
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int round = 0; round < 64; ++round) {
        std::uint32_t mix = 0;
        int word = 0;
        switch (round / 16) {
        case 0:
            mix = (b & c) | (~b & d);
            word = round;
            break;
        case 1:
            mix = (d & b) | (~d & c);
            word = (5 * round + 1) % 16;
            break;
        case 2:
            mix = b ^ c ^ d;
            word = (3 * round + 5) % 16;
            break;
        default:
            mix = c ^ (b | ~d);
            word = (7 * round) % 16;
            break;
        }
        const std::uint32_t next = d;
        d = c;
        c = b;
        b = b
            + rotate(a + mix + sines[static_cast<std::size_t>(round)] + words[word],
                shifts[static_cast<std::size_t>((round / 16) * 4 + round % 4)]);
        a = next;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

} // namespace

std::string md5Hex(const std::uint8_t* bytes, std::size_t length)
{
    std::array<std::uint32_t, 4> state = { 0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476 };
    std::size_t offset = 0;
    for (; offset + 64 <= length; offset += 64) {
        compress(state, bytes + offset);
    }
    std::uint8_t tail[128] = {};
    const std::size_t rest = length - offset;
    if (rest > 0) {
        std::memcpy(tail, bytes + offset, rest);
    }
    tail[rest] = 0x80;
    const std::size_t tailLength = rest < 56 ? 64 : 128;
    const std::uint64_t bits = static_cast<std::uint64_t>(length) * 8;
    for (int index = 0; index < 8; ++index) {
        tail[tailLength - 8 + static_cast<std::size_t>(index)] = static_cast<std::uint8_t>(bits >> (8 * index));
    }
    compress(state, tail);
    if (tailLength == 128) {
        compress(state, tail + 64);
    }
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (const std::uint32_t word : state) {
        for (int index = 0; index < 4; ++index) {
            const auto byte = static_cast<std::uint8_t>(word >> (8 * index));
            text.push_back(digits[byte >> 4]);
            text.push_back(digits[byte & 0x0F]);
        }
    }
    return text;
}

} // namespace tavrik
