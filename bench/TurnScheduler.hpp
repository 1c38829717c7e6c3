#pragma once

#include "TavrikCore/Support/Scheduler.hpp"

#include <chrono>
#include <deque>
#include <functional>
#include <utility>

namespace tavrik::bench {

// The event loop by hand: runTurn() runs what was due when the turn began. Its clock is the real
// one, as the application's is, so the link's own time budget applies.
class TurnScheduler final : public Scheduler {
public:
    Handle schedule(std::chrono::milliseconds delay, std::function<void()> fn) override
    {
        queue.push_back({ ++last, now() + delay, std::move(fn) });
        return last;
    }
    void cancel(Handle handle) override
    {
        std::erase_if(queue, [&](const Entry& entry) { return entry.handle == handle; });
    }
    bool fireNow(Handle) override { return false; }
    std::chrono::milliseconds now() const override
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    }

    // Runs what is due now; false when nothing was.
    bool runTurn()
    {
        const std::chrono::milliseconds turn = now();
        std::deque<Entry> due;
        for (auto entry = queue.begin(); entry != queue.end();) {
            if (entry->due <= turn) {
                due.push_back(std::move(*entry));
                entry = queue.erase(entry);
            } else {
                ++entry;
            }
        }
        for (Entry& entry : due) {
            entry.fn();
        }
        return !due.empty();
    }

private:
    struct Entry {
        Handle handle;
        std::chrono::milliseconds due;
        std::function<void()> fn;
    };
    std::deque<Entry> queue;
    Handle last = 0;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
};

} // namespace tavrik::bench
