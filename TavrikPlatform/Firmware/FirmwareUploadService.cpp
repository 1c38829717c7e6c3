#include "TavrikPlatform/Firmware/FirmwareUploadService.hpp"

namespace tavrik {

FirmwareUploadService::FirmwareUploadService(FirmwareTransfer::Transport transport, Download download,
    FirmwareTransfer::LogSink log, FirmwareTransfer::InstallCallback didInstall,
    FirmwareTransfer::EnvironmentReader environment, Scheduler* scheduler, QObject* parent)
    : QObject(parent)
    , transfer(std::move(transport), std::move(log), std::move(didInstall), std::move(environment), scheduler)
    , download(std::move(download))
    , self(std::make_shared<FirmwareUploadService*>(this))
{
    std::weak_ptr<FirmwareUploadService*> weak = self;
    transfer.setOnStatus([weak](const FirmwareUploadStatus& status) {
        const auto alive = weak.lock();
        if (!alive) {
            return;
        }
        FirmwareUploadService& service = **alive;
        if (service.currentStatus == status) {
            return;
        }
        service.currentStatus = status;
        emit service.statusChanged();
    });
}

FirmwareUploadService::~FirmwareUploadService()
{
    *self = nullptr;
    self.reset();
    cancelDownload();
}

void FirmwareUploadService::replaceStatus(FirmwareUploadStatus status)
{
    transfer.replaceStatus(std::move(status));
}

void FirmwareUploadService::setFirmwareStatus(std::optional<FirmwareUploadStatus::Phase> phase,
    std::optional<std::string> message, std::optional<std::int64_t> bytesTransferred,
    std::optional<std::int64_t> totalBytes)
{
    transfer.setFirmwareStatus(phase, std::move(message), bytesTransferred, totalBytes);
}

void FirmwareUploadService::start(const FirmwareAsset& asset)
{
    resetFirmwareSession();
    const std::uint64_t startedGeneration = generation;
    setFirmwareStatus(
        FirmwareUploadStatus::Phase::downloading, "Downloading firmware " + asset.version + "...", 0, asset.sizeBytes);
    if (!download) {
        setFirmwareStatus(FirmwareUploadStatus::Phase::failed, "Failed to download firmware: no download available", 0,
            asset.sizeBytes);
        return;
    }
    std::weak_ptr<FirmwareUploadService*> weak = self;
    downloading = true;
    auto cancelOperation = download(asset, [weak, startedGeneration, asset](DownloadResult result) {
        const auto alive = weak.lock();
        if (!alive || *alive == nullptr) {
            return;
        }
        FirmwareUploadService& service = **alive;
        // A cancelled or superseded attempt never touches the status or starts a transfer.
        if (service.generation != startedGeneration) {
            return;
        }
        service.downloading = false;
        service.cancelRunningDownload = nullptr;
        if (result.data) {
            service.transfer.prepare(asset, std::move(*result.data));
        } else {
            service.setFirmwareStatus(FirmwareUploadStatus::Phase::failed,
                "Failed to download firmware: " + result.errorDescription, 0, asset.sizeBytes);
        }
    });
    // The download may have finished synchronously (a fake); only keep the handle of a running one.
    if (downloading && generation == startedGeneration) {
        cancelRunningDownload = std::move(cancelOperation);
    }
}

void FirmwareUploadService::cancel(const std::optional<FirmwareAsset>& availableAsset)
{
    cancelDownload();
    ++generation;
    transfer.cancel(availableAsset);
}

void FirmwareUploadService::resetFirmwareSession()
{
    cancelDownload();
    ++generation;
    transfer.resetFirmwareSession();
}

void FirmwareUploadService::sendFirmwareBegin()
{
    transfer.sendFirmwareBegin();
}

void FirmwareUploadService::sendFirmwareWindowIfNeeded()
{
    transfer.sendFirmwareWindowIfNeeded();
}

void FirmwareUploadService::handleFirmwarePayload(const Data& payload, std::int64_t availableSize)
{
    transfer.handleFirmwarePayload(payload, availableSize);
}

void FirmwareUploadService::cancelDownload()
{
    downloading = false;
    auto cancelOperation = std::move(cancelRunningDownload);
    cancelRunningDownload = nullptr;
    if (cancelOperation) {
        cancelOperation();
    }
}

} // namespace tavrik
