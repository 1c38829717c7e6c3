#include "TavrikLink/Support/SlicedWork.hpp"

#include <utility>

namespace tavrik {

SlicedWork::SlicedWork(Scheduler& scheduler, Budget budget)
    : scheduler(scheduler)
    , limits(budget)
{
}

void SlicedWork::start(Step next, Start when)
{
    stop();
    step = std::make_shared<Step>(std::move(next));
    if (when == Start::now) {
        runSlice();
    } else {
        scheduleSlice(generation);
    }
}

void SlicedWork::stop()
{
    ++generation;
    step.reset();
    nextTurn.cancel();
}

void SlicedWork::finishNow()
{
    while (step) {
        nextTurn.cancel();
        // Held here for the same reason as in a slice.
        const std::shared_ptr<Step> current = step;
        const std::uint64_t run = generation;
        const bool more = (*current)();
        if (generation == run && !more) {
            step.reset();
        }
    }
}

void SlicedWork::runSlice()
{
    // Held here: a step that restarts or stops the work must not destroy itself while it runs.
    const std::shared_ptr<Step> current = step;
    const std::uint64_t run = generation;
    const std::chrono::milliseconds began = scheduler.now();
    for (std::size_t done = 0; done < limits.steps; ++done) {
        if (done > 0 && scheduler.now() - began >= limits.time) {
            break;
        }
        const bool more = (*current)();
        if (generation != run) {
            return;
        }
        if (!more) {
            step.reset();
            return;
        }
    }
    scheduleSlice(run);
}

void SlicedWork::scheduleSlice(std::uint64_t run)
{
    nextTurn.schedule(std::chrono::milliseconds(0), [this, run] {
        if (generation == run) {
            runSlice();
        }
    });
}

} // namespace tavrik
