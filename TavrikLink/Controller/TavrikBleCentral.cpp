#include "TavrikLink/Controller/TavrikBleCentral.hpp"

#include "TavrikCore/Firmware/FirmwareCatalogDecoder.hpp"
#include "TavrikCore/Firmware/FirmwareOtaMessages.hpp"
#include "TavrikLink/Support/AppVersion.hpp"

#include <cstdio>

namespace tavrik {

TavrikBleCentral::TavrikBleCentral(Environment environment, QObject* parent)
    : QObject(parent)
    , central(environment.central)
    , scheduler(environment.scheduler)
    , clock(environment.clock)
    , random(environment.random)
    , defaults(environment.defaults)
    , firmwareDownload(std::move(environment.firmwareDownload))
{
    muteNonAlarmSounds_ = defaults.boolValue(muteNonAlarmSoundsDefaultsKey).value_or(false);
    firmwareManifestDescription_ = FirmwareCatalogDecoder::publishedChannelURL().absoluteString();
    appVersion_ = tavrikAppVersion();
    localLink_ = std::make_unique<LocalLinkTransport>(std::move(environment.localLinkDirectory), scheduler, clock, random,
        LocalLinkTransport::Callbacks {
            [this](const std::string& line) { appendLog(line, true); },
            [this](std::uint16_t messageId, Data payload) { handleDataEnvelope(messageId, std::move(payload)); },
            [this] { connectVirtualTavrikIfNeeded(); },
            [this] { handleDisconnect(std::nullopt); },
            [this] { emit virtualTavrikConnectedChanged(); },
        });
    firmwareLookupGeneration_ = Uuid::random(random);
    automaticallyPollLocalLink_ = environment.automaticallyPollLocalLink;

    // Lines the channel logs before the log exists are dropped; the relay is pointed at it below.
    auto relay = std::make_shared<std::function<void(const std::string&)>>();
    bluetoothLink_ = std::make_unique<BluetoothDeviceLink>(
        [relay](const std::string& line) {
            if (*relay) {
                (*relay)(line);
            }
        },
        random);

    manifestLoader_ = std::make_unique<FirmwareManifestLoader>(scheduler);
    usbOnboarding_ = std::make_unique<UsbOnboardingService>([this]() { return availableFirmwareAsset_; },
        [this](const Url& url, std::int64_t sizeBytes, const std::string& sha256,
            std::function<void(UsbOnboardingService::DownloadResult)> completion) -> UsbCancel {
            FirmwareManifestLoader* loader = manifestLoader_.get();
            const auto handle = loader->validatedData(url, sizeBytes, sha256,
                [completion = std::move(completion)](FirmwareManifestLoader::DataResult result) {
                    completion({ std::move(result.data), result.error ? result.error->description : std::string() });
                });
            return [loader, handle] { loader->cancel(handle); };
        },
        [this](const std::string& line) { appendLog(line, true); },
        environment.usbEnvironment ? std::move(*environment.usbEnvironment)
                                   : UsbOnboardingEnvironment::live(scheduler, clock));
    connect(usbOnboarding_.get(), &UsbOnboardingService::changed, this, &TavrikBleCentral::usbOnboardingChanged);

    firmwareUpload_ = makeFirmwareUploadService();
    connect(firmwareUpload_.get(), &FirmwareUploadService::statusChanged, this, &TavrikBleCentral::firmwareUploadChanged);

    *relay = [this](const std::string& line) { appendLog(line, true); };
    bluetoothLink_->channel().onMessage
        = [this](std::uint16_t messageId, const Data& payload) { handleDataEnvelope(messageId, payload); };
    bluetoothLink_->channel().onMessageLog = [this](const BleDataMessageLogDetail& detail) { appendBleDataLog(detail); };

    central.setDelegate(this);
    // An adapter that was already missing or off before the controller existed reports no change.
    bluetoothUnavailableReason_ = central.unavailableReason();

    if (automaticallyPollLocalLink_) {
        localLink_->startPolling();
    }
    recordUserInteraction();
}

TavrikBleCentral::~TavrikBleCentral()
{
    central.setDelegate(nullptr);
    if (targetPeripheral_) {
        targetPeripheral_->setDelegate(nullptr);
    }
    // Callers waiting for a quit under way are answered: nothing is left to wait for.
    if (terminationCompletions_) {
        finishAppTermination(*terminationCompletions_);
    }
    // The channel's callbacks point here; the upload service talks through the channel, and both
    // services download through the loader.
    firmwareUpload_.reset();
    usbOnboarding_.reset();
    manifestLoader_.reset();
    localLink_.reset();
    bluetoothLink_->channel().onMessage = nullptr;
    bluetoothLink_->channel().onMessageLog = nullptr;
}

std::unique_ptr<FirmwareUploadService> TavrikBleCentral::makeFirmwareUploadService()
{
    FirmwareTransfer::Transport transport;
    // Images go only over Bluetooth, whose firmware characteristic carries them.
    transport.begin
        = [this](const FirmwareBeginEnvelope& envelope) { return bluetoothLink_->channel().sendEncodable(envelope); };
    transport.commit = [this] { return bluetoothLink_->channel().sendEncodable(FirmwareCommitEnvelope {}); };
    transport.abort = [this] { bluetoothLink_->channel().sendEncodable(FirmwareAbortEnvelope {}); };
    transport.maximumWriteLength = [this]() -> std::optional<int> {
        if (!targetPeripheral_ || !bluetoothLink_->supportsFirmware()) {
            return std::nullopt;
        }
        return targetPeripheral_->maximumWriteValueLength(BleWriteType::withoutResponse);
    };
    transport.write = [this](const Data& chunk) {
        const std::optional<BleCharacteristic>& firmware = bluetoothLink_->firmwareCharacteristic();
        if (!targetPeripheral_ || !firmware || !targetPeripheral_->canSendWriteWithoutResponse()) {
            return false;
        }
        targetPeripheral_->writeValue(chunk, *firmware, BleWriteType::withoutResponse);
        return true;
    };
    transport.connect = [this] {
        resetConnectionState();
        startScanningIfPossible();
    };
    transport.isReady
        = [this] { return isConnected_ && bluetoothLink_->attached() && bluetoothLink_->supportsFirmware(); };

    FirmwareUploadService::Download download = firmwareDownload;
    if (!download) {
        download = manifestLoader_->downloadOperation();
    }
    return std::make_unique<FirmwareUploadService>(
        std::move(transport), std::move(download), [this](const std::string& line) { appendLog(line, true); },
        [this](const std::optional<std::string>& version) {
            if (version) {
                publish(deviceFirmwareVersion_, version, &TavrikBleCentral::deviceFirmwareVersionChanged);
            }
            updateFirmwareNoticeIfNeeded();
        },
        FirmwareTransfer::EnvironmentReader {}, &scheduler, this);
}

void TavrikBleCentral::beforeDataChange(const void* field)
{
    if (field == &schedules_ || field == &tags_ || field == &routineSummaries_ || field == &routineDetails_
        || field == &muteNonAlarmSounds_ || field == &killSwitchSupported_ || field == &killSwitchUid_) {
        baselineSnapshot_.beforeDataChange();
    }
    if (field == &routineDetails_) {
        routineReferencesCheckedWith_.reset();
    }
}

void TavrikBleCentral::setRoutineSummaries(std::vector<RoutineSummary> value)
{
    publish(routineSummaries_, std::move(value), &TavrikBleCentral::routineSummariesChanged);
    refreshActiveRoutineContextIfNeeded(
        activeRoutineContext_ ? std::optional<std::uint32_t>(activeRoutineContext_->routineId) : std::nullopt);
}

void TavrikBleCentral::replaceRoutineSummary(std::size_t index, RoutineSummary summary)
{
    // In place: copying every summary for one routine's change is what a key press must not cost.
    if (routineSummaries_[index] == summary) {
        return;
    }
    baselineSnapshot_.beforeDataChange();
    routineSummaries_[index] = std::move(summary);
    emit routineSummariesChanged();
    refreshActiveRoutineContextIfNeeded(
        activeRoutineContext_ ? std::optional<std::uint32_t>(activeRoutineContext_->routineId) : std::nullopt);
}

void TavrikBleCentral::clearSessionFields()
{
    sessionMode_.reset();
    setSyncMode(std::nullopt);
    syncCode_.reset();
}

std::string TavrikBleCentral::drawSyncCode()
{
    char code[8];
    std::snprintf(code, sizeof code, "%04u", static_cast<unsigned>(random.uniform(0, 9999)));
    return code;
}

bool TavrikBleCentral::isConnectionWanted() const
{
    return claims_.any();
}

void TavrikBleCentral::reportConnectionProgress()
{
    if (sessionMode_) {
        setSyncStage(SyncStage::connecting());
    } else if (firmwareUpload_->isActive()) {
        firmwareUpload_->setFirmwareStatus(FirmwareUploadStatus::Phase::connecting, "Connecting to Tavrik...");
    } else if (claims_.taken(LinkClaim::commandConnection)) {
        setRoutineError(std::nullopt);
    } else {
        setTagScanState(TagScanState::connecting());
    }
}

void TavrikBleCentral::renewBaseline()
{
    // Runs after every delivered edit, so on each key press in a title with a device attached: the
    // baseline follows the data rather than copying every routine each time.
    baselineSnapshot_.followCurrent();
    // The link may have just become free for a reload that a refused change asked for.
    scheduleRefusedChangeReload();
}

} // namespace tavrik
