// The C interface promises that every call may come from any thread. These tests call it from
// several threads at once; built with ThreadSanitizer (scripts/test does), they also prove there is
// no data race behind the answers. Worker threads only record what they saw: the checks run on the
// test's own thread.
#include "tests/session_abi/SessionAbiCalls.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <latch>
#include <memory>
#include <numeric>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

constexpr int threadCount = 6;
constexpr std::string_view sessionClosed = R"({"version":1,"ok":false,"error":"Session is closed"})";

std::string dispatch(std::int64_t handle, std::string_view action, std::string_view payload = {})
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(payload.data());
    std::unique_ptr<char, decltype(&abi_release)> text(
        abi_dispatch(handle, action.data(), action.size(), payload.empty() ? nullptr : bytes, payload.size()),
        &abi_release);
    return text ? std::string(text.get()) : std::string("<null>");
}

bool contains(const std::string& text, std::string_view part)
{
    return text.find(part) != std::string::npos;
}

std::optional<std::int64_t> revisionOf(const std::string& response)
{
    constexpr std::string_view key = R"("revision":)";
    const std::size_t at = response.find(key);
    if (at == std::string::npos) {
        return std::nullopt;
    }
    return std::stoll(response.substr(at + key.size()));
}

// Runs `work(index)` on threadCount threads that start together, and waits for all of them.
template <typename Work>
void onThreads(Work work)
{
    std::latch start(threadCount);
    std::vector<std::thread> threads;
    for (int index = 0; index < threadCount; ++index) {
        threads.emplace_back([&, index] {
            start.arrive_and_wait();
            work(index);
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
}

// Each thread makes its own sessions one after another, loads a device's data into each through the
// simulator and destroys it, while the others do the same: no session sees another's data or
// revisions, and no handle is handed out twice.
TEST(SessionAbiThreads, SessionsMadeUsedAndDestroyedAtOnceStayApart)
{
    constexpr int rounds = 4;
    std::vector<std::vector<std::int64_t>> handles(threadCount);
    std::vector<std::vector<std::string>> faults(threadCount);

    onThreads([&](int index) {
        auto fault = [&](const std::string& what, const std::string& response) {
            faults[index].push_back(what + ": " + response);
        };
        for (int round = 0; round < rounds; ++round) {
            const std::int64_t handle = abi_create(1);
            handles[index].push_back(handle);
            const std::string tag = "Tag " + std::to_string(index) + "." + std::to_string(round);

            const std::string connected = dispatch(handle, R"({"version":1,"action":"connectSimulator"})");
            if (revisionOf(connected) != 1 || !contains(connected, R"("generation":1,)")) {
                fault("connect", connected);
            }
            const std::string started = dispatch(handle, R"({"version":1,"action":"load"})");
            if (revisionOf(started) != 2 || !contains(started, R"("type":"applicationWrite")")) {
                fault("load", started);
            }
            const std::string data = R"({"type":"sync_data","dataVersion":9,"hardwareTarget":"m5stick-c",)"
                                     R"("schedules":[],"tags":[{"id":1,"uid":"04 01","name":")"
                + tag + R"("}],"routines":[]})";
            const std::string received
                = dispatch(handle, R"({"version":1,"action":"receiveMessage","generation":1})", data);
            if (revisionOf(received) != 3
                || !contains(received, R"("tags":[{"id":1,"name":")" + tag + R"(","uid":"04 01"}])")) {
                fault("receive", received);
            }
            abi_destroy(handle);
            const std::string closed = dispatch(handle, R"({"version":1,"action":"state"})");
            if (closed != sessionClosed) {
                fault("after destroy", closed);
            }
        }
    });

    std::vector<std::int64_t> all;
    for (int index = 0; index < threadCount; ++index) {
        EXPECT_TRUE(faults[index].empty()) << "thread " << index << ": " << faults[index].front();
        all.insert(all.end(), handles[index].begin(), handles[index].end());
    }
    std::sort(all.begin(), all.end());
    EXPECT_GT(all.front(), 0);
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end()) << "a handle was handed out twice";
}

// Threads that share one session take turns: every action counts once, so the revisions the threads
// see together are exactly 1 to the number of actions.
TEST(SessionAbiThreads, ASharedSessionCountsEveryActionOfEveryThreadOnce)
{
    constexpr int actionsPerThread = 40;
    const std::int64_t handle = abi_create(0);
    ASSERT_GT(handle, 0);
    std::vector<std::vector<std::int64_t>> revisions(threadCount);

    onThreads([&](int index) {
        for (int action = 0; action < actionsPerThread; ++action) {
            revisions[index].push_back(revisionOf(dispatch(handle, R"({"version":1,"action":"interact"})")).value_or(-1));
        }
    });
    abi_destroy(handle);

    std::vector<std::int64_t> seen;
    for (const auto& own : revisions) {
        EXPECT_TRUE(std::is_sorted(own.begin(), own.end())) << "one thread's actions went back in revision";
        seen.insert(seen.end(), own.begin(), own.end());
    }
    std::sort(seen.begin(), seen.end());
    std::vector<std::int64_t> expected(threadCount * actionsPerThread);
    std::iota(expected.begin(), expected.end(), 1);
    EXPECT_EQ(seen, expected);
}

// A session destroyed while other threads dispatch on it answers each of them either normally or
// with "Session is closed", and only the latter once it is gone.
TEST(SessionAbiThreads, DestroyingASessionWhileOthersDispatchClosesItForAll)
{
    const std::int64_t handle = abi_create(1);
    ASSERT_GT(handle, 0);
    std::atomic<int> answered { 0 };
    std::atomic<bool> destroyed { false };
    std::vector<std::vector<std::string>> faults(threadCount);

    onThreads([&](int index) {
        if (index == 0) {
            // Destroys once every other thread has had an answer, so the destroy lands among dispatches.
            while (answered.load() < threadCount - 1) {
                std::this_thread::yield();
            }
            abi_destroy(handle);
            destroyed.store(true);
            return;
        }
        bool counted = false;
        int closedAnswers = 0;
        while (closedAnswers < 3) {
            const bool afterDestroy = destroyed.load();
            const std::string response = dispatch(handle, R"({"version":1,"action":"interact"})");
            if (response == sessionClosed) {
                ++closedAnswers;
            } else if (afterDestroy || closedAnswers > 0 || !contains(response, R"("ok":true)")) {
                faults[index].push_back(response);
                return;
            }
            if (!counted) {
                counted = true;
                ++answered;
            }
        }
    });

    for (int index = 0; index < threadCount; ++index) {
        EXPECT_TRUE(faults[index].empty()) << "thread " << index << ": " << faults[index].front();
    }
    EXPECT_EQ(dispatch(handle, R"({"version":1,"action":"state"})"), sessionClosed);
}

} // namespace
