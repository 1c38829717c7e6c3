#include "TavrikCore/Session/CompanionSession.hpp"

#include "TavrikCore/Firmware/FirmwareHardwareTarget.hpp"
#include "TavrikCore/Firmware/FirmwareTransfer.hpp"

namespace tavrik {

void CompanionSession::FirmwareTransferDeleter::operator()(FirmwareTransfer* transfer) const
{
    delete transfer;
}

FirmwareTransfer& CompanionSession::transfer()
{
    if (!firmwareTransfer) {
        firmwareTransfer.reset(makeFirmwareTransfer().release());
    }
    return *firmwareTransfer;
}

bool CompanionSession::busy() const
{
    return (firmwareTransfer && firmwareTransfer->isActive()) || downloadKind == "binary";
}

Json CompanionSession::firmwareStateObject()
{
    const FirmwareUploadStatus& status = transfer().status();
    return Json {
        { "active", busy() },
        { "phase", firmwareUploadPhaseName(status.phase) },
        { "message", status.message },
        { "progress", status.progress() },
        { "totalBytes", status.totalBytes },
        { "bytesTransferred", status.bytesTransferred },
    };
}

std::optional<Json> CompanionSession::firmwareAssetObject() const
{
    if (!firmwareAsset) {
        return std::nullopt;
    }
    return Json {
        { "version", firmwareAsset->version },
        { "target", rawValue(firmwareAsset->target) },
        { "sizeBytes", firmwareAsset->sizeBytes },
        { "sha256", firmwareAsset->sha256 },
        { "source", firmwareAsset->sourceDescription },
        { "channel", firmwareAsset->channel },
        { "manifest", firmwareAsset->manifestURL.absoluteString() },
    };
}

void CompanionSession::interruptFirmwareTransfer(const std::string& message)
{
    transfer().resetFirmwareSession();
    transfer().setFirmwareStatus(FirmwareUploadStatus::Phase::failed, message, 0, 0);
}

bool CompanionSession::timeOutFirmwareTransfer(double now)
{
    if (!firmwareTransfer || !firmwareTransfer->isActive() || elapsedMilliseconds(now, lastProgress) <= 60'000) {
        return false;
    }
    firmwareTransfer->cancel(firmwareAsset);
    firmwareTransfer->setFirmwareStatus(
        FirmwareUploadStatus::Phase::failed, "Firmware transfer timed out. Reconnect and retry.", 0, 0);
    emitDisconnectEffect();
    return true;
}

void CompanionSession::handleFirmwareStatus(Bytes bytes)
{
    transfer().handleFirmwarePayload(Data(bytes.begin(), bytes.end()), firmwareAsset ? firmwareAsset->sizeBytes : 0);
}

void CompanionSession::failFirmwareAction(const std::string& message)
{
    downloadId.reset();
    downloadKind.reset();
    transfer().setFirmwareStatus(FirmwareUploadStatus::Phase::failed, message);
}

bool CompanionSession::isKnownHardwareTarget(std::string_view target)
{
    return firmwareHardwareTargetFromRawValue(target).has_value();
}

} // namespace tavrik
