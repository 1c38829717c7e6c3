#pragma once

#include "TavrikCore/Support/Scheduler.hpp"

#include <map>
#include <utility>

namespace tavrik::test {

// Virtual time for tests: nothing runs until advance() moves the clock past a callback's time.
// Callbacks due at the same moment run in the order they were scheduled; callbacks scheduled while
// advancing run in the same advance when they fall due within it.
class ManualScheduler final : public Scheduler {
public:
    Handle schedule(std::chrono::milliseconds delay, std::function<void()> fn) override;
    void cancel(Handle handle) override;
    bool fireNow(Handle handle) override;
    std::chrono::milliseconds now() const override { return current; }

    // Moves time forward by step, running every callback that falls due on the way.
    void advance(std::chrono::milliseconds step);
    // Runs whatever is due now (zero-delay callbacks), repeatedly, without moving time.
    void runDue() { advance(std::chrono::milliseconds(0)); }
    // Runs callbacks in time order until none is left or limit is reached; returns the time moved.
    std::chrono::milliseconds runUntilIdle(std::chrono::milliseconds limit = std::chrono::hours(24));
    std::size_t pendingCount() const { return pending.size(); }
    // Time of the earliest pending callback; -1 ms when none is pending.
    std::chrono::milliseconds nextDueTime() const;

private:
    // Ordered by (due time, scheduling order).
    std::map<std::pair<std::chrono::milliseconds, Handle>, std::function<void()>> pending;
    std::map<Handle, std::chrono::milliseconds> dueByHandle;
    std::chrono::milliseconds current { 0 };
    Handle nextHandle = 1;
};

} // namespace tavrik::test
