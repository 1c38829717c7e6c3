#include "TavrikCore/Model/SyncControlPolicy.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace tavrik {
namespace {

struct PolicyCase {
    std::string name;
    std::string message;
    std::optional<std::string> mode;
    std::optional<std::string> currentCode;
    bool hasLoadedData;
    bool hasPendingControl;
    SyncControlOutcome expected;
};

TEST(SyncControlPolicy, EveryOutcome)
{
    using Outcome = SyncControlOutcome;
    const PolicyCase cases[] = {
        { "not json", "sync_done", "load", "1234", true, false, Outcome::unknown() },
        { "empty bytes", "", "load", "1234", true, false, Outcome::unknown() },
        { "no type", R"({"mode":"load"})", "load", "1234", true, false, Outcome::unknown() },
        { "type not text", R"({"type":5})", "load", "1234", true, false, Outcome::unknown() },
        { "wrong-typed member", R"({"type":"sync_error","message":5})", "load", "1234", true, false, Outcome::unknown() },
        { "array", R"(["sync_done"])", "load", "1234", true, false, Outcome::unknown() },
        { "sync data", R"({"type":"sync_data"})", "load", "1234", false, false, Outcome::unknown() },
        { "case differs", R"({"type":"Sync_Done"})", "load", "1234", true, false, Outcome::unknown() },
        { "waiting", R"({"type":"sync_waiting"})", "load", "1234", false, false, Outcome::waiting() },
        { "ready", R"({"type":"sync_ready","code":"9999"})", std::nullopt, std::nullopt, false, false, Outcome::ready() },
        { "done without session", R"({"type":"sync_done"})", std::nullopt, "1234", false, true, Outcome::completed() },
        { "done load without data", R"({"type":"sync_done"})", "load", "1234", false, false, Outcome::incompleteLoad() },
        { "done load with data", R"({"type":"sync_done"})", "load", "1234", true, false, Outcome::completed() },
        { "done load, device says restore", R"({"type":"sync_done","mode":"restore"})", "load", "1234", true, false,
            Outcome::completed() },
        { "done restore", R"({"type":"sync_done"})", "restore", "1234", false, false, Outcome::restored() },
        { "done control pending", R"({"type":"sync_done"})", "control", "1234", false, true, Outcome::controlPending() },
        { "done control idle", R"({"type":"sync_done"})", "control", "1234", true, false, Outcome::controlCompleted() },
        { "done other mode", R"({"type":"sync_done"})", "Load", "1234", false, false, Outcome::completed() },
        { "stale error", R"({"type":"sync_error","code":"0001","message":"Busy"})", "load", "1234", false, false,
            Outcome::staleError("0001") },
        { "stale time-out", R"({"type":"sync_error","code":"0001","reason":"timeout"})", "load", "1234", false, false,
            Outcome::staleError("0001") },
        { "own time-out", R"({"type":"sync_error","code":"1234","reason":"timeout","message":"x"})", "load", "1234",
            false, false, Outcome::confirmationTimedOut() },
        { "time-out without code", R"({"type":"sync_error","reason":"timeout"})", "restore", "1234", false, false,
            Outcome::confirmationTimedOut() },
        { "code outside a session", R"({"type":"sync_error","code":"0001","message":"Busy"})", std::nullopt,
            std::nullopt, false, false, Outcome::failed("Busy") },
        { "own error", R"({"type":"sync_error","code":"1234","reason":"denied","message":"Wrong code"})", "load",
            "1234", false, false, Outcome::failed("Wrong code") },
        { "error without text", R"({"type":"sync_error"})", "load", "1234", false, false,
            Outcome::failed("Connect error") },
        { "error with null message", R"({"type":"sync_error","message":null})", "load", "1234", false, false,
            Outcome::failed("Connect error") },
        { "error with empty message", R"({"type":"sync_error","message":""})", "load", "1234", false, false,
            Outcome::failed("") },
    };
    for (const PolicyCase& policyCase : cases) {
        const SyncControlOutcome outcome = SyncControlPolicy::evaluate(dataFromString(policyCase.message),
            policyCase.mode, policyCase.currentCode, policyCase.hasLoadedData, policyCase.hasPendingControl);
        EXPECT_EQ(outcome, policyCase.expected) << policyCase.name;
    }
}

TEST(SyncControlOutcome, TextsBelongToTheirCase)
{
    EXPECT_EQ(SyncControlOutcome::failed("Busy").failureMessage(), "Busy");
    EXPECT_EQ(SyncControlOutcome::failed("Busy").staleCode(), "");
    EXPECT_EQ(SyncControlOutcome::staleError("0001").staleCode(), "0001");
    EXPECT_EQ(SyncControlOutcome::staleError("0001").failureMessage(), "");
    EXPECT_NE(SyncControlOutcome::failed("0001"), SyncControlOutcome::staleError("0001"));
    EXPECT_NE(SyncControlOutcome::failed("a"), SyncControlOutcome::failed("b"));
    EXPECT_EQ(SyncControlOutcome::completed(), SyncControlOutcome::completed());
    EXPECT_EQ(SyncControlOutcome::ready().kind(), SyncControlOutcome::Kind::ready);
}

} // namespace
} // namespace tavrik
