#include "TavrikLink/Controller/WifiRequests.hpp"
#include "tests/support/ManualScheduler.hpp"
#include "tests/support/SequenceRandomSource.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavrik::test {
namespace {

using namespace std::chrono_literals;

// The requests alone, on virtual time.
class WifiRequestsTest : public ::testing::Test {
protected:
    ManualScheduler scheduler;
    SequenceRandomSource random;
    std::vector<WifiRequestContext> expired;
    int activityChanges = 0;
    WifiRequests requests { scheduler, random,
        { [this](const WifiRequestContext& context) { expired.push_back(context); }, [this] { ++activityChanges; } } };

    WifiRequestEnvelope envelope(const std::string& type)
    {
        return WifiRequestEnvelope { type, requests.newId(), std::nullopt, std::nullopt, std::nullopt, std::nullopt };
    }
};

TEST_F(WifiRequestsTest, OneRequestIsOutstandingAndOnlyItsAnswerEndsIt)
{
    const WifiRequestEnvelope first = envelope("wifi_scan");
    const WifiRequestEnvelope second = envelope("wifi_check_saved");
    EXPECT_NE(first.requestId, second.requestId);

    requests.begin(first, WifiRequestContext::scan());
    EXPECT_EQ(requests.activity().requestId, first.requestId);
    EXPECT_TRUE(requests.activity().isScanning());
    requests.begin(second, WifiRequestContext::checkSaved());
    EXPECT_EQ(requests.find(first.requestId), nullptr);
    EXPECT_EQ(requests.finish(first.requestId), std::nullopt);
    ASSERT_NE(requests.find(second.requestId), nullptr);

    EXPECT_EQ(requests.finish(second.requestId), WifiRequestContext::checkSaved());
    EXPECT_FALSE(requests.activity().isActive());
    EXPECT_FALSE(requests.isBusy());
    // The first, cleared for the second, the second, cleared by its answer.
    EXPECT_EQ(activityChanges, 4);
    scheduler.advance(WifiRequests::timeout);
    EXPECT_TRUE(expired.empty());
}

TEST_F(WifiRequestsTest, ARequestWithoutAnAnswerExpiresOnceAfterOneFixedSpan)
{
    requests.begin(envelope("wifi_scan"), WifiRequestContext::scan());
    scheduler.advance(WifiRequests::timeout - 1ms);
    EXPECT_TRUE(expired.empty());
    scheduler.advance(1ms);
    EXPECT_EQ(expired, (std::vector<WifiRequestContext> { WifiRequestContext::scan() }));
    EXPECT_FALSE(requests.isBusy());
    EXPECT_FALSE(requests.activity().isActive());
    scheduler.advance(WifiRequests::timeout);
    EXPECT_EQ(expired.size(), 1U);
}

TEST_F(WifiRequestsTest, AHeldRequestIsTakenOnceAndForgottenWithTheRest)
{
    const WifiRequestEnvelope held = envelope("wifi_scan");
    requests.begin(held, WifiRequestContext::scan());
    requests.hold(held);
    EXPECT_TRUE(requests.hasHeld());
    EXPECT_EQ(requests.takeHeld(), held);
    EXPECT_FALSE(requests.hasHeld());
    EXPECT_TRUE(requests.isBusy());

    // Its answer, or forgetting, lets go of a held copy too.
    requests.hold(held);
    requests.finish(held.requestId);
    EXPECT_FALSE(requests.hasHeld());
    requests.begin(held, WifiRequestContext::scan());
    requests.hold(held);
    requests.forget();
    EXPECT_FALSE(requests.isBusy());
    scheduler.advance(WifiRequests::timeout);
    EXPECT_TRUE(expired.empty());
}

} // namespace
} // namespace tavrik::test
