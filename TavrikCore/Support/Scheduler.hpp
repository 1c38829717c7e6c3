#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace tavrik {

// Every "wait, then act" goes through here, so tests can move time by hand instead of sleeping.
// Callbacks run on the owner's thread (the event loop in the application); a delay of zero means
// "on the next turn of the loop", never synchronously inside schedule().
class Scheduler {
public:
    using Handle = std::uint64_t;
    static constexpr Handle invalidHandle = 0;

    virtual ~Scheduler() = default;

    // Runs fn once after delay; the handle is never invalidHandle.
    virtual Handle schedule(std::chrono::milliseconds delay, std::function<void()> fn) = 0;
    // Forgets a pending callback; unknown or already-run handles are ignored.
    virtual void cancel(Handle handle) = 0;
    // Runs a pending callback now instead of at its time (a cut-short wait goes on at once).
    // Returns false when the handle is not pending.
    virtual bool fireNow(Handle handle) = 0;
    // Milliseconds on this scheduler's monotonic time line.
    virtual std::chrono::milliseconds now() const = 0;
};

} // namespace tavrik
