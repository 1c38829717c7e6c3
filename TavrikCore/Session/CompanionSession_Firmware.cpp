#include "TavrikCore/Session/CompanionSession.hpp"

#include "TavrikCore/Firmware/FirmwareCatalogDecoder.hpp"
#include "TavrikCore/Firmware/FirmwareHardwareTarget.hpp"
#include "TavrikCore/Firmware/FirmwareIntegrity.hpp"
#include "TavrikCore/Firmware/FirmwareOtaMessages.hpp"
#include "TavrikCore/Firmware/FirmwareTransfer.hpp"
#include "TavrikCore/Firmware/FirmwareVersion.hpp"
#include "TavrikCore/Model/SyncImportError.hpp"
#include "TavrikCore/Support/Base64.hpp"
#include "TavrikCore/Support/Uuid.hpp"

namespace tavrik {

namespace {

using Phase = FirmwareUploadStatus::Phase;

constexpr std::int64_t manifestDownloadLimit = 1048576;
constexpr std::int64_t imageDownloadLimit = 16777216;

const std::string notReadyMessage = "Connect and finish loading Tavrik first";

} // namespace

void CompanionSession::firmwareAction(std::string_view action, const Json& request, Bytes payload)
{
    if (action == "firmwareCheck" || action == "firmwareInstall") {
        // A second request while an image is on its way or being sent would otherwise cost the user
        // the running installation: the refusal keeps the download and the transfer as they are.
        if (busy()) {
            throw FirmwareRefusalKeepingState(notReadyMessage);
        }
        requireDevice();
    }

    if (action == "firmwareCheck") {
        if (!capabilities.secure || capabilities.simulator) {
            throw SyncImportError("Firmware is unavailable for simulator connections");
        }
        std::string appVersion = json::optionalString(request, "appVersion").value_or("");
        firmwareAsset.reset();
        clientVersion = std::move(appVersion);
        transfer().setFirmwareStatus(Phase::checking, "Checking published firmware\u2026");
        requestDownload(FirmwareCatalogDecoder::publishedChannelURL(), "channel");
    } else if (action == "firmwareInstall") {
        if (!capabilities.secure || capabilities.simulator || !firmwareAsset) {
            throw SyncImportError("Check published firmware first");
        }
        const FirmwareAsset asset = *firmwareAsset;
        checkFirmwareCompatibility(asset);
        transfer().setFirmwareStatus(
            Phase::downloading, "Downloading firmware " + asset.version + "\u2026", 0, asset.sizeBytes);
        requestDownload(asset.url, "binary");
    } else if (action == "firmwareCancel") {
        downloadId.reset();
        downloadKind.reset();
        transfer().cancel(firmwareAsset);
    } else if (action == "downloadResult") {
        // The dispatch has matched the result already; a mismatch here must not cost the real download.
        const Json* requestId = json::member(request, "requestId");
        if (!connected || !downloadId || !requestId || !requestId->is_string()
            || requestId->get<std::string>() != *downloadId
            || readUInt64(json::member(request, "generation")) != generation) {
            throw FirmwareRefusalKeepingState("Stale download result");
        }
        const std::optional<std::string> kind = downloadKind;
        downloadId.reset();
        downloadKind.reset();
        // Only a text reports a failed download; any other value leaves the payload to speak for itself.
        if (const Json* failure = json::member(request, "error"); failure && failure->is_string()) {
            transfer().setFirmwareStatus(Phase::failed, failure->get<std::string>());
            return;
        }
        Data bytes(payload.begin(), payload.end());
        if (kind == "channel") {
            channelManifest = std::move(bytes);
            const Url& channelURL = FirmwareCatalogDecoder::publishedChannelURL();
            if (const std::optional<Url> releaseURL = FirmwareCatalogDecoder::releaseURL(*channelManifest, channelURL)) {
                requestDownload(*releaseURL, "release");
            } else {
                applyFirmwareCatalog(std::nullopt);
            }
        } else if (kind == "release") {
            applyFirmwareCatalog(std::move(bytes));
        } else if (kind == "binary") {
            const std::optional<FirmwareHardwareTarget> target = device && device->hardwareTarget
                ? firmwareHardwareTargetFromRawValue(*device->hardwareTarget)
                : std::nullopt;
            if (!firmwareAsset || !target) {
                throw SyncImportError("Unknown firmware hardware target");
            }
            const FirmwareAsset asset = *firmwareAsset;
            checkFirmwareCompatibility(asset);
            FirmwareIntegrity::validate(bytes, asset, *target);
            transfer().prepare(asset, std::move(bytes));
            // The engine refuses some images before "firmware_begin" (4 GiB or more) and only says so in
            // its status; the host must not see that as a started installation.
            if (!transfer().isActive()) {
                throw SyncImportError(transfer().status().message);
            }
            lastProgress = uptimeNow();
        } else {
            throw SyncImportError("Unknown download operation");
        }
    } else {
        throw SyncImportError("Unknown action: " + std::string(action));
    }
}

void CompanionSession::requestDownload(const Url& url, std::string_view kind)
{
    if (url.scheme() != "https") {
        throw SyncImportError("Android firmware downloads require HTTPS");
    }
    downloadId = Uuid::random(random).text();
    downloadKind = std::string(kind);
    emitEffect(Json {
        { "type", "download" },
        { "url", url.absoluteString() },
        { "requestId", *downloadId },
        { "generation", generation },
        { "limit", kind == "binary" ? imageDownloadLimit : manifestDownloadLimit },
    });
}

void CompanionSession::checkFirmwareCompatibility(const FirmwareAsset& asset) const
{
    if (clientVersion.empty()) {
        throw SyncImportError("Companion version is unavailable");
    }
    if (asset.minimumTavrikLinkVersion && compareVersions(clientVersion, *asset.minimumTavrikLinkVersion) < 0) {
        throw SyncImportError("This firmware requires Tavrik Link " + *asset.minimumTavrikLinkVersion + " or newer");
    }
    if (asset.maximumTavrikLinkVersion && compareVersions(clientVersion, *asset.maximumTavrikLinkVersion) > 0) {
        throw SyncImportError("This firmware supports Tavrik Link through " + *asset.maximumTavrikLinkVersion);
    }
    if (!device || !device->hardwareTarget || *device->hardwareTarget != rawValue(asset.target)) {
        throw SyncImportError("Firmware hardware target mismatch");
    }
}

void CompanionSession::applyFirmwareCatalog(const std::optional<Data>& releaseData)
{
    const std::optional<FirmwareHardwareTarget> target
        = device && device->hardwareTarget ? firmwareHardwareTargetFromRawValue(*device->hardwareTarget) : std::nullopt;
    if (!channelManifest || !target) {
        throw SyncImportError("Connected hardware target is unknown");
    }
    const FirmwareCatalog catalog
        = FirmwareCatalogDecoder::decode(*channelManifest, FirmwareCatalogDecoder::publishedChannelURL(), releaseData);
    FirmwareAsset asset = catalog.asset(*target);
    checkFirmwareCompatibility(asset);
    const std::string message = "Firmware " + asset.version + " is available for " + std::string(displayName(*target));
    const std::int64_t sizeBytes = asset.sizeBytes;
    firmwareAsset = std::move(asset);
    transfer().setFirmwareStatus(Phase::idle, message, std::nullopt, sizeBytes);
}

std::unique_ptr<FirmwareTransfer> CompanionSession::makeFirmwareTransfer()
{
    // The transfer belongs to the session and dies with it, so its operations may hold `this`.
    FirmwareTransfer::Transport link {
        .begin =
            [this](const FirmwareBeginEnvelope& envelope) {
                try {
                    send(envelope);
                    return true;
                } catch (const std::exception&) {
                    return false;
                }
            },
        .commit =
            [this] {
                try {
                    send(FirmwareCommitEnvelope {});
                    return true;
                } catch (const std::exception&) {
                    return false;
                }
            },
        .abort =
            [this] {
                emitEffect(Json { { "type", "clearFirmwareWrites" } });
                try {
                    send(FirmwareAbortEnvelope {});
                } catch (const std::exception&) {
                }
            },
        .maximumWriteLength = [this]() -> std::optional<int> {
            if (!transport) {
                return std::nullopt;
            }
            return transport->maximumWriteValueLength(BleWriteType::withoutResponse);
        },
        .write =
            [this](const Data& chunk) {
                if (!connected) {
                    return false;
                }
                emitEffect(Json { { "type", "firmwareWrite" }, { "payload", base64Encoded(chunk) } });
                return true;
            },
        .connect = [] {},
        .isReady = [this] { return connected; },
    };
    return std::make_unique<FirmwareTransfer>(
        std::move(link), [this](const std::string& line) { appendLog(line); }, [](const std::optional<std::string>&) {});
}

} // namespace tavrik
