#include "TavrikPlatform/Support/QtScheduler.hpp"
#include "tests/support/ManualScheduler.hpp"
#include "tests/support/qt/QtTestSupport.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavrik::test {
namespace {

using std::chrono::milliseconds;

TEST(ManualSchedulerTests, RunsDueCallbacksInTimeThenSchedulingOrder)
{
    ManualScheduler scheduler;
    std::vector<std::string> ran;
    scheduler.schedule(milliseconds(200), [&] { ran.push_back("b@200"); });
    scheduler.schedule(milliseconds(100), [&] { ran.push_back("a@100"); });
    scheduler.schedule(milliseconds(200), [&] {
        ran.push_back("c@200");
        // Falls due inside the same advance, so it runs in it; one past the end does not.
        scheduler.schedule(milliseconds(50), [&] { ran.push_back("d@250"); });
        scheduler.schedule(milliseconds(101), [&] { ran.push_back("e@301"); });
    });
    const auto cancelled = scheduler.schedule(milliseconds(150), [&] { ran.push_back("cancelled"); });
    scheduler.cancel(cancelled);

    scheduler.advance(milliseconds(99));
    EXPECT_TRUE(ran.empty());
    scheduler.advance(milliseconds(201));
    EXPECT_EQ(ran, (std::vector<std::string> { "a@100", "b@200", "c@200", "d@250" }));
    EXPECT_EQ(scheduler.now(), milliseconds(300));
    EXPECT_EQ(scheduler.nextDueTime(), milliseconds(301));
}

TEST(ManualSchedulerTests, ZeroDelayWaitsForTheNextTurnAndFireNowRunsAtOnce)
{
    ManualScheduler scheduler;
    int runs = 0;
    scheduler.schedule(milliseconds(0), [&] { ++runs; });
    EXPECT_EQ(runs, 0);
    scheduler.runDue();
    EXPECT_EQ(runs, 1);

    const auto handle = scheduler.schedule(milliseconds(60'000), [&] { runs += 10; });
    EXPECT_TRUE(scheduler.fireNow(handle));
    EXPECT_EQ(runs, 11);
    EXPECT_FALSE(scheduler.fireNow(handle));
    EXPECT_EQ(scheduler.pendingCount(), 0u);
    EXPECT_EQ(scheduler.now(), milliseconds(0));
}

TEST(QtSchedulerTests, RunsOnTheEventLoopAndHonoursCancelAndFireNow)
{
    QtScheduler scheduler;
    std::vector<int> ran;
    scheduler.schedule(milliseconds(0), [&] { ran.push_back(1); });
    const auto cancelled = scheduler.schedule(milliseconds(0), [&] { ran.push_back(2); });
    const auto later = scheduler.schedule(milliseconds(3'600'000), [&] { ran.push_back(3); });
    EXPECT_TRUE(ran.empty()) << "nothing runs inside schedule()";
    scheduler.cancel(cancelled);
    EXPECT_TRUE(scheduler.fireNow(later));
    EXPECT_FALSE(scheduler.fireNow(later));
    ASSERT_TRUE(processEventsUntil([&] { return ran.size() >= 2; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(ran, (std::vector<int> { 3, 1 }));
}

} // namespace
} // namespace tavrik::test
