#include "TavrikLink/Controller/TavrikBleCentral.hpp"

#include "TavrikPlatform/Bluetooth/PeripheralDataTransport.hpp"

namespace tavrik {

void TavrikBleCentral::recordUserInteraction()
{
    // Completed with the idle disconnect: restarts the idle countdown.
}

void TavrikBleCentral::startCommandConnection()
{
    if (isReviewDemo_) {
        return;
    }
    if (isConnected_) {
        sendAtomicCommandsIfNeeded();
        if (pendingRoutineCommand_) {
            const std::string command = *pendingRoutineCommand_;
            pendingRoutineCommand_.reset();
            sendRoutineCommand(command);
        }
        sendPendingClockCommandIfNeeded();
        sendPendingWifiRequestIfNeeded();
        return;
    }
    routineControlSessionActive_ = true;
    clearSessionFields();
    setSyncStage(SyncStage::connecting());
    setStatusText("Connecting to Tavrik");
    startScanningIfPossible();
}

void TavrikBleCentral::resetLocalData(bool preserveExpectedDisconnect)
{
    cancelTask(loadTimeoutTask_);
    publish(virtualTavrikConnected_, false, &TavrikBleCentral::virtualTavrikConnectedChanged);
    virtualTavrikInboundOffset_ = 0;
    if (targetPeripheral_) {
        central.cancelPeripheralConnection(targetPeripheral_);
    }
    central.stopScan();
    targetPeripheral_.reset();
    activeBleProfile_.reset();
    dataCharacteristic_.reset();
    firmwareCharacteristic_.reset();
    configureDataChannel(*dataService_, nullptr, std::nullopt);

    setIsConnected(false);
    clearSessionFields();
    setSyncStage(SyncStage::idle());

    atomicCommandQueue_.clear();
    lastAtomicCommandChannel_.reset();
    pendingRoutineCommand_.reset();
    pendingClockCommand_.reset();
    pendingRoutineDetailSignatures_.clear();
    cancelTask(tagScanKeepaliveTask_);
    routineControlSessionActive_ = false;
    setStatusText("Bluetooth idle");

    resetScheduleState();
    resetTagState();
    resetRoutineState();
    baselineSnapshot_.reset();
    storeSnapshot_.reset();

    setHasLoadedData(false);
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

    firmwareUpload_->resetFirmwareSession();
    scheduler.cancel(autosaveTask_);
    cancelTask(idleDisconnectTask_);
    publish(idleDisconnectSecondsRemaining_, std::nullopt, &TavrikBleCentral::idleDisconnectSecondsRemainingChanged);
    if (!preserveExpectedDisconnect) {
        isExpectingResetDisconnect_ = false;
    }
    usbOnboarding_->reset();
}

void TavrikBleCentral::resetConnectionState()
{
    cancelTask(loadTimeoutTask_);
    if (targetPeripheral_) {
        central.cancelPeripheralConnection(targetPeripheral_);
    }
    central.stopScan();
    targetPeripheral_.reset();
    activeBleProfile_.reset();
    dataCharacteristic_.reset();
    firmwareCharacteristic_.reset();
    configureDataChannel(*dataService_, nullptr, std::nullopt);
    publish(virtualTavrikConnected_, false, &TavrikBleCentral::virtualTavrikConnectedChanged);
    virtualTavrikInboundOffset_ = 0;
    setIsConnected(false);
}

void TavrikBleCentral::updateStatus(const std::string& text)
{
    setStatusText(text);
}

} // namespace tavrik
