#include "TavrikCore/Support/ScheduledTask.hpp"

#include <utility>

namespace tavrik {

void ScheduledTask::schedule(std::chrono::milliseconds delay, std::function<void()> action)
{
    cancel();
    handle = scheduler.schedule(delay, [this, action = std::move(action)] {
        handle = Scheduler::invalidHandle;
        // Nothing of this task is touched after the action: it may destroy the owner.
        action();
    });
}

void ScheduledTask::cancel()
{
    if (handle != Scheduler::invalidHandle) {
        scheduler.cancel(std::exchange(handle, Scheduler::invalidHandle));
    }
}

bool ScheduledTask::fireNow()
{
    return handle != Scheduler::invalidHandle && scheduler.fireNow(handle);
}

} // namespace tavrik
