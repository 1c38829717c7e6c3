#pragma once

#include <cstdint>
#include <memory>

namespace tavrik {

// Session numbers, sync codes, node ids and UUIDs are drawn here so tests can pin them.
class RandomSource {
public:
    virtual ~RandomSource() = default;
    virtual std::uint64_t nextUInt64() = 0;

    // Uniform in [lower, upper], both inclusive.
    std::uint64_t uniform(std::uint64_t lower, std::uint64_t upper);
};

class SystemRandomSource final : public RandomSource {
public:
    SystemRandomSource();
    ~SystemRandomSource() override;
    std::uint64_t nextUInt64() override;

private:
    struct State;
    std::unique_ptr<State> state;
};

// The process-wide source used where no source is passed explicitly.
RandomSource& defaultRandomSource();

// Replaces the process-wide source for the lifetime of this object (tests).
class ScopedDefaultRandomSource {
public:
    explicit ScopedDefaultRandomSource(RandomSource& source);
    ~ScopedDefaultRandomSource();
    ScopedDefaultRandomSource(const ScopedDefaultRandomSource&) = delete;
    ScopedDefaultRandomSource& operator=(const ScopedDefaultRandomSource&) = delete;

private:
    RandomSource* previous;
};

} // namespace tavrik
