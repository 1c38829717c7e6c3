#include "tests/session_abi/SessionAbiCalls.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The first handles of the process, taken before any test runs so that test order does not matter.
struct FirstHandles : ::testing::Environment {
    static inline std::int64_t first = -1;
    static inline std::int64_t second = -1;
    static inline std::int64_t afterDestroy = -1;

    void SetUp() override
    {
        first = abi_create(0);
        second = abi_create(0);
        abi_destroy(first);
        afterDestroy = abi_create(0);
        abi_destroy(second);
        abi_destroy(afterDestroy);
    }
};

[[maybe_unused]] const auto* const firstHandles = ::testing::AddGlobalTestEnvironment(new FirstHandles);

constexpr std::string_view sessionClosed = R"({"version":1,"ok":false,"error":"Session is closed"})";

std::string dispatch(std::int64_t handle, std::string_view action, const std::vector<std::uint8_t>& payload = {})
{
    std::unique_ptr<char, decltype(&abi_release)> text(
        abi_dispatch(handle, action.data(), action.size(), payload.empty() ? nullptr : payload.data(), payload.size()),
        &abi_release);
    return text ? std::string(text.get()) : std::string("<null>");
}

bool contains(const std::string& text, std::string_view part)
{
    return text.find(part) != std::string::npos;
}

// A session that is destroyed when the test ends.
struct Session {
    std::int64_t handle = abi_create(1);
    ~Session() { abi_destroy(handle); }
};

// {"version":1,"action":"state"} padded with blanks to exactly `length` bytes.
std::string stateActionOfLength(std::size_t length)
{
    std::string action = R"({"version":1,"action":"state")";
    action.append(length - action.size() - 1, ' ');
    action.push_back('}');
    return action;
}

TEST(SessionAbi, HandlesCountFromOneAndAreNeverReused)
{
    EXPECT_EQ(FirstHandles::first, 1);
    EXPECT_EQ(FirstHandles::second, 2);
    EXPECT_EQ(FirstHandles::afterDestroy, 3);
}

TEST(SessionAbi, UnknownAndDestroyedHandlesAnswerSessionIsClosed)
{
    const std::int64_t handle = abi_create(0);
    ASSERT_GT(handle, 0);
    EXPECT_TRUE(contains(dispatch(handle, R"({"version":1,"action":"state"})"), R"("ok":true)"));
    abi_destroy(handle);
    abi_destroy(handle);

    for (const std::int64_t closed : { std::int64_t { 0 }, handle, std::int64_t { -7 } }) {
        EXPECT_EQ(dispatch(closed, R"({"version":1,"action":"state"})"), sessionClosed) << closed;
    }
}

TEST(SessionAbi, AnswersEveryActionWithTheWholeStateAndItsRevision)
{
    Session session;
    const std::string first = dispatch(session.handle, R"({"version":1,"action":"state"})");
    EXPECT_EQ(first.rfind(R"({"effects":[],"ok":true,"state":{)", 0), 0U) << first;
    EXPECT_TRUE(contains(first, R"("revision":1,)")) << first;
    EXPECT_TRUE(contains(first, R"("status":"Disconnected")")) << first;
    EXPECT_TRUE(contains(dispatch(session.handle, R"({"version":1,"action":"interact"})"), R"("revision":2,)"));
}

TEST(SessionAbi, RefusesRequestsAboveTheSizeLimits)
{
    Session session;
    const std::string limit = R"("error":"Native request exceeds its size limit")";

    EXPECT_TRUE(contains(dispatch(session.handle, stateActionOfLength(65536)), R"("ok":true)"));
    EXPECT_TRUE(contains(dispatch(session.handle, stateActionOfLength(65537)), limit));

    const std::string state = R"({"version":1,"action":"state"})";
    EXPECT_TRUE(contains(dispatch(session.handle, state, std::vector<std::uint8_t>(16777216, 'x')), R"("ok":true)"));
    EXPECT_TRUE(contains(dispatch(session.handle, state, std::vector<std::uint8_t>(16777217, 'x')), limit));
}

