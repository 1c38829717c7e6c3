#include "TavrikLink/Controller/TavrikBleCentral.hpp"

#include "TavrikCore/Model/SyncControlPolicy.hpp"

namespace tavrik {

namespace {

std::string_view sessionWord(SyncMode mode)
{
    switch (mode) {
    case SyncMode::load:
        return "load";
    case SyncMode::restore:
        return "restore";
    case SyncMode::control:
        return "connection";
    }
    return "load";
}

constexpr std::string_view restoreNeedsV9 = "Update Tavrik firmware before restoring schema v9 backups.";

} // namespace

void TavrikBleCentral::beginSession(SyncMode mode)
{
    resetConnectionState();
    if (mode != SyncMode::control) {
        giveUpHeldWork();
    }
    deactivateTagScanSession();
    setTagScanState(TagScanState::idle());
    if (mode == SyncMode::load) {
        // Marked first: no observer takes the tables emptied below for the device's data.
        setHasLoadedData(false);
        resetScheduleState();
        resetTagState();
        resetRoutineState();
        baselineSnapshot_.reset();
        didOfferTimeSyncForCurrentLoad_ = false;
    }
    sessionMode_ = mode;
    setSyncMode(mode);
    syncCode_ = drawSyncCode();
    setSyncStage(SyncStage::waitingForDevice());
    setStatusText("Waiting for Tavrik");
    appendLog("Starting " + std::string(sessionWord(mode)) + " session", true);
    startScanningIfPossible();
}

void TavrikBleCentral::startRestoreSession()
{
    if (isReviewDemo_) {
        renewBaseline();
        updateStatus("App Review demo \u00b7 imported locally");
        return;
    }
    if (!deviceSyncDataVersion_ || *deviceSyncDataVersion_ < 9) {
        setSyncStage(SyncStage::failed(std::string(restoreNeedsV9)));
        return;
    }
    if (link().attached() && !link().supportsRestore()) {
        setSyncStage(SyncStage::failed("Use Open backup in Tavrik Simulator to import data."));
        return;
    }
    giveUpHeldWork();
    deactivateTagScanSession();
    setTagScanState(TagScanState::idle());
    sessionMode_ = SyncMode::restore;
    setSyncMode(SyncMode::restore);
    syncCode_ = isConnected_ && hasLoadedData_ ? std::string() : drawSyncCode();
    if (isConnected_) {
        setSyncStage(SyncStage::connecting());
        setStatusText("Starting restore");
    } else {
        setSyncStage(SyncStage::waitingForDevice());
        setStatusText("Waiting for Tavrik");
    }
    appendLog("Starting restore session", true);
    if (isConnected_ && link().attached()) {
        sendSyncStart();
    } else {
        startScanningIfPossible();
    }
}

void TavrikBleCentral::sendSyncStart()
{
    if (!sessionMode_ || !syncCode_) {
        setSyncStage(SyncStage::failed("Missing connect info"));
        return;
    }
    std::optional<ReliableDeliveryOffer> delivery;
    if (!localLink_->attached() && activeBleProfile_ == TavrikBleProtocolProfile::secureV2) {
        delivery = ReliableDeliveryOffer { 1, bluetoothLink_->channel().reliableSession(), 4 };
    }
    const SyncStartEnvelope envelope(std::string(syncModeText(*sessionMode_)), *syncCode_, delivery);
    const bool accepted = link().sendMessage(toJson(envelope));
    if (!accepted) {
        setSyncStage(SyncStage::failed("Failed to start connection"));
        return;
    }
    setSyncStage(SyncStage::connecting());
    updateStatus("Starting sync");
    // A device that never answers must not leave the load or restore waiting for ever.
    if (sessionMode_ == SyncMode::load || sessionMode_ == SyncMode::restore) {
        armSyncBound();
    }
}

void TavrikBleCentral::armSyncBound()
{
    claims_.arm(sessionMode_ == SyncMode::restore ? LinkClaim::restore : LinkClaim::load);
}

void TavrikBleCentral::disarmSyncBound()
{
    claims_.disarm(LinkClaim::load);
    claims_.disarm(LinkClaim::restore);
}

bool TavrikBleCentral::heldElsewhere(LinkClaim claim) const
{
    switch (claim) {
    case LinkClaim::load:
        return sessionMode_ == SyncMode::load;
    case LinkClaim::restore:
        return sessionMode_ == SyncMode::restore;
    case LinkClaim::commandConnection:
        return sessionMode_ == SyncMode::control;
    case LinkClaim::wifiRequest:
        return wifiRequests_.isBusy();
    case LinkClaim::firmwareTransfer:
        return firmwareUpload_->isActive();
    case LinkClaim::routineControl:
    case LinkClaim::tagScan:
        return false;
    }
    return false;
}

void TavrikBleCentral::handleExpiredClaim(LinkClaim claim, const std::string& failure)
{
    switch (claim) {
    case LinkClaim::load:
    case LinkClaim::restore: {
        // Data already on screen is not failed by a reload that falls silent: its own guard ends it.
        const bool loading = sessionMode_ == SyncMode::load && !hasLoadedData_;
        if (isConnected_ && (loading || sessionMode_ == SyncMode::restore)) {
            failIncompleteLoad(failure);
        }
        break;
    }
    case LinkClaim::routineControl:
        endRoutineExchange();
        setRoutineError(failure);
        finishControlSessionIfIdle();
        break;
    case LinkClaim::commandConnection:
    case LinkClaim::wifiRequest:
    case LinkClaim::firmwareTransfer:
    case LinkClaim::tagScan:
        break;
    }
}

void TavrikBleCentral::failIncompleteLoad(const std::string& message)
{
    // Data that could not be read already failed the load with a more specific text; it stands.
    const std::string shown
        = syncStage_.kind() == SyncStage::Kind::failed && sessionMode_ ? syncStage_.failureMessage() : message;
    isExpectingResetDisconnect_ = targetPeripheral_ != nullptr && isConnected_;
    resetConnectionState();
    clearSessionFields();
    setSyncStage(SyncStage::failed(shown));
    updateStatus("Sync incomplete");
    appendLog(shown, true);
    deliverWorkHeldBySession();
}

void TavrikBleCentral::handleSyncControl(const Data& payload, const std::string& fallback)
{
    const std::optional<std::string> mode
        = sessionMode_ ? std::optional<std::string>(syncModeText(*sessionMode_)) : std::nullopt;
    const SyncControlOutcome outcome = SyncControlPolicy::evaluate(
        payload, mode, syncCode_, hasLoadedData_, claims_.taken(LinkClaim::commandConnection));
    const bool hadSession = sessionMode_.has_value();
    const auto endSession = [this] {
        renewBaseline();
        clearSessionFields();
    };
    switch (outcome.kind()) {
    case SyncControlOutcome::Kind::failed:
        setSyncStage(SyncStage::failed(outcome.failureMessage()));
        if (sessionMode_ == SyncMode::restore) {
            // The window shows the imported data, which the device did not take: its own come back.
            appendLog("Restore refused: " + outcome.failureMessage(), true);
            updateStatus(outcome.failureMessage());
            clearSessionFields();
            reloadAfterRefusedChange();
            break;
        }
        clearSessionFields();
        break;
    case SyncControlOutcome::Kind::staleError:
        appendLog("Ignoring stale sync error for code " + outcome.staleCode(), true);
        break;
    case SyncControlOutcome::Kind::waiting:
        // The device answered; it now waits for its user and reports its own time-out.
        disarmSyncBound();
        setSyncStage(SyncStage::connecting());
        updateStatus("Starting sync");
        break;
    case SyncControlOutcome::Kind::ready:
        setSyncStage(SyncStage::transferring());
        if (sessionMode_ == SyncMode::load) {
            armSyncBound();
            updateStatus("Loading data");
        } else {
            updateStatus("Connected");
        }
        if (sessionMode_ == SyncMode::control) {
            sendHeldCommands();
        } else if (sessionMode_ == SyncMode::restore) {
            sendSyncRestore();
        }
        break;
    case SyncControlOutcome::Kind::incompleteLoad:
        failIncompleteLoad(
            "Tavrik finished sending, but some data was missing. Enable connection mode on Tavrik and try again.");
        break;
    case SyncControlOutcome::Kind::restored:
        disarmSyncBound();
        setSyncStage(SyncStage::completed());
        updateStatus("Imported data saved");
        endSession();
        break;
    case SyncControlOutcome::Kind::controlPending:
        setSyncStage(SyncStage::transferring());
        break;
    case SyncControlOutcome::Kind::controlCompleted:
        setSyncStage(SyncStage::completed());
        endSession();
        break;
    case SyncControlOutcome::Kind::completed:
        setSyncStage(SyncStage::idle());
        clearSessionFields();
        break;
    case SyncControlOutcome::Kind::confirmationTimedOut:
        appendLog("Sync timed out", true);
        if (!hasLoadedData_) {
            // Nothing was loaded and the device no longer waits: the link is let go of, and the
            // window offers to try again.
            isExpectingResetDisconnect_ = targetPeripheral_ != nullptr && isConnected_;
            resetConnectionState();
            clearSessionFields();
            setSyncStage(SyncStage::failed("Sync timed out"));
            updateStatus("Bluetooth ready");
            break;
        }
        setSyncStage(SyncStage::idle());
        updateStatus("Bluetooth ready");
        clearSessionFields();
        break;
    case SyncControlOutcome::Kind::unknown:
        appendLog("[ble:data] unhandled sync payload " + fallback, true);
        break;
    }
    if (hadSession && !sessionMode_) {
        deliverWorkHeldBySession();
    }
}

void TavrikBleCentral::sendSyncRestore()
{
    if (!deviceSyncDataVersion_ || *deviceSyncDataVersion_ < 9) {
        setSyncStage(SyncStage::failed(std::string(restoreNeedsV9)));
        return;
    }
    if (!syncCode_) {
        setSyncStage(SyncStage::failed("Missing restore code"));
        return;
    }
    const SyncSnapshot snapshot = currentSnapshot();
    const SyncRestoreEnvelope envelope(
        *syncCode_, snapshot.settings, storeSnapshot_, snapshot.schedules, snapshot.tags, snapshot.routines);
    const bool accepted = link().sendMessage(toJson(envelope));
    if (!accepted) {
        setSyncStage(SyncStage::failed("Failed to restore data"));
        return;
    }
    setSyncStage(SyncStage::transferring());
    updateStatus("Restoring data");
    armSyncBound();
}

void TavrikBleCentral::deliverWorkHeldBySession()
{
    if (sessionMode_) {
        return;
    }
    if (!claims_.taken(LinkClaim::commandConnection) && commandPath_.queued().empty() && !pendingRoutineCommand_
        && !pendingClockCommand_ && !wifiRequests_.hasHeld()) {
        return;
    }
    if (!isDeviceAttached()) {
        giveUpHeldWork();
        return;
    }
    startCommandConnection();
    if (claims_.taken(LinkClaim::commandConnection)) {
        finishControlSessionIfIdle();
    }
}

void TavrikBleCentral::giveUpHeldWork()
{
    dropQueuedCommands();
    claims_.release(LinkClaim::commandConnection);
    endRoutineExchange();
    pendingClockCommand_.reset();
}

void TavrikBleCentral::finishControlSessionIfIdle()
{
    if (pendingRoutineCommand_ || claims_.taken(LinkClaim::routineControl) || pendingClockCommand_
        || wifiRequests_.isBusy()) {
        claims_.take(LinkClaim::commandConnection);
        return;
    }
    claims_.set(LinkClaim::commandConnection, !commandPath_.queued().empty());
    // A load or restore that runs beside the command connection ends on its own answers.
    if (claims_.taken(LinkClaim::commandConnection) || sessionMode_ == SyncMode::load
        || sessionMode_ == SyncMode::restore) {
        return;
    }
    renewBaseline();
    setSyncStage(SyncStage::completed());
    clearSessionFields();
}

} // namespace tavrik
