#include "TavrikLink/Controller/TavrikBleCentral.hpp"

#include "TavrikCore/Firmware/FirmwareCatalogDecoder.hpp"
#include "TavrikCore/Firmware/FirmwareOtaMessages.hpp"

#include <cstdio>

namespace tavrik {

namespace {

std::string applicationVersion()
{
    const std::string configured = TAVRIK_APP_VERSION_TEXT;
    return configured.empty() ? std::string("0.0.0") : configured;
}

} // namespace

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
    appVersion_ = applicationVersion();
    virtualTavrikClient_ = Uuid::random(random).text();
    firmwareLookupGeneration_ = Uuid::random(random);

    localLinkDirectory_ = std::move(environment.localLinkDirectory);
    automaticallyPollLocalLink_ = environment.automaticallyPollLocalLink;

    // Lines the channel logs before the log exists are dropped; the relay is pointed at it below.
    auto relay = std::make_shared<std::function<void(const std::string&)>>();
    dataService_ = std::make_unique<BleDataChannel>(
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
    dataService_->onMessage
        = [this](std::uint16_t messageId, const Data& payload) { handleDataEnvelope(messageId, payload); };
    dataService_->onMessageLog = [this](const BleDataMessageLogDetail& detail) { appendBleDataLog(detail); };

    central.setDelegate(this);
    // An adapter that was already missing or off before the controller existed reports no change.
    bluetoothUnavailableReason_ = central.unavailableReason();

    if (automaticallyPollLocalLink_) {
        startVirtualTavrikPolling();
    }
    recordUserInteraction();
}

TavrikBleCentral::~TavrikBleCentral()
{
    *alive = false;
    central.setDelegate(nullptr);
    if (targetPeripheral_) {
        targetPeripheral_->setDelegate(nullptr);
    }
    for (Scheduler::Handle* task : { &loadTimeoutTask_, &autosaveTask_, &idleDisconnectTask_, &virtualTavrikPollTask_,
             &tagScanKeepaliveTask_, &wifiRequestTimeoutTask_, &connectRetryTask_ }) {
        cancelTask(*task);
    }
    for (auto& [key, entry] : debouncedPersists_) {
        scheduler.cancel(entry.task);
    }
    // The channel's callbacks point here; the upload service talks through the channel, and both
    // services download through the loader.
    firmwareUpload_.reset();
    usbOnboarding_.reset();
    manifestLoader_.reset();
    dataService_->onMessage = nullptr;
    dataService_->onMessageLog = nullptr;
}

std::unique_ptr<FirmwareUploadService> TavrikBleCentral::makeFirmwareUploadService()
{
    FirmwareTransfer::Transport transport;
    transport.begin = [this](const FirmwareBeginEnvelope& envelope) { return dataService_->sendEncodable(envelope); };
    transport.commit = [this] { return dataService_->sendEncodable(FirmwareCommitEnvelope {}); };
    transport.abort = [this] { dataService_->sendEncodable(FirmwareAbortEnvelope {}); };
    transport.maximumWriteLength = [this]() -> std::optional<int> {
        if (!targetPeripheral_ || !firmwareCharacteristic_) {
            return std::nullopt;
        }
        return targetPeripheral_->maximumWriteValueLength(BleWriteType::withoutResponse);
    };
    transport.write = [this](const Data& chunk) {
        if (!targetPeripheral_ || !firmwareCharacteristic_ || !targetPeripheral_->canSendWriteWithoutResponse()) {
            return false;
        }
        targetPeripheral_->writeValue(chunk, *firmwareCharacteristic_, BleWriteType::withoutResponse);
        return true;
    };
    transport.connect = [this] {
        resetConnectionState();
        startScanningIfPossible();
    };
    transport.isReady = [this] { return isConnected_ && dataCharacteristic_ && firmwareCharacteristic_; };

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
        FirmwareTransfer::EnvironmentReader {}, this);
}

void TavrikBleCentral::setRoutineSummaries(std::vector<RoutineSummary> value)
{
    publish(routineSummaries_, std::move(value), &TavrikBleCentral::routineSummariesChanged);
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
    return sessionMode_.has_value() || tagScanSessionActive_ || routineControlSessionActive_
        || firmwareUpload_->isActive();
}

void TavrikBleCentral::reportConnectionProgress()
{
    if (sessionMode_) {
        setSyncStage(SyncStage::connecting());
    } else if (firmwareUpload_->isActive()) {
        firmwareUpload_->setFirmwareStatus(FirmwareUploadStatus::Phase::connecting, "Connecting to Tavrik...");
    } else if (routineControlSessionActive_) {
        setRoutineError(std::nullopt);
    } else {
        setTagScanState(TagScanState::connecting());
    }
}

void TavrikBleCentral::renewBaseline()
{
    baselineSnapshot_ = currentSnapshot();
    // The field keeps its (cancelled) handle: nothing reads it but the next cancel.
    scheduler.cancel(autosaveTask_);
    // The link may have just become free for a reload that a refused change asked for.
    scheduleRefusedChangeReload();
}

void TavrikBleCentral::cancelTask(Scheduler::Handle& task)
{
    if (task != Scheduler::invalidHandle) {
        scheduler.cancel(task);
        task = Scheduler::invalidHandle;
    }
}

} // namespace tavrik
