#include "TavrikLink/Controller/TavrikBleCentral.hpp"

#include <algorithm>

namespace tavrik {

namespace {

// The device forgot its bond with this computer, or refused it: the user removes it here and pairs again.
std::string pairAgainMessage(const std::shared_ptr<BlePeripheral>& peripheral)
{
    const std::string address = peripheral ? peripheral->identifier() : std::string();
    return "Open the Bluetooth settings of your desktop and forget Tavrik"
        + (address.empty() ? std::string() : ", or run bluetoothctl remove " + address)
        + ". Then enable connection mode on Tavrik and reconnect to pair with its six-digit code. Your routines will "
          "not be deleted.";
}

std::string describe(const std::optional<BleError>& error, std::string_view fallback)
{
    return error ? error->description : std::string(fallback);
}

bool meansPairingGone(const std::optional<BleError>& error)
{
    return error && error->code == bleErrorPeerRemovedPairingInformation;
}

} // namespace

void TavrikBleCentral::startScanningIfPossible()
{
    if (isReviewDemo_ || isPreparingForTermination_) {
        return;
    }
    localLink_->pollAdvertisement();
    if (localLink_->attached()) {
        return;
    }
    if (central.state() != BleManagerState::poweredOn) {
        updateStatus("Bluetooth not available");
        return;
    }
    if (!isConnectionWanted()) {
        updateStatus("Bluetooth idle");
        return;
    }
    updateStatus("Scanning\u2026");
    central.scanForPeripherals(scanServiceUUIDs());
}

void TavrikBleCentral::handleStateChange(BleManagerState state)
{
    if (isReviewDemo_ || localLink_->attached()) {
        return;
    }
    switch (state) {
    case BleManagerState::unknown:
        updateStatus("Bluetooth unknown");
        break;
    case BleManagerState::resetting:
        updateStatus("Resetting Bluetooth");
        break;
    case BleManagerState::unsupported:
        updateStatus("Unsupported on this computer");
        appendLog("Bluetooth unsupported", true);
        break;
    case BleManagerState::unauthorized:
        updateStatus("Bluetooth access denied");
        appendLog("Bluetooth unauthorized", true);
        break;
    case BleManagerState::poweredOff:
        updateStatus("Bluetooth is powered off");
        appendLog("Bluetooth powered off", true);
        break;
    case BleManagerState::poweredOn:
        appendLog("Bluetooth ready", true);
        updateStatus("Bluetooth ready");
        if (isConnectionWanted()) {
            startScanningIfPossible();
        }
        break;
    }
}

void TavrikBleCentral::handleDiscovery(const std::shared_ptr<BlePeripheral>& peripheral, int rssi)
{
    if (isReviewDemo_ || isPreparingForTermination_ || localLink_->attached() || !isConnectionWanted()) {
        return;
    }
    const std::optional<std::string> name = peripheral->name();
    appendLog("Found " + name.value_or("device") + " RSSI " + std::to_string(rssi), true);
    if (targetPeripheral_ && targetPeripheral_ != peripheral) {
        targetPeripheral_->setDelegate(nullptr);
    }
    targetPeripheral_ = peripheral;
    peripheral->setDelegate(this);
    updateStatus("Connecting to " + name.value_or("clock"));
    reportConnectionProgress();
    central.stopScan();
    central.connect(peripheral);
}

void TavrikBleCentral::handleConnect(const std::shared_ptr<BlePeripheral>& peripheral)
{
    if (isReviewDemo_) {
        return;
    }
    appendLog("Connected to " + peripheral->name().value_or("clock"), true);
    updateStatus("Discovering services");
    setIsConnected(true);
    reportConnectionProgress();
    activeBleProfile_.reset();
    peripheral->discoverServices(scanServiceUUIDs());
}

void TavrikBleCentral::handleConnectFailure(const std::optional<BleError>& error)
{
    if (isReviewDemo_) {
        return;
    }
    appendLog("Failed to connect: " + describe(error, "unknown"), true);
    if (retryLoadAfterConnectFailure(error, "Connect failed")) {
        return;
    }
    std::string message = "Connect failed";
    std::string status = "Connect failed";
    if (meansPairingGone(error)) {
        status = "Pair Tavrik again";
        message = pairAgainMessage(targetPeripheral_);
    }
    updateStatus(status);
    setIsConnected(false);
    failWaitingWork(message, true);
}

void TavrikBleCentral::failWaitingWork(const std::string& message, bool endTagScan)
{
    // Every piece of work that waited is told, each where its user looks.
    if (sessionMode_) {
        // The session ends here: a later adapter or scan event must not resume it without the user.
        setSyncStage(SyncStage::failed(message));
        clearSessionFields();
        giveUpHeldWork();
    }
    if (firmwareUpload_->isActive()) {
        firmwareUpload_->setFirmwareStatus(FirmwareUploadStatus::Phase::failed, message);
        firmwareUpload_->resetFirmwareSession();
    }
    if (claims_.taken(LinkClaim::commandConnection)) {
        // Queued edits are dropped with the failed command connection; the user edits again.
        giveUpHeldWork();
        setRoutineError(message);
        if (syncStage_ == SyncStage::connecting()) {
            setSyncStage(SyncStage::idle());
        }
    }
    if (claims_.taken(LinkClaim::tagScan)) {
        setTagScanState(TagScanState::failed(message));
        if (endTagScan) {
            deactivateTagScanSession();
        }
    }
}

bool TavrikBleCentral::retryLoadAfterConnectFailure(const std::optional<BleError>& error, const std::string& status)
{
    // A lost pairing needs the user; every other failure is worth another try when the device is heard again.
    if (sessionMode_ != SyncMode::load || meansPairingGone(error) || isPreparingForTermination_) {
        return false;
    }
    updateStatus(status);
    setIsConnected(false);
    if (targetPeripheral_) {
        targetPeripheral_->setDelegate(nullptr);
        targetPeripheral_.reset();
    }
    setSyncStage(SyncStage::waitingForDevice());
    if (claims_.connectFailed()) {
        startScanningIfPossible();
    }
    return true;
}

void TavrikBleCentral::handleDisconnect(const std::optional<BleError>& error)
{
    if (isReviewDemo_) {
        return;
    }
    cancelSlicedLoad();
    commandPath_.forgetUnanswered();
    const bool wasExpected = isExpectingResetDisconnect_;
    const std::optional<SyncMode> mode = sessionMode_;
    const bool uploadWasActive = firmwareUpload_->isActive();
    const bool installWasRunning = isFirmwareBusy();

    appendLog("Disconnected: " + describe(error, "ok"), true);
    isExpectingResetDisconnect_ = false;
    setIsConnected(false);
    if (targetPeripheral_) {
        targetPeripheral_->setDelegate(nullptr);
    }
    targetPeripheral_.reset();
    activeBleProfile_.reset();
    bluetoothLink_->detach();

    // The quit's own disconnect is expected too: nothing new starts while the program ends.
    if (wasExpected || isPreparingForTermination_) {
        return;
    }
    if (mode == SyncMode::restore) {
        // The restore ends here, and nothing resumes it without the user.
        failWaitingWork("Tavrik disconnected while saving imported data", false);
        updateStatus("Import save disconnected");
        return;
    }
    if (installWasRunning) {
        const FirmwareUploadStatus& status = firmwareUpload_->status();
        std::string progress;
        // A download has sent nothing to the board yet.
        if (uploadWasActive && status.totalBytes >= 1) {
            progress = " at " + std::to_string(status.bytesTransferred) + " of " + std::to_string(status.totalBytes)
                + " bytes";
        }
        firmwareUpload_->setFirmwareStatus(FirmwareUploadStatus::Phase::failed,
            "Firmware update connection was interrupted" + progress + ". Activate Tavrik and try again.");
        firmwareUpload_->resetFirmwareSession();
        updateStatus("Firmware update interrupted");
        return;
    }
    appendLog("Tavrik disconnected; starting load session", true);
    resetLocalData(false);
    beginSession(SyncMode::load);
}

void TavrikBleCentral::handleServices(BlePeripheral& peripheral, const std::optional<BleError>& error)
{
    if (isReviewDemo_) {
        return;
    }
    if (error) {
        appendLog("Service discovery error: " + error->description, true);
        failDiscovery("Service error");
        return;
    }
    const std::optional<std::vector<Uuid>> services = peripheral.services();
    if (!services) {
        appendLog("No services found", true);
        failDiscovery("No services");
        return;
    }
    const std::optional<TavrikBleProtocolProfile> profile = chooseTavrikBleProtocolProfile(*services);
    if (!profile) {
        appendLog("Clock service missing", true);
        failDiscovery("Service missing");
        return;
    }
    activeBleProfile_ = profile;
    const bool legacy = *profile == TavrikBleProtocolProfile::legacyUnencryptedV1;
    publish(legacyFirmwareUpgradeRequired_, legacy, &TavrikBleCentral::legacyFirmwareUpgradeRequiredChanged);
    if (legacy) {
        publish(deviceHardwareTarget_, FirmwareHardwareTarget::m5StickC, &TavrikBleCentral::deviceHardwareTargetChanged);
        selectFirmwareAssetForConnectedTarget();
        publish(firmwareUpdateNotice_, std::nullopt, &TavrikBleCentral::firmwareUpdateNoticeChanged);
    } else {
        publish(backupMigrationWarnings_, std::vector<std::string> {}, &TavrikBleCentral::backupMigrationWarningsChanged);
    }
    appendLog("Using " + std::string(displayName(*profile)), true);
    updateStatus("Discovering characteristics");
    peripheral.discoverCharacteristics(characteristicUUIDs(*profile), serviceUUID(*profile));
}

void TavrikBleCentral::handleCharacteristics(
    const Uuid& serviceUuid, BlePeripheral& peripheral, const std::optional<BleError>& error)
{
    if (isReviewDemo_) {
        return;
    }
    if (error) {
        appendLog("Characteristic error: " + error->description, true);
        failDiscovery("Characteristic error");
        return;
    }
    const std::optional<std::vector<BleCharacteristic>> characteristics = peripheral.characteristics(serviceUuid);
    if (!characteristics) {
        appendLog("No characteristics", true);
        failDiscovery("No characteristics");
        return;
    }
    if (!activeBleProfile_ || serviceUuid != serviceUUID(*activeBleProfile_)) {
        appendLog("Ignoring characteristics for an unexpected service", true);
        return;
    }
    const TavrikBleProtocolProfile profile = *activeBleProfile_;
    const auto withUuid = [&](const Uuid& uuid) -> std::optional<BleCharacteristic> {
        const auto found = std::find_if(characteristics->begin(), characteristics->end(),
            [&](const BleCharacteristic& characteristic) { return characteristic.uuid == uuid; });
        return found == characteristics->end() ? std::nullopt : std::optional<BleCharacteristic>(*found);
    };
    const std::optional<BleCharacteristic> data = withUuid(dataCharacteristicUUID(profile));
    if (!data) {
        failUnavailableDataChannel();
        appendLog("Data characteristic missing", true);
        failDiscovery("Data channel unavailable");
        return;
    }
    const std::optional<BleCharacteristic> firmware = withUuid(firmwareCharacteristicUUID(profile));
    if (!firmware) {
        appendLog("Firmware characteristic missing", true);
        if (firmwareUpload_->isActive()) {
            firmwareUpload_->setFirmwareStatus(FirmwareUploadStatus::Phase::failed, "Firmware channel unavailable.");
            firmwareUpload_->resetFirmwareSession();
        } else if (availableFirmwareAsset_) {
            firmwareUpload_->setFirmwareStatus(FirmwareUploadStatus::Phase::idle,
                "Bluetooth connect is available, but this Tavrik firmware does not support OTA updates.");
        }
    }
    bluetoothLink_->attach(targetPeripheral_, *data, firmware);
    updateStatus(
        profile == TavrikBleProtocolProfile::secureV2 ? "Securing connection" : "Connecting over legacy Bluetooth");
    peripheral.setNotifyValue(true, *data);
}

void TavrikBleCentral::handleDataSubscription(
    const BleCharacteristic& characteristic, const std::optional<BleError>& error)
{
    if (isReviewDemo_) {
        return;
    }
    if (!activeBleProfile_ || characteristic.uuid != dataCharacteristicUUID(*activeBleProfile_)) {
        return;
    }
    const TavrikBleProtocolProfile profile = *activeBleProfile_;
    const bool secure = profile == TavrikBleProtocolProfile::secureV2;
    if (error) {
        const std::string logLine
            = (secure ? "Secure Bluetooth pairing failed: " : "Legacy Bluetooth connection failed: ")
            + error->description;
        appendLog(logLine, true);
        if (secure && meansPairingGone(error)) {
            failDataChannel("Pair Tavrik again", pairAgainMessage(targetPeripheral_));
        } else {
            failDataChannel(secure ? "Pairing failed" : "Connection failed", logLine);
        }
        return;
    }
    if (!characteristic.isNotifying) {
        return;
    }
    appendLog(std::string(displayName(profile)) + " channel ready", true);
    // Only a link that carries messages ends a run of failed connects.
    claims_.resetConnectFailures();
    handleLinkReady();
}

void TavrikBleCentral::failDataChannel(const std::string& status, const std::string& message)
{
    const bool secure = activeBleProfile_ == TavrikBleProtocolProfile::secureV2;
    updateStatus(status);
    failWaitingWork(message, false);
    // The legacy profile keeps its connection.
    if (secure && targetPeripheral_) {
        isExpectingResetDisconnect_ = true;
        central.cancelPeripheralConnection(targetPeripheral_);
    }
}

void TavrikBleCentral::failDiscovery(const std::string& status)
{
    // A link that cannot carry messages is no link: it is let go of, and the connect has failed.
    if (targetPeripheral_) {
        isExpectingResetDisconnect_ = true;
        central.cancelPeripheralConnection(targetPeripheral_);
    }
    activeBleProfile_.reset();
    bluetoothLink_->detach();
    setIsConnected(false);
    if (retryLoadAfterConnectFailure(std::nullopt, status)) {
        return;
    }
    updateStatus(status);
    failWaitingWork("Connect failed", true);
}

void TavrikBleCentral::failUnavailableDataChannel()
{
    setScheduleError("Data channel unavailable");
    setTagError("Data channel unavailable");
    setRoutineError("Data channel unavailable");
}

void TavrikBleCentral::centralDidUpdateState()
{
    publish(
        bluetoothUnavailableReason_, central.unavailableReason(), &TavrikBleCentral::bluetoothUnavailableReasonChanged);
    handleStateChange(central.state());
}

void TavrikBleCentral::centralDidDiscover(std::shared_ptr<BlePeripheral> peripheral, int rssi)
{
    handleDiscovery(peripheral, rssi);
}

void TavrikBleCentral::centralDidConnect(std::shared_ptr<BlePeripheral> peripheral)
{
    linkedPeripheral_ = peripheral;
    handleConnect(peripheral);
}

void TavrikBleCentral::centralDidFailToConnect(std::shared_ptr<BlePeripheral>, std::optional<BleError> error)
{
    handleConnectFailure(error);
}

void TavrikBleCentral::centralDidDisconnect(std::shared_ptr<BlePeripheral> peripheral, std::optional<BleError> error)
{
    // A link the controller already let go of (a new session or a reset cut it) ends quietly: read as
    // a device that went away, it would wipe the data and queued edits and start yet another load.
    if (!isReviewDemo_ && peripheral != targetPeripheral_) {
        // Only a link the controller saw come up is said to end; a connect given up as it completed
        // never did.
        if (!linkedPeripheral_.expired() && peripheral == linkedPeripheral_.lock()) {
            appendLog("Disconnected: " + describe(error, "ok"), true);
            linkedPeripheral_.reset();
        }
        isExpectingResetDisconnect_ = false;
        return;
    }
    linkedPeripheral_.reset();
    handleDisconnect(error);
}

void TavrikBleCentral::peripheralDidDiscoverServices(BlePeripheral& peripheral, std::optional<BleError> error)
{
    handleServices(peripheral, error);
}

void TavrikBleCentral::peripheralDidDiscoverCharacteristics(
    BlePeripheral& peripheral, const Uuid& serviceUuid, std::optional<BleError> error)
{
    handleCharacteristics(serviceUuid, peripheral, error);
}

void TavrikBleCentral::peripheralDidUpdateNotificationState(
    BlePeripheral&, const BleCharacteristic& characteristic, std::optional<BleError> error)
{
    handleDataSubscription(characteristic, error);
}

void TavrikBleCentral::peripheralDidUpdateValue(BlePeripheral& peripheral, const BleCharacteristic& characteristic,
    const Data& value, std::optional<BleError> error)
{
    if (!targetPeripheral_ || targetPeripheral_.get() != &peripheral) {
        return;
    }
    if (error) {
        appendLog("Bluetooth read failed: " + error->description, true);
        return;
    }
    if (activeBleProfile_ && characteristic.uuid == dataCharacteristicUUID(*activeBleProfile_)) {
        bluetoothLink_->channel().handleIncoming(value);
    }
}

void TavrikBleCentral::peripheralDidWriteValue(
    BlePeripheral& peripheral, const BleCharacteristic& characteristic, std::optional<BleError> error)
{
    if (!targetPeripheral_ || targetPeripheral_.get() != &peripheral) {
        return;
    }
    if (error) {
        appendLog("Data command failed: " + error->description, true);
    }
    if (activeBleProfile_ && characteristic.uuid == dataCharacteristicUUID(*activeBleProfile_)) {
        if (!error) {
            appendLog("Command acknowledged for data channel", true);
        }
        bluetoothLink_->channel().handleWriteResponse();
        // The secure channel refused for want of a bond: nothing gets through until Tavrik is paired again.
        if (activeBleProfile_ == TavrikBleProtocolProfile::secureV2 && meansPairingGone(error)) {
            failDataChannel("Pair Tavrik again", pairAgainMessage(targetPeripheral_));
        }
    }
}

void TavrikBleCentral::peripheralIsReadyToSendWriteWithoutResponse(BlePeripheral&)
{
    bluetoothLink_->channel().handleReadyToSendWriteWithoutResponse();
    firmwareUpload_->sendFirmwareWindowIfNeeded();
}

} // namespace tavrik
