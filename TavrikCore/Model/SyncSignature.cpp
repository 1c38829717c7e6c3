#include "TavrikCore/Model/SyncSignature.hpp"

#include <algorithm>
#include <cstring>
#include <random>

namespace tavrik {

namespace {
std::uint64_t avalanche(std::uint64_t value)
{
    value ^= value >> 30;
    value *= 0xBF58476D1CE4E5B9ull;
    value ^= value >> 27;
    value *= 0x94D049BB133111EBull;
    value ^= value >> 31;
    return value;
}
} // namespace

SyncHasher::SyncHasher(std::uint64_t seed)
    : state(avalanche(seed))
{
}

void SyncHasher::mix(std::uint64_t word)
{
    state = avalanche(state ^ (word + 0x9E3779B97F4A7C15ull + (state << 6) + (state >> 2)));
}

void SyncHasher::combine(bool value)
{
    mix(value ? 1 : 0);
}

void SyncHasher::combine(std::string_view text)
{
    // The length first, so that adjacent texts cannot trade characters without changing the hash.
    mix(text.size());
    std::size_t offset = 0;
    while (offset < text.size()) {
        std::uint64_t word = 0;
        const std::size_t count = std::min<std::size_t>(8, text.size() - offset);
        std::memcpy(&word, text.data() + offset, count);
        mix(word);
        offset += count;
    }
}

std::int64_t SyncHasher::finalize() const
{
    return static_cast<std::int64_t>(avalanche(state));
}

std::uint64_t syncSignatureSeed()
{
    static const std::uint64_t seed = [] {
        std::random_device device;
        return (static_cast<std::uint64_t>(device()) << 32) ^ device();
    }();
    return seed;
}

} // namespace tavrik
