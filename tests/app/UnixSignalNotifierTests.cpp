#include "TavrikLink/Ui/UnixSignalNotifier.hpp"
#include "tests/support/qt/QtTestSupport.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <stdexcept>
#include <vector>

namespace tavrik::test {
namespace {

TEST(UnixSignalNotifierTests, DeliversEachSignalOnTheEventLoopAndRestoresTheOldHandler)
{
    std::vector<int> received;
    {
        UnixSignalNotifier notifier({ SIGTERM, SIGINT });
        QObject::connect(&notifier, &UnixSignalNotifier::signalReceived, [&](int number) { received.push_back(number); });
        EXPECT_THROW(UnixSignalNotifier({ SIGHUP }), std::logic_error);

        ASSERT_EQ(std::raise(SIGTERM), 0);
        ASSERT_EQ(std::raise(SIGINT), 0);
        EXPECT_TRUE(received.empty()) << "nothing runs inside the handler";
        ASSERT_TRUE(processEventsUntil([&] { return received.size() == 2; }));
        EXPECT_EQ(received, std::vector<int>({ SIGTERM, SIGINT }));
    }
    struct sigaction current { };
    ASSERT_EQ(::sigaction(SIGTERM, nullptr, &current), 0);
    EXPECT_EQ(current.sa_handler, SIG_DFL);

    // A new notifier may be made once the old one is gone.
    UnixSignalNotifier again({ SIGINT });
    QObject::connect(&again, &UnixSignalNotifier::signalReceived, [&](int number) { received.push_back(number); });
    ASSERT_EQ(std::raise(SIGINT), 0);
    ASSERT_TRUE(processEventsUntil([&] { return received.size() == 3; }));
}

} // namespace
} // namespace tavrik::test
