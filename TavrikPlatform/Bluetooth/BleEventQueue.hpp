#pragma once

#include "TavrikCore/Support/Scheduler.hpp"

#include <deque>
#include <functional>
#include <memory>

namespace tavrik {

// Delivers delegate calls on a later turn of the event loop, in the order they were posted, so no
// delegate is ever called from inside the call that caused it.
class BleEventQueue final {
public:
    explicit BleEventQueue(Scheduler& scheduler);
    ~BleEventQueue();
    BleEventQueue(const BleEventQueue&) = delete;
    BleEventQueue& operator=(const BleEventQueue&) = delete;

    // The event is dropped when its owner (any object whose lifetime the token follows) is gone by
    // the time it is due.
    void post(const std::shared_ptr<const void>& owner, std::function<void()> event);

private:
    struct Event {
        std::weak_ptr<const void> owner;
        std::function<void()> run;
    };
    void drain();

    Scheduler& scheduler;
    std::deque<Event> events;
    std::shared_ptr<const void> lifetime = std::make_shared<int>(0);
    Scheduler::Handle pending = Scheduler::invalidHandle;
};

} // namespace tavrik
