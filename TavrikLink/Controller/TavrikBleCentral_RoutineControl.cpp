#include "TavrikLink/Controller/TavrikBleCentral.hpp"

namespace tavrik {

void TavrikBleCentral::startRoutineControl(const std::string& command)
{
    if (sessionMode_ || claims_.taken(LinkClaim::tagScan) || firmwareUpload_->isActive()) {
        setRoutineError("Finish the current Bluetooth task first");
        return;
    }
    setRoutineError(std::nullopt);
    pendingRoutineCommand_ = command;
    claims_.take(LinkClaim::commandConnection);
    if (isDeviceAttached()) {
        sendPendingRoutineCommand();
        return;
    }
    startCommandConnection();
}

void TavrikBleCentral::sendPendingRoutineCommand()
{
    if (!pendingRoutineCommand_) {
        return;
    }
    const std::string command = *pendingRoutineCommand_;
    pendingRoutineCommand_.reset();
    sendRoutineCommand(command);
}

void TavrikBleCentral::sendHeldCommands()
{
    sendAtomicCommandsIfNeeded();
    sendPendingRoutineCommand();
    sendPendingClockCommandIfNeeded();
    sendPendingWifiRequestIfNeeded();
}

void TavrikBleCentral::sendRoutineCommand(const std::string& command)
{
    const bool accepted = link().sendCommand("routine", command);
    if (accepted) {
        // A device that never answers must not hold the link for ever.
        claims_.take(LinkClaim::routineControl);
        claims_.arm(LinkClaim::routineControl);
        return;
    }
    claims_.release(LinkClaim::routineControl);
    setRoutineError("Failed to send routine command");
    claims_.release(LinkClaim::commandConnection);
    pendingRoutineCommand_.reset();
}

void TavrikBleCentral::endRoutineExchange()
{
    pendingRoutineCommand_.reset();
    claims_.release(LinkClaim::routineControl);
}

void TavrikBleCentral::sendPendingClockCommandIfNeeded()
{
    if (!pendingClockCommand_) {
        return;
    }
    // The time is read now, not when the user accepted: the connection may have taken a while.
    const std::string command = currentClockCommand().value_or(*pendingClockCommand_);
    pendingClockCommand_.reset();
    const bool accepted = link().sendCommand("clock", command);
    if (accepted) {
        appendLog("Sent clock update to Tavrik", true);
    } else {
        appendLog("Could not send clock update to Tavrik", true);
        pendingClockCommand_ = command;
    }
    finishControlSessionIfIdle();
}

bool TavrikBleCentral::sendTagCommand(const std::string& command)
{
    const bool accepted = link().sendCommand("tag", command);
    if (accepted) {
        if (command.starts_with("scan")) {
            setTagScanState(TagScanState::requesting());
        }
        return true;
    }
    setTagScanState(TagScanState::failed("Failed to send tag command"));
    if (tagScanPurpose_ == TagScanPurpose::killSwitch) {
        deactivateTagScanSession();
    }
    return false;
}

} // namespace tavrik
