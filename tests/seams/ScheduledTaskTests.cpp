#include "TavrikCore/Support/ScheduledTask.hpp"
#include "tests/support/ManualScheduler.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace tavrik::test {
namespace {

using std::chrono::milliseconds;

TEST(ScheduledTaskTests, SchedulingAgainReplacesWhatWasPending)
{
    ManualScheduler scheduler;
    ScheduledTask task(scheduler);
    std::vector<std::string> ran;
    task.schedule(milliseconds(100), [&] { ran.push_back("first"); });
    task.schedule(milliseconds(300), [&] { ran.push_back("second"); });
    EXPECT_TRUE(task.isPending());
    scheduler.advance(milliseconds(200));
    EXPECT_TRUE(ran.empty());
    scheduler.advance(milliseconds(100));
    EXPECT_EQ(ran, (std::vector<std::string> { "second" }));
    EXPECT_FALSE(task.isPending());
    EXPECT_EQ(scheduler.pendingCount(), 0U);
}

TEST(ScheduledTaskTests, DestructionAndCancelDropThePendingAction)
{
    ManualScheduler scheduler;
    int ran = 0;
    {
        ScheduledTask task(scheduler);
        task.schedule(milliseconds(10), [&] { ++ran; });
    }
    ScheduledTask cancelled(scheduler);
    cancelled.schedule(milliseconds(10), [&] { ++ran; });
    cancelled.cancel();
    EXPECT_FALSE(cancelled.isPending());
    EXPECT_FALSE(cancelled.fireNow());
    scheduler.advance(milliseconds(100));
    EXPECT_EQ(ran, 0);
    EXPECT_EQ(scheduler.pendingCount(), 0U);
}

TEST(ScheduledTaskTests, AnActionMayRescheduleItsTaskOrDestroyItsOwner)
{
    ManualScheduler scheduler;
    ScheduledTask ticking(scheduler);
    int ticks = 0;
    std::function<void()> tick = [&] {
        if (++ticks < 3) {
            ticking.schedule(milliseconds(10), tick);
        }
    };
    ticking.schedule(milliseconds(10), tick);
    scheduler.advance(milliseconds(100));
    EXPECT_EQ(ticks, 3);
    EXPECT_FALSE(ticking.isPending());

    struct Owner {
        explicit Owner(Scheduler& scheduler)
            : task(scheduler)
        {
        }
        ScheduledTask task;
    };
    auto owner = std::make_unique<Owner>(scheduler);
    bool ended = false;
    owner->task.schedule(milliseconds(0), [&] {
        owner.reset();
        ended = true;
    });
    EXPECT_TRUE(owner->task.fireNow());
    EXPECT_TRUE(ended);
    EXPECT_EQ(owner, nullptr);
}

} // namespace
} // namespace tavrik::test
