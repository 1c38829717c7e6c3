#include "TavrikLink/Controller/TavrikBleCentral.hpp"

#include <algorithm>

namespace tavrik {

template <class Item>
void TavrikBleCentral::keepUnansweredEdits(
    AtomicCommandChannel channel, std::vector<Item>& answer, const std::vector<Item>& shown)
{
    commandPath_.answered(channel);
    const auto awaited = [&](std::uint32_t id) { return commandPath_.isAwaitingAnswer(channel, id); };
    const auto isShown = [&](std::uint32_t id) {
        return std::any_of(shown.begin(), shown.end(), [id](const Item& item) { return item.id == id; });
    };
    // Deleted here, not yet there.
    std::erase_if(answer, [&](const Item& item) { return awaited(item.id) && !isShown(item.id); });
    for (const Item& item : shown) {
        if (!awaited(item.id)) {
            continue;
        }
        const auto sent
            = std::find_if(answer.begin(), answer.end(), [&](const Item& other) { return other.id == item.id; });
        if (sent == answer.end()) {
            answer.push_back(item);
        } else {
            *sent = item;
        }
    }
}

template void TavrikBleCentral::keepUnansweredEdits<TagInfo>(
    AtomicCommandChannel, std::vector<TagInfo>&, const std::vector<TagInfo>&);
template void TavrikBleCentral::keepUnansweredEdits<ScheduledRoutine>(
    AtomicCommandChannel, std::vector<ScheduledRoutine>&, const std::vector<ScheduledRoutine>&);

bool TavrikBleCentral::isDeviceAttached() const
{
    return isConnected_ && link().attached();
}

void TavrikBleCentral::persist(AtomicCommandChannel channel, const PersistId& id,
    const std::vector<std::string>& commands, bool debounce, const std::optional<std::string>& attribute)
{
    const std::string key = CommandPath::key(channel, id);
    if (isReviewDemo_) {
        return;
    }
    if (!debounce) {
        // A whole-item edit supersedes a pending edit of the same item.
        commandPath_.forget(key);
        for (const std::string& command : commands) {
            sendOrQueue({ channel, command });
        }
        return;
    }
    commandPath_.debounce(key, attribute, channel, commands);
}

void TavrikBleCentral::sendOrQueue(const AtomicCommand& command)
{
    if (isReviewDemo_) {
        return;
    }
    if (isDeviceAttached()) {
        // Behind an edit that waits to be sent again, so edits reach the device in the order they were made.
        commandPath_.enqueue(command);
        commandPath_.deliverQueued();
        // A group command stopped by the version gate counts as handled here.
        if (commandPath_.queued().empty()) {
            renewBaseline();
            setSyncStage(SyncStage::completed());
        } else if (commandPath_.queued().size() > 1) {
            // Not even tried: an earlier edit still blocks the way.
            reportUnsavedCommand(command.channel);
            refusedSavesWaiting_.insert(command.channel);
        }
        clearDeliveredSaveFailures();
        return;
    }
    commandPath_.enqueue(command);
    claims_.take(LinkClaim::commandConnection);
    if (!sessionMode_) {
        startCommandConnection();
    }
}

CommandPath::Sent TavrikBleCentral::sendCommandOnLink(const AtomicCommand& command)
{
    if (command.channel == AtomicCommandChannel::groups
        && (!deviceSyncDataVersion_ || *deviceSyncDataVersion_ < routineGroupsSyncDataVersion)) {
        setRoutineError("Update Tavrik firmware before editing groups.");
        return CommandPath::Sent::dropped;
    }
    if (link().sendCommand(rawValue(command.channel), command.command)) {
        return CommandPath::Sent::accepted;
    }
    reportUnsavedCommand(command.channel);
    refusedSavesWaiting_.insert(command.channel);
    return CommandPath::Sent::refused;
}

void TavrikBleCentral::clearDeliveredSaveFailures()
{
    const std::vector<AtomicCommand>& queued = commandPath_.queued();
    std::erase_if(refusedSavesWaiting_, [&](AtomicCommandChannel channel) {
        if (std::any_of(queued.begin(), queued.end(),
                [&](const AtomicCommand& command) { return command.channel == channel; })) {
            return false;
        }
        // Its refused edits reached the device after all: the failure no longer holds.
        const std::string message(saveFailureMessage(channel));
        switch (channel) {
        case AtomicCommandChannel::schedule:
            if (scheduleError_ == message) {
                setScheduleError(std::nullopt);
            }
            break;
        case AtomicCommandChannel::tag:
            if (tagError_ == message) {
                setTagError(std::nullopt);
            }
            break;
        case AtomicCommandChannel::routine:
        case AtomicCommandChannel::steps:
        case AtomicCommandChannel::groups:
            if (routineError_ == message) {
                setRoutineError(std::nullopt);
            }
            break;
        case AtomicCommandChannel::settings:
            if (settingsError_ == message) {
                publish(settingsError_, std::nullopt, &TavrikBleCentral::settingsErrorChanged);
            }
            break;
        }
        return true;
    });
}

void TavrikBleCentral::sendWaitingEdits()
{
    if (!isDeviceAttached()) {
        return;
    }
    deliverQueuedCommands();
    commandPath_.flushAll();
}

void TavrikBleCentral::reportUnsavedCommand(AtomicCommandChannel channel)
{
    const std::string message(saveFailureMessage(channel));
    switch (channel) {
    case AtomicCommandChannel::schedule:
        setScheduleError(message);
        break;
    case AtomicCommandChannel::tag:
        setTagError(message);
        break;
    case AtomicCommandChannel::routine:
    case AtomicCommandChannel::steps:
    case AtomicCommandChannel::groups:
        setRoutineError(message);
        break;
    case AtomicCommandChannel::settings:
        appendLog(message, true);
        publish(settingsError_, std::optional(message), &TavrikBleCentral::settingsErrorChanged);
        break;
    }
}

void TavrikBleCentral::deliverQueuedCommands()
{
    commandPath_.deliverQueued();
    clearDeliveredSaveFailures();
}

void TavrikBleCentral::dropQueuedCommands()
{
    const std::vector<AtomicCommand> dropped = commandPath_.takeQueued();
    // Given up, not delivered: their failures stay shown.
    refusedSavesWaiting_.clear();
    for (const AtomicCommand& command : dropped) {
        appendLog(std::string(saveFailureMessage(command.channel))
                + " (not sent: " + std::string(rawValue(command.channel)) + ":" + command.command + ")",
            true);
        if (command.channel == AtomicCommandChannel::settings) {
            // Logged just above with what was not sent.
            publish(settingsError_, std::optional(std::string(saveFailureMessage(command.channel))),
                &TavrikBleCentral::settingsErrorChanged);
        } else {
            reportUnsavedCommand(command.channel);
        }
    }
}

void TavrikBleCentral::sendAtomicCommandsIfNeeded()
{
    if (!isDeviceAttached() || commandPath_.queued().empty()) {
        return;
    }
    deliverQueuedCommands();
    if (pendingRoutineCommand_) {
        claims_.take(LinkClaim::commandConnection);
        sendPendingRoutineCommand();
    } else {
        claims_.set(LinkClaim::commandConnection,
            pendingClockCommand_ || wifiRequests_.isBusy() || !commandPath_.queued().empty());
    }
    if (pendingClockCommand_) {
        sendPendingClockCommandIfNeeded();
    }
    if (wifiRequests_.hasHeld()) {
        sendPendingWifiRequestIfNeeded();
    }
    finishControlSessionIfIdle();
}

} // namespace tavrik
