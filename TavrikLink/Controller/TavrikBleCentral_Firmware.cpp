#include "TavrikLink/Controller/TavrikBleCentral.hpp"

namespace tavrik {

void TavrikBleCentral::handleFirmwarePayload(const Data& payload)
{
    firmwareUpload_->handleFirmwarePayload(payload, availableFirmwareAsset_ ? availableFirmwareAsset_->sizeBytes : 0);
}

void TavrikBleCentral::selectFirmwareAssetForConnectedTarget()
{
    // Completed with the firmware operations (the loaded catalog's asset, the notice and the upload
    // status); without a catalog nothing is offered.
    if (!firmwareCatalog_) {
        publish(availableFirmwareAsset_, std::nullopt, &TavrikBleCentral::availableFirmwareAssetChanged);
    }
}

void TavrikBleCentral::updateFirmwareNoticeIfNeeded()
{
    // Completed with the firmware operations.
}

} // namespace tavrik
