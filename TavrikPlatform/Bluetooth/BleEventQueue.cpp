#include "TavrikPlatform/Bluetooth/BleEventQueue.hpp"

namespace tavrik {

BleEventQueue::BleEventQueue(Scheduler& scheduler)
    : scheduler(scheduler)
{
}

BleEventQueue::~BleEventQueue()
{
    scheduler.cancel(pending);
}

void BleEventQueue::post(const std::shared_ptr<const void>& owner, std::function<void()> event)
{
    events.push_back({ owner, std::move(event) });
    if (pending == Scheduler::invalidHandle) {
        pending = scheduler.schedule(std::chrono::milliseconds(0), [this] { drain(); });
    }
}

void BleEventQueue::drain()
{
    pending = Scheduler::invalidHandle;
    const std::weak_ptr<const void> self = lifetime;
    // Events posted while draining wait for the next turn, so a delegate that keeps posting cannot
    // starve the loop.
    auto batch = std::move(events);
    events.clear();
    while (!batch.empty()) {
        auto event = std::move(batch.front());
        batch.pop_front();
        if (event.owner.expired()) {
            continue;
        }
        event.run();
        if (self.expired()) {
            return;
        }
    }
}

} // namespace tavrik
