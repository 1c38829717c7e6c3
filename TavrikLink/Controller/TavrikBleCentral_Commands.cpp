#include "TavrikLink/Controller/TavrikBleCentral.hpp"

namespace tavrik {

std::string TavrikBleCentral::persistKey(AtomicCommandChannel channel, const PersistId& id)
{
    const std::string idText = std::holds_alternative<std::uint32_t>(id) ? std::to_string(std::get<std::uint32_t>(id))
                                                                         : std::get<std::string>(id);
    return std::string(rawValue(channel)) + ":" + idText;
}

bool TavrikBleCentral::isDeviceAttached() const
{
    return isConnected_ && link().attached();
}

void TavrikBleCentral::persist(AtomicCommandChannel channel, const PersistId& id,
    const std::vector<std::string>& commands, bool debounce, const std::optional<std::string>& attribute)
{
    const std::string key = persistKey(channel, id);
    if (isReviewDemo_) {
        return;
    }
    if (!debounce) {
        // A whole-item edit supersedes a pending edit of the same item.
        if (const auto pending = debouncedPersists_.find(key); pending != debouncedPersists_.end()) {
            debouncedPersists_.erase(pending);
        }
        for (const std::string& command : commands) {
            sendOrQueue({ channel, command });
        }
        return;
    }
    if (const auto pending = debouncedPersists_.find(key); pending != debouncedPersists_.end()) {
        if (pending->second.attribute == attribute) {
            debouncedPersists_.erase(pending);
        } else {
            flushDebouncedPersist(key);
        }
    }
    auto task = std::make_unique<ScheduledTask>(scheduler);
    task->schedule(atomicCommandDebounce_, [this, key] {
        const auto entry = debouncedPersists_.find(key);
        if (entry == debouncedPersists_.end()) {
            return;
        }
        const DebouncedPersist persist = std::move(entry->second);
        debouncedPersists_.erase(entry);
        for (const std::string& command : persist.commands) {
            sendOrQueue({ persist.channel, command });
        }
    });
    debouncedPersists_[key] = DebouncedPersist { attribute, channel, commands, std::move(task) };
}

void TavrikBleCentral::flushDebouncedPersist(const std::string& key)
{
    const auto entry = debouncedPersists_.find(key);
    if (entry == debouncedPersists_.end()) {
        return;
    }
    const DebouncedPersist persist = std::move(entry->second);
    debouncedPersists_.erase(entry);
    for (const std::string& command : persist.commands) {
        sendOrQueue({ persist.channel, command });
    }
}

void TavrikBleCentral::sendOrQueue(const AtomicCommand& command)
{
    if (isReviewDemo_) {
        return;
    }
    if (isDeviceAttached()) {
        // Behind an edit that waits to be sent again, so edits reach the device in the order they were made.
        atomicCommandQueue_.push_back(command);
        deliverQueuedCommands();
        // A group command stopped by the version gate counts as handled here.
        if (atomicCommandQueue_.empty()) {
            renewBaseline();
            setSyncStage(SyncStage::completed());
        } else if (atomicCommandQueue_.size() > 1) {
            // Not even tried: an earlier edit still blocks the way.
            reportUnsavedCommand(command.channel);
        }
        return;
    }
    atomicCommandQueue_.push_back(command);
    routineControlSessionActive_ = true;
    if (!sessionMode_) {
        startCommandConnection();
    }
}

void TavrikBleCentral::sendAtomicCommandNow(const AtomicCommand& command)
{
    if (command.channel == AtomicCommandChannel::groups
        && (!deviceSyncDataVersion_ || *deviceSyncDataVersion_ < routineGroupsSyncDataVersion)) {
        setRoutineError("Update Tavrik firmware before editing groups.");
        return;
    }
    lastAtomicCommandChannel_ = command.channel;
    const std::string_view channelName = rawValue(command.channel);
    const bool accepted = link().sendCommand(channelName, command.command);
    if (accepted) {
        return;
    }
    reportUnsavedCommand(command.channel);
    atomicCommandQueue_.push_back(command);
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
        break;
    }
}

void TavrikBleCentral::deliverQueuedCommands()
{
    std::vector<AtomicCommand> queued = std::move(atomicCommandQueue_);
    atomicCommandQueue_.clear();
    for (auto command = queued.begin(); command != queued.end(); ++command) {
        sendAtomicCommandNow(*command);
        if (!atomicCommandQueue_.empty()) {
            // Refused again: it and every later edit wait, in order, for the next flush.
            atomicCommandQueue_.insert(atomicCommandQueue_.end(), std::next(command), queued.end());
            return;
        }
    }
}

void TavrikBleCentral::dropQueuedCommands()
{
    const std::vector<AtomicCommand> dropped = std::move(atomicCommandQueue_);
    atomicCommandQueue_.clear();
    for (const AtomicCommand& command : dropped) {
        appendLog(std::string(saveFailureMessage(command.channel))
                + " (not sent: " + std::string(rawValue(command.channel)) + ":" + command.command + ")",
            true);
        if (command.channel != AtomicCommandChannel::settings) {
            reportUnsavedCommand(command.channel);
        }
    }
}

void TavrikBleCentral::sendAtomicCommandsIfNeeded()
{
    if (!isDeviceAttached() || atomicCommandQueue_.empty()) {
        return;
    }
    deliverQueuedCommands();
    if (pendingRoutineCommand_) {
        routineControlSessionActive_ = true;
        sendPendingRoutineCommand();
    } else {
        routineControlSessionActive_
            = pendingClockCommand_ || pendingWifiRequest_ || !wifiRequests_.empty() || !atomicCommandQueue_.empty();
    }
    if (pendingClockCommand_) {
        sendPendingClockCommandIfNeeded();
    }
    if (pendingWifiRequest_) {
        sendPendingWifiRequestIfNeeded();
    }
    finishControlSessionIfIdle();
}

} // namespace tavrik
