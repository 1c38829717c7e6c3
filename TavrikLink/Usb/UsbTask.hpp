#pragma once

#include "TavrikLink/Usb/ProcessRunner.hpp"

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace tavrik {

// One piece of asynchronous USB work (a probe, a scan, an installation...): it can be cancelled,
// which stops the step it is waiting on, and others can wait for it to end. The service keeps
// handles to these; comparing handles tells one task from another.
class UsbTask {
public:
    bool isCancelled() const { return cancelled; }
    bool isFinished() const { return finished; }

    void cancel()
    {
        if (cancelled || finished) {
            return;
        }
        cancelled = true;
        if (step) {
            auto stop = std::move(step);
            step = nullptr;
            stop();
        }
    }

    // The operation that stops the step the task waits on now.
    void setStep(UsbCancel stop) { step = std::move(stop); }
    void clearStep() { step = nullptr; }

    void finish()
    {
        if (finished) {
            return;
        }
        finished = true;
        step = nullptr;
        auto waiting = std::move(waiters);
        for (auto& waiter : waiting) {
            waiter();
        }
    }

    // Runs fn when the task ends (at once when it has ended).
    void whenFinished(std::function<void()> fn)
    {
        if (finished) {
            fn();
        } else {
            waiters.push_back(std::move(fn));
        }
    }

private:
    bool cancelled = false;
    bool finished = false;
    UsbCancel step;
    std::vector<std::function<void()>> waiters;
};

using UsbTaskHandle = std::shared_ptr<UsbTask>;

// Waits for each task in turn (absent ones are skipped), then runs fn.
inline void waitForUsbTasks(std::vector<UsbTaskHandle> tasks, std::function<void()> fn)
{
    if (tasks.empty()) {
        fn();
        return;
    }
    UsbTaskHandle first = tasks.front();
    tasks.erase(tasks.begin());
    if (!first) {
        waitForUsbTasks(std::move(tasks), std::move(fn));
        return;
    }
    first->whenFinished(
        [tasks = std::move(tasks), fn = std::move(fn)]() mutable { waitForUsbTasks(std::move(tasks), std::move(fn)); });
}

} // namespace tavrik
