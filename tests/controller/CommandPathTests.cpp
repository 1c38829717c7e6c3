#include "TavrikLink/Controller/CommandPath.hpp"
#include "tests/support/ManualScheduler.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace tavrik::test {
namespace {

using namespace std::chrono_literals;
using Command = CommandPath::Command;
using Sent = CommandPath::Sent;

// The path alone: a link that takes every command except those the test refuses or drops, and a
// due edit that goes straight to the link.
class CommandPathTest : public ::testing::Test {
protected:
    ManualScheduler scheduler;
    std::set<std::string> refused;
    std::set<std::string> dropped;
    std::vector<std::string> sent;
    CommandPath path { scheduler,
        { [this](const Command& command) {
             if (dropped.contains(command.command)) {
                 return Sent::dropped;
             }
             if (refused.contains(command.command)) {
                 return Sent::refused;
             }
             sent.push_back(command.command);
             return Sent::accepted;
         },
            [this](const Command& command) { path.send(command); } } };

    std::vector<std::string> queuedTexts() const
    {
        std::vector<std::string> texts;
        for (const Command& command : path.queued()) {
            texts.push_back(command.command);
        }
        return texts;
    }
};

TEST(CommandPathKeyTest, KeysNameTheChannelAndItem)
{
    EXPECT_EQ(CommandPath::key(AtomicCommandChannel::tag, std::uint32_t { 12 }), "tag:12");
    EXPECT_EQ(CommandPath::key(AtomicCommandChannel::settings, std::string("device")), "settings:device");
    EXPECT_EQ(CommandPath::key(AtomicCommandChannel::steps, std::string("3:17")), "steps:3:17");
}

TEST_F(CommandPathTest, AHeldEditIsReplacedByItsAttributesNextEditAndSentFirstByAnotherAttributes)
{
    path.debounce("tag:5", "name", AtomicCommandChannel::tag, { "name A" });
    scheduler.advance(150ms);
    path.debounce("tag:5", "name", AtomicCommandChannel::tag, { "name AB" });
    scheduler.advance(150ms);
    EXPECT_TRUE(sent.empty());
    path.debounce("tag:5", "uid", AtomicCommandChannel::tag, { "uid 01" });
    EXPECT_EQ(sent, (std::vector<std::string> { "name AB" }));
    path.debounce("tag:6", "name", AtomicCommandChannel::tag, { "name B" });
    EXPECT_EQ(path.debouncedCount(), 2U);
    scheduler.advance(CommandPath::debounceDelay);
    EXPECT_EQ(sent, (std::vector<std::string> { "name AB", "uid 01", "name B" }));
    EXPECT_EQ(path.debouncedCount(), 0U);

    path.debounce("tag:5", "name", AtomicCommandChannel::tag, { "forgotten" });
    path.debounce("tag:6", "name", AtomicCommandChannel::tag, { "flushed" });
    path.debounce("tag:7", "name", AtomicCommandChannel::tag, { "forgotten too" });
    path.forget("tag:5");
    path.flush("tag:6");
    path.forgetAllDebounced();
    scheduler.advance(1s);
    EXPECT_EQ(sent.back(), "flushed");
    EXPECT_EQ(sent.size(), 4U);
}

TEST_F(CommandPathTest, TheQueueKeepsItsOrderFromTheFirstRefusal)
{
    for (const char* command : { "1", "2", "3", "4" }) {
        path.enqueue({ AtomicCommandChannel::schedule, command });
    }
    refused = { "2" };
    dropped = { "1" };
    path.deliverQueued();
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(queuedTexts(), (std::vector<std::string> { "2", "3", "4" }));

    refused.clear();
    path.deliverQueued();
    EXPECT_EQ(sent, (std::vector<std::string> { "2", "3", "4" }));
    EXPECT_TRUE(path.queued().empty());
}

TEST_F(CommandPathTest, TheLastChannelIsTheOneThatReachedTheLink)
{
    dropped = { "gated" };
    path.send({ AtomicCommandChannel::tag, "tag edit" });
    path.send({ AtomicCommandChannel::groups, "gated" });
    EXPECT_EQ(path.lastChannel(), AtomicCommandChannel::tag);
    refused = { "refused" };
    path.send({ AtomicCommandChannel::routine, "refused" });
    EXPECT_EQ(path.lastChannel(), AtomicCommandChannel::routine);
    EXPECT_EQ(queuedTexts(), (std::vector<std::string> { "refused" }));
    EXPECT_EQ(path.takeQueued().size(), 1U);
    EXPECT_TRUE(path.queued().empty());
    path.forgetLastChannel();
    EXPECT_EQ(path.lastChannel(), std::nullopt);
}

} // namespace
} // namespace tavrik::test
