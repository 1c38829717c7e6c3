#include "TavrikLink/Views/AppQuitPresenter.hpp"
#include "tests/support/ManualScheduler.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace tavrik::test {
namespace {

using std::chrono::milliseconds;

struct QuitFixture : ::testing::Test {
    ManualScheduler scheduler;
    std::vector<int> exits;
    AppQuitPresenter presenter { scheduler, [this](int status) { exits.push_back(status); } };

    // Installs a shutdown that keeps its completion for the test to call; counts its starts.
    int starts = 0;
    std::function<void()> pendingCompletion;
    void installPendingShutdown()
    {
        presenter.setPrepareForTermination([this](std::function<void()> completion) {
            ++starts;
            pendingCompletion = std::move(completion);
        });
    }
};

TEST_F(QuitFixture, WithoutShutdownQuitsAtOnceWithStatusZero)
{
    presenter.requestQuit();
    EXPECT_EQ(exits, std::vector<int>({ 0 }));
    EXPECT_EQ(presenter.state(), AppQuitPresenter::State::quitting);
    EXPECT_EQ(scheduler.pendingCount(), 0u);

    presenter.requestQuit();
    EXPECT_EQ(exits.size(), 1u) << "a quit already under way is not repeated";
}

TEST_F(QuitFixture, WaitsForTheShutdownAndIgnoresRequestsMeanwhile)
{
    installPendingShutdown();
    presenter.requestQuit();
    EXPECT_TRUE(exits.empty());
    EXPECT_EQ(presenter.state(), AppQuitPresenter::State::waitingForShutdown);

    // Ctrl+Q again, the close button, SIGTERM: none starts a second shutdown.
    presenter.requestQuit();
    presenter.requestQuit();
    scheduler.advance(milliseconds(4999));
    EXPECT_EQ(starts, 1);
    EXPECT_TRUE(exits.empty());

    pendingCompletion();
    EXPECT_EQ(exits, std::vector<int>({ 0 }));
    EXPECT_FALSE(presenter.gaveUpWaiting());
    EXPECT_EQ(scheduler.pendingCount(), 0u) << "the wait limit is withdrawn";

    pendingCompletion();
    scheduler.runUntilIdle();
    EXPECT_EQ(exits.size(), 1u);
}

TEST_F(QuitFixture, AShutdownThatNeverEndsIsCutOffAtTheLimit)
{
    installPendingShutdown();
    presenter.requestQuit();
    scheduler.advance(AppQuitPresenter::defaultWaitLimit - milliseconds(1));
    EXPECT_TRUE(exits.empty());
    scheduler.advance(milliseconds(1));
    EXPECT_EQ(exits, std::vector<int>({ 0 }));
    EXPECT_TRUE(presenter.gaveUpWaiting());

    pendingCompletion();
    EXPECT_EQ(exits.size(), 1u) << "a late completion quits nothing twice";
}

TEST_F(QuitFixture, ShutdownsThatEndAtOnceOrFailStillQuitOnce)
{
    struct Case {
        const char* name;
        AppQuitPresenter::PrepareForTermination operation;
    };
    const std::vector<Case> cases {
        { "completes before returning", [](std::function<void()> completion) { completion(); } },
        { "completes twice",
            [](std::function<void()> completion) {
                completion();
                completion();
            } },
        { "throws", [](std::function<void()>) { throw std::runtime_error("device gone"); } },
        { "completes then throws",
            [](std::function<void()> completion) {
                completion();
                throw 42;
            } },
        { "empty operation", {} },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ManualScheduler localScheduler;
        std::vector<int> localExits;
        AppQuitPresenter local(localScheduler, [&](int status) { localExits.push_back(status); });
        local.setPrepareForTermination(c.operation);
        local.requestQuit();
        localScheduler.runUntilIdle();
        EXPECT_EQ(localExits, std::vector<int>({ 0 }));
        EXPECT_FALSE(local.gaveUpWaiting());
    }
}

TEST_F(QuitFixture, TheWindowClearingItsShutdownMidwayChangesNothing)
{
    presenter.setPrepareForTermination([this](std::function<void()> completion) {
        ++starts;
        // The window goes away while its shutdown runs.
        presenter.clearPrepareForTermination();
        pendingCompletion = std::move(completion);
    });
    presenter.requestQuit();
    EXPECT_TRUE(exits.empty());
    pendingCompletion();
    EXPECT_EQ(exits, std::vector<int>({ 0 }));
}

TEST(AppQuitPresenterLifetimeTests, ACompletionAfterThePresenterIsGoneIsHarmless)
{
    ManualScheduler scheduler;
    std::function<void()> kept;
    int exits = 0;
    {
        AppQuitPresenter presenter(scheduler, [&](int) { ++exits; });
        presenter.setPrepareForTermination([&](std::function<void()> completion) { kept = std::move(completion); });
        presenter.requestQuit();
    }
    EXPECT_EQ(scheduler.pendingCount(), 0u);
    kept();
    EXPECT_EQ(exits, 0);
}

} // namespace
} // namespace tavrik::test
