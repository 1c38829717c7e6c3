#include "TavrikLink/Controller/TavrikBleCentral.hpp"

namespace tavrik {

DeviceLink& TavrikBleCentral::link()
{
    if (localLink_->attached()) {
        return *localLink_;
    }
    return *bluetoothLink_;
}

const DeviceLink& TavrikBleCentral::link() const
{
    return const_cast<TavrikBleCentral*>(this)->link();
}

void TavrikBleCentral::connectVirtualTavrikIfNeeded()
{
    if (isReviewDemo_ || isPreparingForTermination_ || !localLink_->session() || localLink_->attached() || isConnected_) {
        return;
    }
    if (!sessionMode_ && !claims_.taken(LinkClaim::tagScan) && !claims_.taken(LinkClaim::commandConnection)) {
        return;
    }
    appendLog("Found Tavrik Simulator (local connection; Bluetooth security is not simulated)", true);
    localLink_->connect();
    setIsConnected(true);
    central.stopScan();
    updateStatus("Connecting to simulator");
    reportConnectionProgress();
    handleLinkReady();
}

void TavrikBleCentral::handleLinkReady()
{
    if (sessionMode_) {
        // Edits made while a load or restore looked for the device go first: the data it brings then
        // holds them. A control session sends them once the device is ready for it.
        if (sessionMode_ != SyncMode::control) {
            deliverQueuedCommands();
        }
        sendSyncStart();
    } else if (firmwareUpload_->isActive()) {
        firmwareUpload_->sendFirmwareBegin();
    } else if (claims_.taken(LinkClaim::commandConnection)) {
        sendHeldCommands();
    } else if (claims_.taken(LinkClaim::tagScan) && tagScanCommandPending_) {
        tagScanCommandPending_ = false;
        sendTagCommand(tagScanPurpose_ == TagScanPurpose::killSwitch ? "scan purpose=kill_switch" : "scan");
    }
}

} // namespace tavrik
