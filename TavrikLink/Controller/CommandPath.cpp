#include "TavrikLink/Controller/CommandPath.hpp"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <utility>

namespace tavrik {

CommandPath::CommandPath(Scheduler& scheduler, Callbacks callbacks)
    : scheduler(scheduler)
    , callbacks(std::move(callbacks))
{
}

std::string CommandPath::key(AtomicCommandChannel channel, const ItemId& id)
{
    const std::string idText = std::holds_alternative<std::uint32_t>(id) ? std::to_string(std::get<std::uint32_t>(id))
                                                                         : std::get<std::string>(id);
    return std::string(rawValue(channel)) + ":" + idText;
}

void CommandPath::debounce(const std::string& key, std::optional<std::string> attribute, AtomicCommandChannel channel,
    std::vector<std::string> commands)
{
    // Held edits fall due in the order of their last change, and are flushed in that order too.
    const std::uint64_t order = nextOrder++;
    if (const auto held = debounced.find(key); held != debounced.end()) {
        if (held->second.attribute == attribute) {
            debounced.erase(held);
        } else {
            flush(key);
        }
    }
    auto task = std::make_unique<ScheduledTask>(scheduler);
    task->schedule(debounceDelay, [this, key] { release(key); });
    debounced[key] = Held { std::move(attribute), channel, std::move(commands), std::move(task), order };
}

void CommandPath::forget(const std::string& key)
{
    debounced.erase(key);
}

void CommandPath::flush(const std::string& key)
{
    release(key);
}

void CommandPath::flushAll()
{
    while (!debounced.empty()) {
        const auto first = std::min_element(debounced.begin(), debounced.end(),
            [](const auto& lhs, const auto& rhs) { return lhs.second.order < rhs.second.order; });
        release(first->first);
    }
}

void CommandPath::release(const std::string& key)
{
    const auto entry = debounced.find(key);
    if (entry == debounced.end()) {
        return;
    }
    const Held held = std::move(entry->second);
    debounced.erase(entry);
    for (const std::string& command : held.commands) {
        callbacks.due({ held.channel, command });
    }
}

void CommandPath::forgetAllDebounced()
{
    debounced.clear();
}

std::optional<std::uint32_t> commandItemId(std::string_view command)
{
    const std::size_t space = command.find(' ');
    if (space == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view argument = command.substr(space + 1);
    if (!argument.starts_with("id=")) {
        return std::nullopt;
    }
    argument.remove_prefix(3);
    std::uint32_t id = 0;
    const auto [end, error] = std::from_chars(argument.data(), argument.data() + argument.size(), id);
    if (error != std::errc {} || (end != argument.data() + argument.size() && *end != ' ')) {
        return std::nullopt;
    }
    return id;
}

void CommandPath::forgetUnansweredPastBound()
{
    const std::chrono::milliseconds now = scheduler.now();
    std::erase_if(unanswered, [&](const Unanswered& command) { return now - command.sentAt >= answerBound; });
}

bool CommandPath::isAwaitingAnswer(AtomicCommandChannel channel, std::uint32_t id)
{
    forgetUnansweredPastBound();
    if (debounced.contains(key(channel, id))) {
        return true;
    }
    const auto names = [&](AtomicCommandChannel commandChannel, std::optional<std::uint32_t> commandId) {
        return commandChannel == channel && commandId == id;
    };
    return std::any_of(queue.begin(), queue.end(),
               [&](const Command& command) { return names(command.channel, commandItemId(command.command)); })
        || std::any_of(unanswered.begin(), unanswered.end(),
            [&](const Unanswered& command) { return names(command.channel, command.id); });
}

void CommandPath::answered(AtomicCommandChannel channel)
{
    forgetUnansweredPastBound();
    const auto oldest = std::find_if(
        unanswered.begin(), unanswered.end(), [&](const Unanswered& command) { return command.channel == channel; });
    if (oldest != unanswered.end()) {
        unanswered.erase(oldest);
    }
}

CommandPath::Sent CommandPath::send(const Command& command)
{
    const Sent sent = callbacks.send(command);
    if (sent != Sent::dropped) {
        lastSent = command.channel;
    }
    if (sent == Sent::accepted) {
        unanswered.push_back({ command.channel, commandItemId(command.command), scheduler.now() });
    }
    if (sent == Sent::refused) {
        queue.push_back(command);
    }
    return sent;
}

void CommandPath::enqueue(Command command)
{
    queue.push_back(std::move(command));
}

void CommandPath::deliverQueued()
{
    std::vector<Command> waiting = std::move(queue);
    queue.clear();
    for (auto command = waiting.begin(); command != waiting.end(); ++command) {
        if (send(*command) == Sent::refused) {
            // Refused again: it and every later edit wait, in order, for the next delivery.
            queue.insert(queue.end(), std::next(command), waiting.end());
            return;
        }
    }
}

std::vector<CommandPath::Command> CommandPath::takeQueued()
{
    std::vector<Command> taken = std::move(queue);
    queue.clear();
    return taken;
}

} // namespace tavrik
