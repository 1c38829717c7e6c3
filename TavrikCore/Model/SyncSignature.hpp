#pragma once

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrik {

// Collects the values of a record into one hash. Seeded once per process: a signature is only ever
// compared with signatures made in the same run to tell edited from confirmed data, never stored or sent.
class SyncHasher {
public:
    explicit SyncHasher(std::uint64_t seed);

    void combine(bool value);
    void combine(std::string_view text);
    void combine(const std::string& text) { combine(std::string_view(text)); }
    void combine(const char* text) { combine(std::string_view(text)); }
    template <std::integral Integer>
    void combine(Integer value)
    {
        mix(static_cast<std::uint64_t>(static_cast<std::int64_t>(value)));
    }
    template <class T>
    void combine(const std::vector<T>& values)
    {
        mix(values.size());
        for (const T& value : values) {
            combine(value);
        }
    }
    // A presence marker (1 followed by the value, or 0 when absent).
    template <class T>
    void combine(const std::optional<T>& value)
    {
        if (value) {
            mix(1);
            combine(*value);
        } else {
            mix(0);
        }
    }

    std::int64_t finalize() const;

private:
    void mix(std::uint64_t word);
    std::uint64_t state;
};

std::uint64_t syncSignatureSeed();

template <class Feed>
std::int64_t makeSyncSignature(Feed&& feed)
{
    SyncHasher hasher(syncSignatureSeed());
    feed(hasher);
    return hasher.finalize();
}

// A record whose signature tells an edited copy from the last confirmed one (within one run).
template <class T>
concept SyncedValue = requires(const T& value)
{
    {
        value.syncSignature()
        } -> std::same_as<std::int64_t>;
};

} // namespace tavrik
