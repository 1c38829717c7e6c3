#include "TavrikLink/Controller/LinkClaims.hpp"

#include "tests/support/ManualScheduler.hpp"

#include <gtest/gtest.h>

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

} // namespace
} // namespace tavrik::test
