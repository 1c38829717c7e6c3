#include "tests/support/ManualScheduler.hpp"

namespace tavrik::test {

Scheduler::Handle ManualScheduler::schedule(std::chrono::milliseconds delay, std::function<void()> fn)
{
    if (delay < std::chrono::milliseconds(0)) {
        delay = std::chrono::milliseconds(0);
    }
    const Handle handle = nextHandle++;
    pending.emplace(std::make_pair(current + delay, handle), std::move(fn));
    dueByHandle.emplace(handle, current + delay);
    return handle;
}

void ManualScheduler::cancel(Handle handle)
{
    const auto found = dueByHandle.find(handle);
    if (found == dueByHandle.end()) {
        return;
    }
    pending.erase(std::make_pair(found->second, handle));
    dueByHandle.erase(found);
}

bool ManualScheduler::fireNow(Handle handle)
{
    const auto found = dueByHandle.find(handle);
    if (found == dueByHandle.end()) {
        return false;
    }
    const auto key = std::make_pair(found->second, handle);
    auto fn = std::move(pending.at(key));
    pending.erase(key);
    dueByHandle.erase(found);
    fn();
    return true;
}

void ManualScheduler::advance(std::chrono::milliseconds step)
{
    const auto target = current + step;
    while (!pending.empty() && pending.begin()->first.first <= target) {
        auto node = pending.extract(pending.begin());
        dueByHandle.erase(node.key().second);
        if (node.key().first > current) {
            current = node.key().first;
        }
        node.mapped()();
    }
    current = target;
}

std::chrono::milliseconds ManualScheduler::runUntilIdle(std::chrono::milliseconds limit)
{
    const auto start = current;
    while (!pending.empty() && pending.begin()->first.first - start <= limit) {
        advance(pending.begin()->first.first - current);
    }
    return current - start;
}

std::chrono::milliseconds ManualScheduler::nextDueTime() const
{
    return pending.empty() ? std::chrono::milliseconds(-1) : pending.begin()->first.first;
}

} // namespace tavrik::test
