#include "TavrikLink/Controller/LinkClaims.hpp"
#include "TavrikLink/Controller/LinkEnd.hpp"

#include "tests/support/ManualScheduler.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace tavrik::test {
namespace {

using namespace std::chrono_literals;

class LinkClaimsTest : public ::testing::Test {
protected:
    ManualScheduler scheduler;
    std::set<LinkClaim> elsewhere;
    std::vector<std::pair<LinkClaim, std::string>> expired;
    int restsOver = 0;
    LinkClaims claims { scheduler,
        { [this](LinkClaim claim) { return elsewhere.contains(claim); },
            [this](LinkClaim claim, const std::string& failure) { expired.emplace_back(claim, failure); },
            [this] { ++restsOver; } } };
};

TEST_F(LinkClaimsTest, EachBoundedClaimEndsWithItsOwnTextAfterItsBound)
{
    struct Case {
        LinkClaim claim;
        std::chrono::milliseconds bound;
        std::string failure;
    };
    const std::string stalled = "Tavrik stopped sending data. Enable connection mode on Tavrik and try again.";
    const std::vector<Case> cases {
        { LinkClaim::load, 15s, stalled },
        { LinkClaim::restore, 15s, stalled },
        { LinkClaim::routineControl, 65s, "The routine request timed out." },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(static_cast<int>(test.claim));
        expired.clear();
        claims.take(test.claim);
        claims.arm(test.claim);
        scheduler.advance(test.bound - 1ms);
        EXPECT_TRUE(expired.empty());
        EXPECT_TRUE(claims.any());

        // An answer starts the bound afresh.
        claims.arm(test.claim);
        scheduler.advance(test.bound - 1ms);
        EXPECT_TRUE(expired.empty());
        scheduler.advance(1ms);
        ASSERT_EQ(expired.size(), 1U);
        EXPECT_EQ(expired[0], std::make_pair(test.claim, test.failure));
        EXPECT_FALSE(claims.holds(test.claim));
        EXPECT_FALSE(claims.any());
    }
}

TEST_F(LinkClaimsTest, ReleasingOrPausingAClaimStopsOnlyItsOwnBound)
{
    for (const LinkClaim claim : { LinkClaim::routineControl, LinkClaim::restore, LinkClaim::load }) {
        claims.take(claim);
        claims.arm(claim);
    }
    // The device waits for its user: the restore stays, unbounded. The load is over.
    claims.disarm(LinkClaim::restore);
    claims.release(LinkClaim::load);
    scheduler.advance(65s);
    ASSERT_EQ(expired.size(), 1U);
    EXPECT_EQ(expired[0].first, LinkClaim::routineControl);
    EXPECT_TRUE(claims.holds(LinkClaim::restore));
    EXPECT_FALSE(claims.isArmed(LinkClaim::restore));
    EXPECT_FALSE(claims.holds(LinkClaim::load));
}

TEST_F(LinkClaimsTest, TheLinkIsFreeOnlyWhenNoClaimIsHeldHereOrElsewhere)
{
    EXPECT_FALSE(claims.any());
    for (const LinkClaim claim : { LinkClaim::load, LinkClaim::restore, LinkClaim::commandConnection,
             LinkClaim::routineControl, LinkClaim::wifiRequest, LinkClaim::firmwareTransfer, LinkClaim::tagScan }) {
        SCOPED_TRACE(static_cast<int>(claim));
        elsewhere = { claim };
        EXPECT_TRUE(claims.any());
        EXPECT_TRUE(claims.holds(claim));
        elsewhere.clear();
        claims.take(claim);
        EXPECT_TRUE(claims.any());
        claims.release(claim);
        EXPECT_FALSE(claims.any());
    }
    // Claims without a bound here never expire.
    claims.take(LinkClaim::tagScan);
    claims.arm(LinkClaim::tagScan);
    scheduler.advance(24h);
    EXPECT_TRUE(expired.empty());
    EXPECT_TRUE(claims.holds(LinkClaim::tagScan));
}

TEST_F(LinkClaimsTest, FailedConnectsInARowRestBeforeTheNextLook)
{
    EXPECT_TRUE(claims.connectFailed());
    EXPECT_TRUE(claims.connectFailed());
    EXPECT_FALSE(claims.connectFailed());
    EXPECT_TRUE(claims.isResting());
    scheduler.advance(LinkClaims::connectRest - 1ms);
    EXPECT_EQ(restsOver, 0);
    scheduler.advance(1ms);
    EXPECT_EQ(restsOver, 1);

    // Still failing: every further failure rests again.
    EXPECT_FALSE(claims.connectFailed());
    // A link that carries messages starts the count afresh and ends the rest.
    claims.resetConnectFailures();
    EXPECT_FALSE(claims.isResting());
    EXPECT_TRUE(claims.connectFailed());
    scheduler.advance(LinkClaims::connectRest);
    EXPECT_EQ(restsOver, 1);
}

class LinkEndTest : public ::testing::Test {
protected:
    ManualScheduler scheduler;
    bool mayRun = true;
    bool linkUp = true;
    bool held = false;
    // What the work that cannot finish does when it gives up.
    std::function<void()> onGivingUp = [] {};
    std::vector<std::optional<int>> shown;
    int ends = 0;
    LinkEnd end { scheduler,
        { [this] { return mayRun; }, [this] { return linkUp; }, [this] { return held; }, [this] { onGivingUp(); },
            [this](std::optional<int> seconds) {
                if (shown.empty() || shown.back() != seconds) {
                    shown.push_back(seconds);
                }
            },
            [this] { ++ends; } } };

