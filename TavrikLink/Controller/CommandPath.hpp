#pragma once

#include "TavrikCore/Model/Commands.hpp"
#include "TavrikCore/Support/ScheduledTask.hpp"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tavrik {

// The way of the user's edits to the device: edits of one attribute of one item wait out a short
// debounce, and commands the link refused wait in a queue that keeps their order. What to do with a
// command that falls due, and how one is sent, are the owner's: it passes them in.
class CommandPath {
public:
    struct Command {
        AtomicCommandChannel channel = AtomicCommandChannel::schedule;
        std::string command;

        friend bool operator==(const Command&, const Command&) = default;
    };
    // An item id as the key shows it: a device id or a planner key such as "3:17".
    using ItemId = std::variant<std::uint32_t, std::string>;
    // What became of one send.
    enum class Sent { accepted, refused, dropped };

    struct Callbacks {
        // Sends one command on the link now.
        std::function<Sent(const Command&)> send;
        // A debounced edit fell due, or was sent early: the owner sends or queues each command.
        std::function<void(const Command&)> due;
    };

    static constexpr std::chrono::milliseconds debounceDelay { 200 };
    // A command the device has not answered within this is taken as one it never will.
    static constexpr std::chrono::milliseconds answerBound { 10'000 };

    CommandPath(Scheduler& scheduler, Callbacks callbacks);

    // "channel:id", the key edits of one item share.
    static std::string key(AtomicCommandChannel channel, const ItemId& id);

    // Holds an edit for the debounce. A later edit of the same key and attribute replaces it; an edit
    // of another attribute sends the held one first.
    void debounce(const std::string& key, std::optional<std::string> attribute, AtomicCommandChannel channel,
        std::vector<std::string> commands);
    // Forgets the held edit of the key, which a whole-item edit supersedes.
    void forget(const std::string& key);
    // Sends the held edit of the key now.
    void flush(const std::string& key);
    // Sends every held edit now, in the order they would have fallen due.
    void flushAll();
    void forgetAllDebounced();
    std::size_t debouncedCount() const { return debounced.size(); }

    // Sends one command; a refused one joins the end of the queue.
    Sent send(const Command& command);
    void enqueue(Command command);
    // Sends the queue in order; the first refused command and every later one stay queued, in order.
    void deliverQueued();
    // Empties the queue, giving what it held.
    std::vector<Command> takeQueued();
    const std::vector<Command>& queued() const { return queue; }

    // The channel of the last command that reached the link: the device's next error is about it.
    const std::optional<AtomicCommandChannel>& lastChannel() const { return lastSent; }
    void forgetLastChannel() { lastSent.reset(); }

    // The device answers every command of a channel, in order, with the channel's whole list (or an
    // error). An item awaits an answer while an edit of it is held, queued, or sent and unanswered:
    // until then the device's list shows an older state of it than the window's.
    bool isAwaitingAnswer(AtomicCommandChannel channel, std::uint32_t id);
    // The device answered the oldest unanswered command of the channel.
    void answered(AtomicCommandChannel channel);
    // The link is gone: nothing sent will be answered.
    void forgetUnanswered() { unanswered.clear(); }

private:
    struct Held {
        std::optional<std::string> attribute;
        AtomicCommandChannel channel = AtomicCommandChannel::schedule;
        std::vector<std::string> commands;
        std::unique_ptr<ScheduledTask> task;
        // When the held edit last changed, among all held edits.
        std::uint64_t order = 0;
    };
    void release(const std::string& key);
    void forgetUnansweredPastBound();

    Scheduler& scheduler;
    Callbacks callbacks;
    std::map<std::string, Held> debounced;
    std::uint64_t nextOrder = 0;
    std::vector<Command> queue;
    std::optional<AtomicCommandChannel> lastSent;
    struct Unanswered {
        AtomicCommandChannel channel;
        std::optional<std::uint32_t> id;
        std::chrono::milliseconds sentAt;
    };
    // Commands the link took, oldest first.
    std::deque<Unanswered> unanswered;
};

// The item a command names with its "id=" argument ("update id=3 name=…", "delete id=3"); nothing
// for a command that names none.
std::optional<std::uint32_t> commandItemId(std::string_view command);

} // namespace tavrik
