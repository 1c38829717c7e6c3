#pragma once

#include "TavrikCore/Support/Scheduler.hpp"

#include <chrono>
#include <functional>

namespace tavrik {

// One pending "wait, then act" of an owner: scheduling again replaces what was pending, and the
// task cancels itself when it is destroyed, so a callback never runs after its owner is gone and
// the owner keeps no list of handles to cancel.
class ScheduledTask {
public:
    explicit ScheduledTask(Scheduler& scheduler)
        : scheduler(scheduler)
    {
    }
    ~ScheduledTask() { cancel(); }
    ScheduledTask(const ScheduledTask&) = delete;
    ScheduledTask& operator=(const ScheduledTask&) = delete;

    // Runs `action` once after `delay`, cancelling whatever was pending. When it runs the task is
    // no longer pending, so `action` may schedule the task again.
    void schedule(std::chrono::milliseconds delay, std::function<void()> action);
    void cancel();
    // Runs the pending action now instead of at its time; false when nothing is pending.
    bool fireNow();
    bool isPending() const { return handle != Scheduler::invalidHandle; }

private:
    Scheduler& scheduler;
    Scheduler::Handle handle = Scheduler::invalidHandle;
};

} // namespace tavrik
