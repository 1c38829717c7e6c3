#include "TavrikLink/Controller/TavrikBleCentral.hpp"

#include <QPointer>

namespace tavrik {

void TavrikBleCentral::recordUserInteraction()
{
    linkEnd_.restart();
}

void TavrikBleCentral::showIdleCountdown(std::optional<int> seconds)
{
    publish(idleDisconnectSecondsRemaining_, seconds, &TavrikBleCentral::idleDisconnectSecondsRemainingChanged);
}

bool TavrikBleCentral::shouldScheduleIdleDisconnect() const
{
    return isConnected_ && hasLoadedData_ && !localLink_->attached();
}

bool TavrikBleCentral::isLinkHeldByWork() const
{
    // A firmware download does not use the link yet, and an open time-sync notice may still send;
    // both keep the link for what follows.
    return claims_.any() || isFirmwareBusy() || timeSyncNotice_.has_value() || pendingClockCommand_.has_value();
}

void TavrikBleCentral::giveUpRefusedEdits()
{
    // Edits the link keeps refusing must not hold it for ever: one more try, then they are given up.
    if (!sessionMode_ && !commandPath_.queued().empty() && isDeviceAttached()) {
        deliverQueuedCommands();
        dropQueuedCommands();
        claims_.set(LinkClaim::commandConnection, pendingRoutineCommand_ || pendingClockCommand_);
    }
}

void TavrikBleCentral::disconnectAndReturnToLoad(std::string_view command, const std::string& logMessage)
{
    appendLog(logMessage, true);
    linkEnd_.stop();
    sendWaitingEdits();
    const bool accepted = link().sendCommand("system", command);
    // Only a link that is up reports its end; a connect still pending is given up without a word.
    if (targetPeripheral_ && isConnected_) {
        isExpectingResetDisconnect_ = true;
    }
    linkEnd_.afterDisconnect(accepted, [this] {
        // The quit lets go of the link itself and starts nothing new.
        if (isPreparingForTermination_) {
            return;
        }
        resetLocalData(true);
        if (isReviewDemo_) {
            beginReviewDemo();
        } else {
            beginSession(SyncMode::load);
        }
    });
}

bool TavrikBleCentral::canEjectTavrik() const
{
    return isConnected_ || targetPeripheral_ || claims_.any() || localLink_->attached() || hasLoadedData_;
}

void TavrikBleCentral::ejectTavrik()
{
    if (isReviewDemo_) {
        endReviewDemo();
        return;
    }
    disconnectAndReturnToLoad("eject", "Ejecting Tavrik Bluetooth session");
}

void TavrikBleCentral::prepareForAppTermination(std::function<void()> completion)
{
    // A second quit request while the first runs waits for the same end.
    const bool running = terminationCompletions_ != nullptr;
    if (!running) {
        terminationCompletions_ = std::make_shared<std::vector<std::function<void()>>>();
    }
    if (completion) {
        terminationCompletions_->push_back(std::move(completion));
    }
    if (running) {
        return;
    }
    isPreparingForTermination_ = true;
    appendLog("Preparing Tavrik Bluetooth session for app termination", true);
    firmwareUpload_->resetFirmwareSession();
    const auto completions = terminationCompletions_;
    // The service may answer after the controller is gone.
    usbOnboarding_->prepareForAppTermination([self = QPointer<TavrikBleCentral>(this), this, completions] {
        if (!self) {
            finishAppTermination(*completions);
            return;
        }
        linkEnd_.stopForQuit();
        bool accepted = false;
        if (link().attached()) {
            sendWaitingEdits();
            accepted = link().sendCommand("system", "disconnect");
        }
        if (!accepted) {
            releaseLinkForTermination();
            finishAppTermination(*completions);
            return;
        }
        linkEnd_.afterQuit([this, completions] {
            releaseLinkForTermination();
            finishAppTermination(*completions);
        });
    });
}

void TavrikBleCentral::releaseLinkForTermination()
{
    if (targetPeripheral_) {
        central.cancelPeripheralConnection(targetPeripheral_);
    }
    central.stopScan();
    bluetoothLink_->detach();
    terminationCompletions_.reset();
}

void TavrikBleCentral::finishAppTermination(std::vector<std::function<void()>>& completions)
{
    const std::vector<std::function<void()>> pending = std::move(completions);
    completions.clear();
    for (const auto& completion : pending) {
        completion();
    }
}

void TavrikBleCentral::startCommandConnection()
{
    if (isReviewDemo_) {
        return;
    }
    if (isConnected_) {
        sendHeldCommands();
        return;
    }
    claims_.take(LinkClaim::commandConnection);
    clearSessionFields();
    setSyncStage(SyncStage::connecting());
    setStatusText("Connecting to Tavrik");
    startScanningIfPossible();
}

void TavrikBleCentral::resetLocalData(bool preserveExpectedDisconnect)
{
    resetConnectionState();
    clearSessionFields();
    setSyncStage(SyncStage::idle());

    giveUpHeldWork();
    commandPath_.forgetLastChannel();
    pendingRoutineDetailSignatures_.clear();
    tagScanKeepaliveTask_.cancel();
    setStatusText("Bluetooth idle");

    // Marked first: no observer takes the tables emptied below for the device's data.
    setHasLoadedData(false);
    resetScheduleState();
    resetTagState();
    resetRoutineState();
    baselineSnapshot_.reset();
    storeSnapshot_.reset();

    publish(legacyFirmwareUpgradeRequired_, false, &TavrikBleCentral::legacyFirmwareUpgradeRequiredChanged);
    publish(backupMigrationWarnings_, std::vector<std::string> {}, &TavrikBleCentral::backupMigrationWarningsChanged);
    publish(deviceFirmwareVersion_, std::nullopt, &TavrikBleCentral::deviceFirmwareVersionChanged);
    publish(deviceHardwareTarget_, FirmwareHardwareTarget::m5StickC, &TavrikBleCentral::deviceHardwareTargetChanged);
    publish(timeSyncNotice_, std::nullopt, &TavrikBleCentral::timeSyncNoticeChanged);
    publish(wifiSupported_, false, &TavrikBleCentral::wifiSupportedChanged);
    publish(wifiCredentialCapacity_, std::int64_t { 0 }, &TavrikBleCentral::wifiCredentialCapacityChanged);
    publish(savedWifiCredentials_, std::vector<WifiCredentialSummary> {}, &TavrikBleCentral::savedWifiCredentialsChanged);
    publish(killSwitchSupported_, false, &TavrikBleCentral::killSwitchSupportedChanged);
    publish(killSwitchUid_, std::string(), &TavrikBleCentral::killSwitchUidChanged);
    publish(routineStartTagsSupported_, false, &TavrikBleCentral::routineStartTagsSupportedChanged);
    publish(deviceSyncDataVersion_, std::nullopt, &TavrikBleCentral::deviceSyncDataVersionChanged);
    publish(nearbyWifiNetworks_, std::vector<WifiScannedNetwork> {}, &TavrikBleCentral::nearbyWifiNetworksChanged);

    resetWifiRequestState();
    publish(wifiSettingsMessage_, std::nullopt, &TavrikBleCentral::wifiSettingsMessageChanged);
    publish(wifiConnectionNotice_, std::nullopt, &TavrikBleCentral::wifiConnectionNoticeChanged);
    publish(wifiValidationFailure_, std::nullopt, &TavrikBleCentral::wifiValidationFailureChanged);
    publish(wifiLastSavedSsid_, std::nullopt, &TavrikBleCentral::wifiLastSavedSsidChanged);
    failedWifiCandidate_.reset();
    didShowWifiFailureForCurrentSession_ = false;
    didOfferTimeSyncForCurrentLoad_ = false;

    nextLocalScheduleId_ = 1;
    nextLocalRoutineId_ = 1;

    // An install stopped here must not leave its progress text up.
    const bool stopsInstall = isFirmwareBusy();
    if (stopsInstall) {
        firmwareUpload_->cancel(availableFirmwareAsset_);
    } else {
        firmwareUpload_->resetFirmwareSession();
    }
    // The offer was made to the board that is gone: the next board, maybe another one, is offered
    // what a program that has seen no board offers, until its own data is loaded.
    publish(firmwareUpdateNotice_, std::nullopt, &TavrikBleCentral::firmwareUpdateNoticeChanged);
    if (firmwareCatalog_) {
        const FirmwareUploadStatus stopped = firmwareUpload_->status();
        selectFirmwareAssetForConnectedTarget();
        if (stopsInstall) {
            firmwareUpload_->replaceStatus(stopped);
        }
    } else {
        publish(availableFirmwareAsset_, std::nullopt, &TavrikBleCentral::availableFirmwareAssetChanged);
    }
    linkEnd_.stop();
    if (!preserveExpectedDisconnect) {
        isExpectingResetDisconnect_ = false;
    }
    usbOnboarding_->reset();
}

void TavrikBleCentral::resetConnectionState()
{
    cancelSlicedLoad();
    commandPath_.forgetUnanswered();
    disarmSyncBound();
    claims_.resetConnectFailures();
    if (targetPeripheral_) {
        central.cancelPeripheralConnection(targetPeripheral_);
    }
    central.stopScan();
    targetPeripheral_.reset();
    activeBleProfile_.reset();
    bluetoothLink_->detach();
    localLink_->disconnect();
    setIsConnected(false);
}

void TavrikBleCentral::updateStatus(const std::string& text)
{
    setStatusText(text);
}

} // namespace tavrik
