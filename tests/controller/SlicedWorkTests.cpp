#include "TavrikLink/Support/SlicedWork.hpp"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace tavrik::test {
namespace {

using namespace std::chrono_literals;

// An event loop run by hand: runTurn() runs what was queued before the turn began. Time moves
// only when a step says it took some.
class TurnScheduler final : public Scheduler {
public:
    std::chrono::milliseconds clock { 0 };

    Handle schedule(std::chrono::milliseconds, std::function<void()> fn) override
    {
        queue.emplace_back(++last, std::move(fn));
        return last;
    }
    void cancel(Handle handle) override
    {
        std::erase_if(queue, [&](const auto& entry) { return entry.first == handle; });
    }
    bool fireNow(Handle) override { return false; }
    std::chrono::milliseconds now() const override { return clock; }

    void runTurn()
    {
        std::deque<std::pair<Handle, std::function<void()>>> turn;
        std::swap(turn, queue);
        for (auto& entry : turn) {
            entry.second();
        }
    }
    bool idle() const { return queue.empty(); }

private:
    std::deque<std::pair<Handle, std::function<void()>>> queue;
    Handle last = 0;
};

// Steps that record themselves, each taking `cost` of the scheduler's time, until `count` are done.
struct Recorder {
    TurnScheduler& scheduler;
    int count;
    std::chrono::milliseconds cost { 0 };
    std::vector<int> done;

    SlicedWork::Step step()
    {
        return [this] {
            scheduler.clock += cost;
            done.push_back(static_cast<int>(done.size()));
            return static_cast<int>(done.size()) < count;
        };
    }
};

std::vector<std::size_t> stepsPerTurn(TurnScheduler& scheduler, SlicedWork& work, Recorder& recorder)
{
    work.start(recorder.step());
    std::vector<std::size_t> perTurn { recorder.done.size() };
    while (!scheduler.idle()) {
        const std::size_t before = recorder.done.size();
        scheduler.runTurn();
        perTurn.push_back(recorder.done.size() - before);
    }
    return perTurn;
}

TEST(SlicedWorkTests, EachTurnRunsABoundedSliceInOrderUntilTheWorkIsDone)
{
    TurnScheduler scheduler;
    SlicedWork work(scheduler, { 4, 1000ms });
    Recorder recorder { scheduler, 10, 0ms, {} };
    EXPECT_EQ(stepsPerTurn(scheduler, work, recorder), (std::vector<std::size_t> { 4, 4, 2 }));
    EXPECT_EQ(recorder.done, (std::vector<int> { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9 }));
    EXPECT_FALSE(work.isRunning());
}

TEST(SlicedWorkTests, ATurnEndsOnceItsTimeIsSpentButAlwaysMakesProgress)
{
    TurnScheduler scheduler;
    SlicedWork work(scheduler, { 100, 8ms });
    Recorder cheap { scheduler, 7, 3ms, {} };
    // 3 ms, 6 ms, 9 ms: no fourth step once 8 ms have passed.
    EXPECT_EQ(stepsPerTurn(scheduler, work, cheap), (std::vector<std::size_t> { 3, 3, 1 }));

    Recorder slow { scheduler, 3, 50ms, {} };
    EXPECT_EQ(stepsPerTurn(scheduler, work, slow), (std::vector<std::size_t> { 1, 1, 1 }));
}

TEST(SlicedWorkTests, WorkStartedForTheNextTurnRunsNothingBeforeIt)
{
    TurnScheduler scheduler;
    SlicedWork work(scheduler, { 4, 1000ms });
    Recorder recorder { scheduler, 6, 0ms, {} };
    work.start(recorder.step(), SlicedWork::Start::nextTurn);
    EXPECT_TRUE(work.isRunning());
    EXPECT_TRUE(recorder.done.empty());
    scheduler.runTurn();
    EXPECT_EQ(recorder.done.size(), 4u);
    scheduler.runTurn();
    EXPECT_EQ(recorder.done.size(), 6u);
    EXPECT_FALSE(work.isRunning());

    // Stopped before its first turn, it never runs.
    Recorder stopped { scheduler, 6, 0ms, {} };
    work.start(stopped.step(), SlicedWork::Start::nextTurn);
    work.stop();
    scheduler.runTurn();
    EXPECT_TRUE(stopped.done.empty());
    EXPECT_TRUE(scheduler.idle());
}

TEST(SlicedWorkTests, AStepMayStopOrReplaceTheWork)
{
    TurnScheduler scheduler;
    SlicedWork work(scheduler, { 2, 1000ms });
    std::vector<std::string> done;
    int first = 0;
    work.start([&] {
        done.push_back("first " + std::to_string(first));
        if (++first == 3) {
            work.start([&] {
                done.push_back("second");
                return done.size() < 6;
            });
        }
        return true;
    });
    while (!scheduler.idle()) {
        scheduler.runTurn();
    }
    EXPECT_EQ(done, (std::vector<std::string> { "first 0", "first 1", "first 2", "second", "second", "second" }));

    done.clear();
    work.start([&] {
        done.push_back("stopping");
        work.stop();
        return true;
    });
    scheduler.runTurn();
    EXPECT_EQ(done, std::vector<std::string> { "stopping" });
    EXPECT_FALSE(work.isRunning());

    // Stopped from outside between turns, nothing more runs.
    work.start([&] {
        done.push_back("more");
        return true;
    });
    work.stop();
    EXPECT_TRUE(scheduler.idle());
    EXPECT_EQ(done.size(), 3U);
}

TEST(SlicedWorkTests, FinishingNowRunsTheRestInOrderAndLeavesNoTurnBehind)
{
    TurnScheduler scheduler;
    SlicedWork work(scheduler, { 2, 1000ms });
    Recorder recorder { scheduler, 7, 0ms, {} };
    work.start(recorder.step());
    ASSERT_EQ(recorder.done.size(), 2U);
    ASSERT_TRUE(work.isRunning());

    work.finishNow();
    EXPECT_EQ(recorder.done, (std::vector<int> { 0, 1, 2, 3, 4, 5, 6 }));
    EXPECT_FALSE(work.isRunning());
    EXPECT_TRUE(scheduler.idle()) << "no slice is left for a later turn";

    // Work a step starts on its way out is finished too; finishing nothing does nothing.
    Recorder next { scheduler, 3, 0ms, {} };
    bool handedOn = false;
    work.start(
        [&] {
            if (!handedOn) {
                handedOn = true;
                work.start(next.step(), SlicedWork::Start::nextTurn);
            }
            return false;
        },
        SlicedWork::Start::nextTurn);
    work.finishNow();
    EXPECT_EQ(next.done.size(), 3U);
    EXPECT_FALSE(work.isRunning());
    EXPECT_TRUE(scheduler.idle());
    work.finishNow();
}

} // namespace
} // namespace tavrik::test
