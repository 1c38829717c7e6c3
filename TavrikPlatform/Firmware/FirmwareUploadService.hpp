#pragma once

#include "TavrikCore/Firmware/FirmwareAsset.hpp"
#include "TavrikCore/Firmware/FirmwareTransfer.hpp"
#include "TavrikCore/Firmware/FirmwareUploadStatus.hpp"
#include "TavrikCore/Support/Data.hpp"

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tavrik {

// Runs an over-the-air update for the rest of the application: downloads the chosen image through
// the injected download, drops the result of any attempt that was superseded meanwhile, hands the
// image to its one FirmwareTransfer and publishes the transfer's status as its own.
class FirmwareUploadService final : public QObject {
    Q_OBJECT
public:
    // The outcome of one download: the verified image, or the error's description.
    struct DownloadResult {
        std::optional<Data> data;
        std::string errorDescription;
    };
    using DownloadCompletion = std::function<void(DownloadResult)>;
    // Starts fetching and checking one image; calls the completion later, from the event loop,
    // exactly once unless cancelled. Gives an operation that cancels the download (may be empty).
    using Download = std::function<std::function<void()>(const FirmwareAsset&, DownloadCompletion)>;

    // With a `scheduler` the transfer gives up on a device that stops answering.
    FirmwareUploadService(FirmwareTransfer::Transport transport, Download download, FirmwareTransfer::LogSink log,
        FirmwareTransfer::InstallCallback didInstall, FirmwareTransfer::EnvironmentReader environment = {},
        Scheduler* scheduler = nullptr, QObject* parent = nullptr);
    ~FirmwareUploadService() override;

    const FirmwareUploadStatus& status() const { return currentStatus; }
    // A transfer is running (false while only downloading).
    bool isActive() const { return transfer.isActive(); }
    std::int64_t totalBytes() const { return transfer.totalBytes(); }

    void replaceStatus(FirmwareUploadStatus status);
    void setFirmwareStatus(std::optional<FirmwareUploadStatus::Phase> phase = std::nullopt,
        std::optional<std::string> message = std::nullopt, std::optional<std::int64_t> bytesTransferred = std::nullopt,
        std::optional<std::int64_t> totalBytes = std::nullopt);

    void start(const FirmwareAsset& asset);
    void cancel(const std::optional<FirmwareAsset>& availableAsset);
    void resetFirmwareSession();
    void sendFirmwareBegin();
    void sendFirmwareWindowIfNeeded();
    void handleFirmwarePayload(const Data& payload, std::int64_t availableSize);

signals:
    void statusChanged();

private:
    void cancelDownload();

    FirmwareUploadStatus currentStatus { FirmwareUploadStatus::Phase::idle, "Checking for firmware updates.", 0, 0 };
    FirmwareTransfer transfer;
    Download download;
    std::function<void()> cancelRunningDownload;
    bool downloading = false;
    // Renewed whenever an attempt is superseded; a download only counts while its generation is current.
    std::uint64_t generation = 0;
    // Lets late completions tell that the service is gone.
    std::shared_ptr<FirmwareUploadService*> self;
};

} // namespace tavrik
