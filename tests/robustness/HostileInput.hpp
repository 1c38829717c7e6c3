#pragma once

#include "TavrikCore/Support/Data.hpp"
#include "TavrikCore/Support/Json.hpp"

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace tavrik::test {

// Seeded source of values a careless or malicious peer might send: wrong types, extreme numbers,
// odd texts, deep or wide structures. The same seed always gives the same sequence.
class HostileInput {
public:
    explicit HostileInput(std::uint64_t seed)
        : engine(seed)
    {
    }

    std::size_t below(std::size_t count) { return count == 0 ? 0 : static_cast<std::size_t>(engine() % count); }
    bool chance(int percent) { return static_cast<int>(below(100)) < percent; }

    template <class Item>
    const Item& pick(const std::vector<Item>& items)
    {
        return items[below(items.size())];
    }

    // One value of any JSON type, biased towards the edges of each.
    Json scalar();
    // A scalar, or an array or object of hostile values nested up to `depth` levels.
    Json value(int depth = 2);
    // The document with a few of its members or elements replaced, removed or added.
    Json mutated(Json document, int changes = 0);
    // The document with a few values replaced by edge values of the same JSON type, or list elements
    // repeated or dropped: changes that often still pass a reader, so what comes after it is reached.
    Json nudged(Json document, int changes = 0);
    // Bytes that are not a well-formed document, or only just: cut, non-UTF-8, nested too deeply or
    // exactly as deeply as allowed, repeated, not JSON at all.
    Data brokenText(const Json& document);
    // Random bytes.
    Data noise(std::size_t maximumLength);

    std::mt19937_64 engine;

private:
    void mutateOnce(Json& node, int depth);
    void nudgeOnce(Json& node, int depth);
    Json sameKind(const Json& original);
};

// The document as compact JSON bytes; strings that are not UTF-8 are replaced rather than refused.
Data bytesOf(const Json& document);
Data textBytes(std::string_view text);

} // namespace tavrik::test
