#pragma once

#include "TavrikCore/Support/ScheduledTask.hpp"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace tavrik {

// Long work spread over turns of the event loop, so the window repaints and takes input meanwhile:
// each turn runs a bounded slice of steps (at most `steps`, and no further step once `time` has
// passed on the scheduler's clock), then yields and goes on at the next turn. Steps run in order,
// one at a time, and always at least one per turn.
class SlicedWork {
public:
    struct Budget {
        std::size_t steps = 1;
        std::chrono::milliseconds time { 0 };
    };
    // Does one step; false once no work is left.
    using Step = std::function<bool()>;

    SlicedWork(Scheduler& scheduler, Budget budget);
    SlicedWork(const SlicedWork&) = delete;
    SlicedWork& operator=(const SlicedWork&) = delete;

    // When the first slice runs: at once, within the caller's turn, or at the next turn (when the
    // caller's turn has already done work of its own).
    enum class Start { now, nextTurn };

    // Runs the first slice as `when` says and the rest at later turns, replacing work still under
    // way. A step may start or stop the work itself.
    void start(Step next, Start when = Start::now);
    // Drops what is left.
    void stop();
    // Runs what is left now, within the caller's turn, including work a step starts meanwhile.
    void finishNow();
    bool isRunning() const { return step != nullptr; }
    const Budget& budget() const { return limits; }

private:
    void runSlice();
    void scheduleSlice(std::uint64_t run);

    Scheduler& scheduler;
    Budget limits;
    std::shared_ptr<Step> step;
    ScheduledTask nextTurn { scheduler };
    std::uint64_t generation = 0;
};

} // namespace tavrik