    // What an idle minute shows: nothing, then 30 down to 1, then nothing.
    std::vector<std::optional<int>> countdownFrom30() const
    {
        std::vector<std::optional<int>> expected { std::nullopt };
        for (int second = LinkEnd::countdownVisibleSeconds; second >= 1; --second) {
            expected.emplace_back(second);
        }
        expected.emplace_back(std::nullopt);
        return expected;
    }
};

TEST_F(LinkEndTest, TheIdleMinuteEndsTheLinkOnlyWhenNothingHoldsIt)
{
    struct Case {
        const char* name;
        bool linkUp;
        bool held;
        bool givingUpFreesTheLink;
        bool ends;
        bool countdownShown;
    };
    const std::vector<Case> cases {
        { "idle link", true, false, false, true, true },
        { "work holds the link", true, true, false, false, false },
        { "refused edits given up at the end", true, true, true, true, false },
        { "link already gone", false, false, false, false, true },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        linkUp = test.linkUp;
        held = test.held;
        onGivingUp = [this, frees = test.givingUpFreesTheLink] {
            if (frees) {
                held = false;
            }
        };
        shown.clear();
        ends = 0;

        end.restart();
        scheduler.advance(std::chrono::seconds(LinkEnd::idleSeconds) - 1ms);
        EXPECT_EQ(ends, 0);
        EXPECT_EQ(shown.size() > 1, test.countdownShown);
        scheduler.advance(1ms);
        EXPECT_EQ(ends, test.ends ? 1 : 0);
        if (test.countdownShown && test.ends) {
            EXPECT_EQ(shown, countdownFrom30());
        }
        // A minute that did not end the link starts again for as long as it may run.
        EXPECT_EQ(end.isRunning(), !test.ends);
        end.stop();
    }
}

TEST_F(LinkEndTest, TheMinuteStartsAgainOnEveryTouchAndNotWhenItMayNotRun)
{
    end.restart();
    scheduler.advance(50s);
    EXPECT_EQ(shown.back(), std::optional<int>(10));
    end.restart();
    EXPECT_EQ(shown.back(), std::nullopt);
    scheduler.advance(59s);
    EXPECT_EQ(ends, 0);
    scheduler.advance(1s);
    EXPECT_EQ(ends, 1);

    mayRun = false;
    end.restart();
    EXPECT_FALSE(end.isRunning());
    scheduler.advance(2min);
    EXPECT_EQ(ends, 1);
}

TEST_F(LinkEndTest, TheGracesLetTheDeviceActBeforeTheLinkIsCut)
{
    struct Case {
        const char* name;
        bool accepted;
        std::chrono::milliseconds grace;
    };
    const std::vector<Case> cases {
        { "accepted", true, LinkEnd::disconnectGrace },
        { "not taken by the device", false, 0ms },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        bool cut = false;
        end.afterDisconnect(test.accepted, [&cut] { cut = true; });
        if (test.grace > 0ms) {
            scheduler.advance(test.grace - 1ms);
            EXPECT_FALSE(cut);
        }
        scheduler.advance(1ms);
        EXPECT_TRUE(cut);
    }

    // A quit stops a disconnect still in its grace and the minute, and ends after its own grace.
    bool reset = false;
    bool quit = false;
    end.restart();
    end.afterDisconnect(true, [&reset] { reset = true; });
    end.stopForQuit();
    end.afterQuit([&quit] { quit = true; });
    scheduler.advance(LinkEnd::quitGrace - 1ms);
    EXPECT_FALSE(quit);
    scheduler.advance(1ms);
    EXPECT_TRUE(quit);
    EXPECT_FALSE(reset);
    EXPECT_FALSE(end.isRunning());
}

} // namespace
} // namespace tavrik::test
