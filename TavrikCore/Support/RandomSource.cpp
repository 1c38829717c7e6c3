#include "TavrikCore/Support/RandomSource.hpp"

#include <limits>
#include <mutex>
#include <random>

namespace tavrik {

std::uint64_t RandomSource::uniform(std::uint64_t lower, std::uint64_t upper)
{
    if (upper <= lower) {
        return lower;
    }
    const std::uint64_t span = upper - lower;
    if (span == std::numeric_limits<std::uint64_t>::max()) {
        return nextUInt64();
    }
    // Rejection sampling keeps the draw unbiased.
    const std::uint64_t range = span + 1;
    const std::uint64_t limit
        = std::numeric_limits<std::uint64_t>::max() - std::numeric_limits<std::uint64_t>::max() % range;
    std::uint64_t value = nextUInt64();
    while (value >= limit) {
        value = nextUInt64();
    }
    return lower + value % range;
}

struct SystemRandomSource::State {
    // The process-wide source may be drawn from on any thread.
    std::mutex lock;
    std::mt19937_64 engine;
};

SystemRandomSource::SystemRandomSource()
    : state(std::make_unique<State>())
{
    std::random_device device;
    std::seed_seq seed { device(), device(), device(), device(), device(), device(), device(), device() };
    state->engine.seed(seed);
}

SystemRandomSource::~SystemRandomSource() = default;

std::uint64_t SystemRandomSource::nextUInt64()
{
    const std::lock_guard guard(state->lock);
    return state->engine();
}

namespace {
RandomSource*& currentDefault()
{
    static SystemRandomSource system;
    static RandomSource* current = &system;
    return current;
}
} // namespace

RandomSource& defaultRandomSource()
{
    return *currentDefault();
}

ScopedDefaultRandomSource::ScopedDefaultRandomSource(RandomSource& source)
    : previous(currentDefault())
{
    currentDefault() = &source;
}

ScopedDefaultRandomSource::~ScopedDefaultRandomSource()
{
    currentDefault() = previous;
}

} // namespace tavrik
