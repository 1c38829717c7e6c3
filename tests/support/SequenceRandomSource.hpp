#pragma once

#include "TavrikCore/Support/RandomSource.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tavrik::test {

// Hands out the given values in turn, then repeats them; a counter when none are given.
class SequenceRandomSource final : public RandomSource {
public:
    SequenceRandomSource() = default;
    explicit SequenceRandomSource(std::vector<std::uint64_t> values)
        : values(std::move(values))
    {
    }

    std::uint64_t nextUInt64() override
    {
        if (values.empty()) {
            return counter++;
        }
        const std::uint64_t value = values[next % values.size()];
        ++next;
        return value;
    }

private:
    std::vector<std::uint64_t> values;
    std::size_t next = 0;
    std::uint64_t counter = 1;
};

} // namespace tavrik::test
