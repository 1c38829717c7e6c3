#include "TavrikLink/Controller/TavrikBleCentral.hpp"

#include "TavrikCore/Firmware/FirmwareVersion.hpp"
#include "TavrikCore/Support/Text.hpp"

#include <exception>
#include <utility>

namespace tavrik {

namespace {

using Phase = FirmwareUploadStatus::Phase;

// Builds made from a development branch: their version is not a release, so newer releases are not pushed.
bool isDevelopmentFirmware(const std::string& version)
{
    const std::string normalized = text::lowercased(text::trimmed(version));
    return normalized.starts_with("dev-") || normalized.ends_with("dev");
}

constexpr std::string_view noOtaSupport
    = "Bluetooth connect is available, but this Tavrik firmware does not support OTA updates.";

// Where a manifest is, as the pane shows it: its path, or the whole address when it has none.
std::string manifestDescription(const Url& url)
{
    return url.path().empty() ? url.absoluteString() : url.path();
}

} // namespace

void TavrikBleCentral::refreshFirmwareAvailability()
{
    if (firmwareLookupLoad_ != FirmwareManifestLoader::invalidHandle) {
        manifestLoader_->cancel(firmwareLookupLoad_);
        firmwareLookupLoad_ = FirmwareManifestLoader::invalidHandle;
    }
    firmwareLookupGeneration_ = Uuid::random(random);

    firmwareCatalog_.reset();
    publish(availableFirmwareAsset_, std::nullopt, &TavrikBleCentral::availableFirmwareAssetChanged);
    publish(firmwareUpdateNotice_, std::nullopt, &TavrikBleCentral::firmwareUpdateNoticeChanged);
    publish(firmwareAvailableVersion_, std::nullopt, &TavrikBleCentral::firmwareAvailableVersionChanged);

    if (isReviewDemo_) {
        setFirmwareDescriptions("Demo data", "App Review demo", "No firmware lookup in demo mode");
        firmwareUpload_->setFirmwareStatus(Phase::idle, "Firmware installation requires a connected Tavrik.", 0, 0);
        return;
    }

    const Url channelURL = firmwareChannelURL();
    const bool local = channelURL.isFileUrl();
    setFirmwareDescriptions(
        local ? "Local builds" : "Published HTTPS", local ? "dev" : "stable", manifestDescription(channelURL));
    firmwareUpload_->setFirmwareStatus(
        Phase::checking, std::string("Checking ") + (local ? "local" : "published") + " firmware...", 0, 0);

    const Uuid generation = firmwareLookupGeneration_;
    firmwareLookupLoad_
        = manifestLoader_->load(channelURL, [this, generation](FirmwareManifestLoader::CatalogResult result) {
              finishFirmwareLookup(generation, std::move(result));
          });
}

void TavrikBleCentral::finishFirmwareLookup(const Uuid& generation, FirmwareManifestLoader::CatalogResult result)
{
    // A superseded lookup writes nothing, whatever its outcome.
    if (generation != firmwareLookupGeneration_) {
        return;
    }
    firmwareLookupLoad_ = FirmwareManifestLoader::invalidHandle;

    std::string failure;
    if (result.catalog) {
        const FirmwareCatalog& catalog = *result.catalog;
        firmwareCatalog_ = catalog;
        setFirmwareDescriptions(catalog.sourceDescription(), catalog.channel, manifestDescription(catalog.manifestURL));
        publish(firmwareAvailableVersion_, std::optional<std::string>(catalog.version),
            &TavrikBleCentral::firmwareAvailableVersionChanged);
        try {
            FirmwareAsset asset = catalog.asset(deviceHardwareTarget_);
            const std::int64_t size = asset.sizeBytes;
            const std::string message = firmwareStatusMessage(asset);
            publish(availableFirmwareAsset_, std::optional<FirmwareAsset>(std::move(asset)),
                &TavrikBleCentral::availableFirmwareAssetChanged);
            firmwareUpload_->setFirmwareStatus(Phase::idle, message, 0, size);
            updateFirmwareNoticeIfNeeded();
            return;
        } catch (const std::exception& error) {
            failure = error.what();
        }
    } else {
        failure = result.error ? result.error->description : std::string("Unknown error");
    }
    // The catalog (when one arrived) and the descriptions stay; only the offer goes.
    publish(availableFirmwareAsset_, std::nullopt, &TavrikBleCentral::availableFirmwareAssetChanged);
    publish(firmwareUpdateNotice_, std::nullopt, &TavrikBleCentral::firmwareUpdateNoticeChanged);
    firmwareUpload_->setFirmwareStatus(Phase::failed, "Firmware lookup failed: " + failure, 0, 0);
}

void TavrikBleCentral::setFirmwareDescriptions(std::string source, std::string channel, std::string manifest)
{
    if (firmwareSourceDescription_ == source && firmwareChannelDescription_ == channel
        && firmwareManifestDescription_ == manifest) {
        return;
    }
    firmwareSourceDescription_ = std::move(source);
    firmwareChannelDescription_ = std::move(channel);
    firmwareManifestDescription_ = std::move(manifest);
    emit firmwareDescriptionsChanged();
}

void TavrikBleCentral::startFirmwareInstall()
{
    if (isReviewDemo_) {
        firmwareUpload_->setFirmwareStatus(Phase::failed, "Firmware installation requires a connected Tavrik.");
        return;
    }
    if (!link().supportsFirmwareTransfer()) {
        firmwareUpload_->setFirmwareStatus(Phase::failed, "Firmware installation is unavailable for the simulator.");
        return;
    }
    if (sessionMode_ || claims_.taken(LinkClaim::tagScan)) {
        // The bar keeps the total it showed, so the refusal does not look like lost progress.
        firmwareUpload_->replaceStatus({ Phase::failed, "Finish the current Bluetooth task before uploading firmware.",
            0, firmwareUpload_->status().totalBytes });
        return;
    }
    if (!availableFirmwareAsset_) {
        firmwareUpload_->replaceStatus({ Phase::failed, "No published firmware is available.", 0, 0 });
        return;
    }
    const FirmwareAsset asset = *availableFirmwareAsset_;
    if (asset.target != deviceHardwareTarget_) {
        firmwareUpload_->replaceStatus({ Phase::failed,
            "Firmware target mismatch: connected device is " + std::string(rawValue(deviceHardwareTarget_))
                + ", selected image is " + std::string(rawValue(asset.target)) + ".",
            0, asset.sizeBytes });
        return;
    }
    if (const std::optional<std::string> incompatible = otaCompatibilityError(asset)) {
        firmwareUpload_->replaceStatus({ Phase::failed, *incompatible, 0, asset.sizeBytes });
        return;
    }
    firmwareUpload_->start(asset);
}

bool TavrikBleCentral::lacksFirmwareChannel() const
{
    return isConnected_ && link().attached() && link().supportsFirmwareTransfer() && !link().supportsFirmware();
}

bool TavrikBleCentral::isFirmwareBusy() const
{
    return firmwareUpload_->isActive() || firmwareUpload_->status().phase == Phase::downloading;
}

void TavrikBleCentral::cancelFirmwareInstall()
{
    firmwareUpload_->cancel(availableFirmwareAsset_);
}

void TavrikBleCentral::dismissFirmwareUpdateNotice()
{
    publish(firmwareUpdateNotice_, std::nullopt, &TavrikBleCentral::firmwareUpdateNoticeChanged);
}

void TavrikBleCentral::setFirmwareChannelURL(const Url& url)
{
    firmwareChannelURL_ = url;
}

const Url& TavrikBleCentral::firmwareChannelURL() const
{
    return firmwareChannelURL_ ? *firmwareChannelURL_ : FirmwareManifestLoader::publishedChannelURL();
}

void TavrikBleCentral::handleFirmwarePayload(const Data& payload)
{
    firmwareUpload_->handleFirmwarePayload(payload, availableFirmwareAsset_ ? availableFirmwareAsset_->sizeBytes : 0);
}

void TavrikBleCentral::selectFirmwareAssetForConnectedTarget()
{
    if (!link().supportsFirmwareTransfer() || isReviewDemo_) {
        publish(availableFirmwareAsset_, std::nullopt, &TavrikBleCentral::availableFirmwareAssetChanged);
        publish(firmwareUpdateNotice_, std::nullopt, &TavrikBleCentral::firmwareUpdateNoticeChanged);
        return;
    }
    if (!firmwareCatalog_) {
        return;
    }
    try {
        FirmwareAsset asset = firmwareCatalog_->asset(deviceHardwareTarget_);
        const std::int64_t size = asset.sizeBytes;
        const std::string message = firmwareStatusMessage(asset);
        publish(availableFirmwareAsset_, std::optional<FirmwareAsset>(std::move(asset)),
            &TavrikBleCentral::availableFirmwareAssetChanged);
        firmwareUpload_->setFirmwareStatus(Phase::idle, message, 0, size);
    } catch (const std::exception& error) {
        publish(availableFirmwareAsset_, std::nullopt, &TavrikBleCentral::availableFirmwareAssetChanged);
        publish(firmwareUpdateNotice_, std::nullopt, &TavrikBleCentral::firmwareUpdateNoticeChanged);
        firmwareUpload_->setFirmwareStatus(Phase::failed, std::string(error.what()), 0, 0);
    }
}

void TavrikBleCentral::updateFirmwareNoticeIfNeeded()
{
    if (!link().supportsFirmwareTransfer() || !availableFirmwareAsset_) {
        publish(firmwareUpdateNotice_, std::nullopt, &TavrikBleCentral::firmwareUpdateNoticeChanged);
        return;
    }
    const FirmwareAsset asset = *availableFirmwareAsset_;
    // No notice for a board that cannot take an image over the air.
    if (lacksFirmwareChannel()) {
        publish(firmwareUpdateNotice_, std::nullopt, &TavrikBleCentral::firmwareUpdateNoticeChanged);
        firmwareUpload_->setFirmwareStatus(Phase::idle, std::string(noOtaSupport));
        return;
    }
    if (legacyFirmwareUpgradeRequired_) {
        publish(firmwareUpdateNotice_, std::nullopt, &TavrikBleCentral::firmwareUpdateNoticeChanged);
        firmwareUpload_->setFirmwareStatus(Phase::idle,
            "Firmware " + asset.version + " is ready to upgrade this legacy Tavrik over Bluetooth.", 0, asset.sizeBytes);
        return;
    }
    if (const std::optional<std::string> incompatible = otaCompatibilityError(asset)) {
        publish(firmwareUpdateNotice_, std::nullopt, &TavrikBleCentral::firmwareUpdateNoticeChanged);
        firmwareUpload_->setFirmwareStatus(Phase::idle, *incompatible, 0, asset.sizeBytes);
        return;
    }
    const std::optional<std::string>& installed = deviceFirmwareVersion_;
    const bool offer = !asset.manifestURL.isFileUrl() && installed && !isDevelopmentFirmware(*installed)
        && compareVersions(asset.version, *installed) > 0;
    if (offer) {
        // Every raise is a new notice, so the window shows it again even for the same release.
        publish(firmwareUpdateNotice_,
            std::optional<FirmwareUpdateNotice>(FirmwareUpdateNotice(asset.version,
                "Firmware " + asset.version + " is available for Tavrik. Current firmware: " + *installed + ".")),
            &TavrikBleCentral::firmwareUpdateNoticeChanged);
    } else {
        publish(firmwareUpdateNotice_, std::nullopt, &TavrikBleCentral::firmwareUpdateNoticeChanged);
    }
    firmwareUpload_->setFirmwareStatus(Phase::idle, firmwareStatusMessage(asset), 0, asset.sizeBytes);
}

std::string TavrikBleCentral::firmwareStatusMessage(const FirmwareAsset& asset) const
{
    if (lacksFirmwareChannel()) {
        return std::string(noOtaSupport);
    }
    if (std::optional<std::string> incompatible = otaCompatibilityError(asset)) {
        return std::move(*incompatible);
    }
    const std::string target(rawValue(asset.target));
    if (!deviceFirmwareVersion_) {
        return "Firmware " + asset.version + " is available from " + asset.sourceDescription + " for " + target
            + ". Connect Tavrik to compare installed firmware.";
    }
    const std::string& installed = *deviceFirmwareVersion_;
    if (isDevelopmentFirmware(installed)) {
        return "Tavrik is running development firmware " + installed + " for " + target
            + ". Unsolicited update prompts are disabled.";
    }
    if (compareVersions(asset.version, installed) > 0) {
        return "Firmware " + asset.version + " is available from " + asset.sourceDescription + " for " + target
            + ". Tavrik is currently on " + installed + ".";
    }
    return "Tavrik is already on firmware " + installed + " for " + target + ".";
}

std::optional<std::string> TavrikBleCentral::otaCompatibilityError(const FirmwareAsset& asset) const
{
    if (asset.minimumTavrikLinkVersion && compareVersions(appVersion_, *asset.minimumTavrikLinkVersion) < 0) {
        return "Firmware " + asset.version + " needs Tavrik Link " + *asset.minimumTavrikLinkVersion
            + " or newer for Bluetooth installation.";
    }
    if (asset.maximumTavrikLinkVersion && compareVersions(appVersion_, *asset.maximumTavrikLinkVersion) > 0) {
        return "Firmware " + asset.version + " is not marked compatible with Tavrik Link newer than "
            + *asset.maximumTavrikLinkVersion + ".";
    }
    return std::nullopt;
}

} // namespace tavrik
