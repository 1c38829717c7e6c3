#include "TavrikLink/Views/FirmwareDetailPresenter.hpp"

#include "TavrikCore/Firmware/FirmwareVersion.hpp"
#include "TavrikLink/Views/ByteCountText.hpp"

#include <utility>

namespace tavrik {
namespace {

using Phase = FirmwareUploadStatus::Phase;

QString qText(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString byteCount(std::int64_t bytes)
{
    return QString::fromStdString(fileStyleByteCount(bytes));
}

} // namespace

FirmwareDetailPresenter::FirmwareDetailPresenter(FirmwareDetailValues values)
    : detail(std::move(values))
{
}

std::vector<FirmwareDetailPresenter::Row> FirmwareDetailPresenter::sourceRows() const
{
    return {
        { QStringLiteral("Source"), qText(detail.sourceDescription) },
        { QStringLiteral("Channel"), qText(detail.channelDescription) },
        { QStringLiteral("Target"), qText(rawValue(detail.deviceHardwareTarget)) },
        { QStringLiteral("Version"),
            detail.availableVersion ? qText(*detail.availableVersion) : QStringLiteral("Not loaded") },
        { QStringLiteral("Manifest"), qText(detail.manifestDescription) },
    };
}

std::vector<FirmwareDetailPresenter::Row> FirmwareDetailPresenter::assetRows() const
{
    if (!detail.asset) {
        return {};
    }
    const FirmwareAsset& asset = *detail.asset;
    std::vector<Row> rows {
        { QStringLiteral("Installed"),
            detail.deviceFirmwareVersion ? qText(*detail.deviceFirmwareVersion) : QStringLiteral("Unknown") },
        { QStringLiteral("File"), qText(asset.fileName) },
        { QStringLiteral("Latest"), qText(asset.version) },
    };
    if (asset.minimumTavrikLinkVersion) {
        rows.push_back({ QStringLiteral("OTA Requires Tavrik Link"), qText(*asset.minimumTavrikLinkVersion) });
    }
    rows.push_back({ QStringLiteral("Size"), byteCount(asset.sizeBytes) });
    rows.push_back({ QStringLiteral("SHA-256"), qText(asset.sha256) });
    return rows;
}

QString FirmwareDetailPresenter::missingAssetText() const
{
    return QStringLiteral("No firmware build is available for ") + qText(rawValue(detail.deviceHardwareTarget))
        + QStringLiteral(". See the status below for the source path and required build action.");
}

FirmwareDetailPresenter::StatusTone FirmwareDetailPresenter::statusTone() const
{
    switch (detail.status.phase) {
    case Phase::completed:
        return StatusTone::success;
    case Phase::failed:
        return StatusTone::failure;
    default:
        return StatusTone::normal;
    }
}

std::optional<QString> FirmwareDetailPresenter::byteCountText() const
{
    if (!progressVisible()) {
        return std::nullopt;
    }
    return byteCount(detail.status.bytesTransferred) + QStringLiteral(" / ") + byteCount(detail.status.totalBytes);
}

QString FirmwareDetailPresenter::installTitle() const
{
    if (detail.installActionTitle) {
        return qText(*detail.installActionTitle);
    }
    const std::optional<std::string> latest = detail.asset ? std::optional(detail.asset->version) : std::nullopt;
    return firmwareUpdateIsAvailable(detail.deviceFirmwareVersion, latest) ? QStringLiteral("Install Update")
                                                                           : QStringLiteral("Reinstall Latest");
}

bool FirmwareDetailPresenter::installEnabled() const
{
    if (!detail.installEnabled || !detail.asset) {
        return false;
    }
    switch (detail.status.phase) {
    case Phase::idle:
    case Phase::completed:
    case Phase::failed:
        return true;
    case Phase::checking:
    case Phase::downloading:
    case Phase::waitingForDevice:
    case Phase::connecting:
    case Phase::preparing:
    case Phase::uploading:
    case Phase::finalizing:
        break;
    }
    return false;
}

bool FirmwareDetailPresenter::cancelVisible() const
{
    switch (detail.status.phase) {
    case Phase::downloading:
    case Phase::preparing:
    case Phase::uploading:
    case Phase::finalizing:
        return true;
    default:
        return false;
    }
}

} // namespace tavrik