TEST(SessionAbi, ReportsMalformedEnvelopesWithoutClosingTheSession)
{
    Session session;
    const std::string notJson = dispatch(session.handle, "{\"version\":1,");
    EXPECT_TRUE(contains(notJson, R"("ok":false)")) << notJson;
    EXPECT_TRUE(contains(notJson, R"("error":"The data is not valid JSON")")) << notJson;
    EXPECT_TRUE(contains(notJson, R"("state":{)")) << notJson;

    for (const std::string_view envelope :
        { R"({"version":2,"action":"state"})", R"({"action":"state"})", R"([1,2])", R"({"version":1,"action":5})" }) {
        EXPECT_TRUE(contains(dispatch(session.handle, envelope), R"("error":"Invalid action envelope")")) << envelope;
    }
    EXPECT_TRUE(contains(dispatch(session.handle, R"({"version":1,"action":"state"})"), R"("revision":1,)"));
}

TEST(SessionAbi, RefusesNullBuffersThatClaimBytes)
{
    Session session;
    char buffer[256];
    ASSERT_TRUE(abi_dispatch_null_action(session.handle, 4, buffer, sizeof buffer));
    EXPECT_STREQ(buffer, R"({"version":1,"ok":false,"error":"Invalid action envelope"})");
    ASSERT_TRUE(abi_dispatch_null_payload(session.handle, 4, buffer, sizeof buffer));
    EXPECT_STREQ(buffer, R"({"version":1,"ok":false,"error":"Invalid action envelope"})");

    ASSERT_TRUE(abi_dispatch_null_payload(session.handle, 0, buffer, sizeof buffer));
    EXPECT_TRUE(contains(buffer, R"("ok":true)")) << buffer;
    ASSERT_TRUE(abi_dispatch_null_action(session.handle, 0, buffer, sizeof buffer));
    EXPECT_TRUE(contains(buffer, R"("error":"The data is not valid JSON")")) << buffer;
}

TEST(SessionAbi, CarriesASimulatorLoadThroughTheLibrary)
{
    Session session;
    const std::string connected = dispatch(session.handle, R"({"version":1,"action":"connectSimulator"})");
    ASSERT_TRUE(contains(connected, R"("generation":1,)")) << connected;
    const std::string started = dispatch(session.handle, R"({"version":1,"action":"load"})");
    EXPECT_TRUE(contains(started, R"("type":"applicationWrite")")) << started;

    const std::string data = R"({"type":"sync_data","dataVersion":9,"hardwareTarget":"m5stick-c",)"
                             R"("schedules":[],"tags":[{"id":1,"uid":"04 01","name":"Door"}],"routines":[]})";
    const std::vector<std::uint8_t> payload(data.begin(), data.end());
    const std::string received
        = dispatch(session.handle, R"({"version":1,"action":"receiveMessage","generation":1})", payload);
    EXPECT_TRUE(contains(received, R"("ok":true)")) << received;
    EXPECT_TRUE(contains(received, R"("status":"Simulator · Local")")) << received;
    EXPECT_TRUE(contains(received, R"("tags":[{"id":1,"name":"Door","uid":"04 01"}])")) << received;

    EXPECT_TRUE(contains(dispatch(session.handle, R"({"version":1,"action":"disconnect"})"), R"("generation":2,)"));
    const std::string stale
        = dispatch(session.handle, R"({"version":1,"action":"receiveMessage","generation":1})", payload);
    EXPECT_TRUE(contains(stale, R"("error":"Stale connection callback")")) << stale;
    EXPECT_FALSE(contains(stale, R"("device":)")) << stale;
}

TEST(SessionAbi, SessionsKeepTheirOwnState)
{
    Session simulator;
    const std::int64_t plain = abi_create(0);
    const std::string connect = R"({"version":1,"action":"connectSimulator"})";
    EXPECT_TRUE(contains(dispatch(simulator.handle, connect), R"("status":"Simulator · Local")"));
    EXPECT_TRUE(contains(dispatch(plain, connect), R"("error":"Simulator is debug-only")"));
    EXPECT_TRUE(contains(dispatch(plain, R"({"version":1,"action":"state"})"), R"("connected":false)"));
    abi_destroy(plain);
}

} // namespace
