#include "TavrikCore/Firmware/FirmwareTransfer.hpp"

#include "TavrikCore/Firmware/FirmwareHardwareTarget.hpp"
#include "TavrikCore/Support/Json.hpp"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <span>
#include <utility>

namespace tavrik {

namespace {

using Phase = FirmwareUploadStatus::Phase;

const std::string windowVariable = "TAVRIK_OTA_WINDOW_SIZE";
const std::string uploadingMessage = "Uploading firmware to Tavrik...";
const std::string beginUnansweredMessage = "Tavrik did not answer the firmware upload request. Reconnect and retry.";
const std::string stalledMessage = "Firmware transfer timed out. Reconnect and retry.";

// Calls out of the engine and gives `fallback` when the call throws: the engine never throws, and a
// transport that fails by throwing is taken as one that refused (nothing sent, nothing written).
template <class Result, class Action>
Result contained(Result fallback, Action&& action) noexcept
{
    try {
        return action();
    } catch (...) {
        return fallback;
    }
}

template <class Action>
void contained(Action&& action) noexcept
{
    try {
        action();
    } catch (...) {
    }
}

std::int64_t processWindow()
{
    static const std::int64_t window = [] {
        const char* value = std::getenv(windowVariable.c_str());
        return firmwareWindowSizeFromEnvironment(value == nullptr ? std::nullopt : std::optional<std::string>(value));
    }();
    return window;
}

} // namespace

std::int64_t firmwareUploadWindowSize(std::int64_t configuredWindow, std::optional<std::int64_t> acknowledgementInterval)
{
    if (acknowledgementInterval && *acknowledgementInterval >= 1) {
        return *acknowledgementInterval;
    }
    return std::max<std::int64_t>(configuredWindow, 1);
}

std::int64_t firmwareWindowSizeFromEnvironment(const std::optional<std::string>& value)
{
    if (!value) {
        return defaultFirmwareUploadWindowSize;
    }
    std::string_view text = *value;
    std::string_view digits = text;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        digits.remove_prefix(1);
    }
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return defaultFirmwareUploadWindowSize;
    }
    // from_chars takes a minus sign but not a plus sign.
    if (text.front() == '+') {
        text.remove_prefix(1);
    }
    std::int64_t number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc {} || end != text.data() + text.size()) {
        return defaultFirmwareUploadWindowSize;
    }
    return std::max(number, minimumConfiguredFirmwareUploadWindowSize);
}

FirmwareTransfer::FirmwareTransfer(
    Transport transport, LogSink log, InstallCallback didInstall, EnvironmentReader environment, Scheduler* scheduler)
    : currentStatus { .phase = Phase::idle,
        .message = "Checking for firmware updates.",
        .bytesTransferred = 0,
        .totalBytes = 0 }
    , transport(std::move(transport))
    , log(std::move(log))
    , didInstall(std::move(didInstall))
    , environment(std::move(environment))
{
    if (scheduler != nullptr) {
        answerWait.emplace(*scheduler);
    }
}

const FirmwareTransfer::StatusObserver& FirmwareTransfer::onStatus() const
{
    static const StatusObserver none;
    return statusObserver ? *statusObserver : none;
}

void FirmwareTransfer::setOnStatus(StatusObserver observer)
{
    statusObserver = observer ? std::make_shared<const StatusObserver>(std::move(observer)) : nullptr;
}

void FirmwareTransfer::setStatus(FirmwareUploadStatus status)
{
    replaceStatus(std::move(status));
}

std::int64_t FirmwareTransfer::totalBytes() const
{
    return plan ? static_cast<std::int64_t>(plan->data.size()) : 0;
}

void FirmwareTransfer::replaceStatus(FirmwareUploadStatus status)
{
    currentStatus = std::move(status);
    notify();
}

void FirmwareTransfer::setFirmwareStatus(std::optional<Phase> phase, std::optional<std::string> message,
    std::optional<std::int64_t> bytesTransferred, std::optional<std::int64_t> totalBytes)
{
    if (phase) {
        currentStatus.phase = *phase;
    }
    if (message) {
        currentStatus.message = std::move(*message);
    }
    if (bytesTransferred) {
        currentStatus.bytesTransferred = *bytesTransferred;
    }
    if (totalBytes) {
        currentStatus.totalBytes = *totalBytes;
    }
    notify();
}

void FirmwareTransfer::notify()
{
    // Held for the call, so an observer that replaces itself does not destroy the running function.
    if (const auto observer = statusObserver) {
        contained([&] { (*observer)(currentStatus); });
    }
}

void FirmwareTransfer::writeLog(const std::string& line)
{
    if (log) {
        contained([&] { log(line); });
    }
}

void FirmwareTransfer::clear()
{
    active = false;
    plan.reset();
    commitSent = false;
    ++planGeneration;
    if (answerWait) {
        answerWait->cancel();
    }
}

void FirmwareTransfer::awaitAnswer(std::chrono::milliseconds bound, std::string message)
{
    if (!answerWait) {
        return;
    }
    const std::uint64_t generation = planGeneration;
    answerWait->schedule(bound, [this, generation, message = std::move(message)] {
        if (generation != planGeneration || !active) {
            return;
        }
        // Kept here: whatever the abort sets off may replace this very task, and its captures with it.
        const std::string failure = message; // NOLINT(performance-unnecessary-copy-initialization)
        // A board that comes back later must not sit waiting for chunks that will never come.
        if (transport.abort) {
            contained([&] { transport.abort(); });
        }
        if (generation == planGeneration) {
            endWithFailure(failure);
        }
    });
}

void FirmwareTransfer::endWithFailure(const std::string& message)
{
    const std::uint64_t generation = planGeneration;
    setFirmwareStatus(Phase::failed, message);
    if (generation == planGeneration) {
        clear();
    }
}

std::int64_t FirmwareTransfer::configuredWindow()
{
    if (!environment) {
        return processWindow();
    }
    if (!environmentWindow) {
        environmentWindow = firmwareWindowSizeFromEnvironment(
            contained(std::optional<std::string>(), [&] { return environment(windowVariable); }));
    }
    return *environmentWindow;
}

void FirmwareTransfer::prepare(const FirmwareAsset& asset, Data data)
{
    clear();
    const auto size = static_cast<std::int64_t>(data.size());
    if (!firmwareImageFitsChunkFormat(size)) {
        // Chunk offsets are 32-bit: such an image could never arrive whole, so the device is not asked.
        setFirmwareStatus(Phase::failed, "Firmware image is too large for an over-the-air update.", 0, size);
        return;
    }
    const std::int64_t window = configuredWindow();
    active = true;
    plan = Plan { .asset = asset, .data = std::move(data), .uploadWindowSize = window };
    const std::uint64_t generation = planGeneration;
    setFirmwareStatus(
        Phase::waitingForDevice, "Waiting for Tavrik. Push the main button twice to enable Bluetooth.", 0, size);
    if (generation != planGeneration) {
        return;
    }
    const bool ready = transport.isReady && contained(false, [&] { return transport.isReady(); });
    if (generation != planGeneration) {
        return;
    }
    if (ready) {
        sendFirmwareBegin();
    } else if (transport.connect) {
        contained([&] { transport.connect(); });
    }
}

void FirmwareTransfer::sendFirmwareBegin()
{
    if (!plan) {
        endWithFailure("Published firmware metadata is unavailable.");
        return;
    }
    const FirmwareBeginEnvelope envelope(plan->asset.version, plan->asset.fileName,
        static_cast<std::int64_t>(plan->data.size()), std::string(rawValue(plan->asset.target)));
    const std::uint64_t generation = planGeneration;
    const std::uint64_t messagesBefore = statusMessages;
    // Armed first: an answer that comes from inside the send replaces this wait with the next one.
    awaitAnswer(firmwareBeginAnswerTimeout, beginUnansweredMessage);
    const bool accepted = transport.begin && contained(false, [&] { return transport.begin(envelope); });
    if (generation != planGeneration) {
        return;
    }
    if (!accepted) {
        endWithFailure("Failed to start firmware upload.");
        return;
    }
    // A device that answered while the begin was going out has already moved the status on.
    if (messagesBefore == statusMessages) {
        setFirmwareStatus(Phase::preparing, "Preparing Tavrik for firmware upload...");
    }
}

void FirmwareTransfer::sendFirmwareWindowIfNeeded()
{
    // A call from inside a write or a status callback is folded into the running loop, which takes
    // one more pass, so no chunk is built twice and the stack does not grow with the image.
    if (sendingWindow) {
        windowRequestedAgain = true;
        return;
    }
    sendingWindow = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset { sendingWindow };
    do {
        windowRequestedAgain = false;
        sendWindow();
    } while (windowRequestedAgain);
}

void FirmwareTransfer::sendWindow()
{
    if (!active || !plan) {
        return;
    }
    const std::uint64_t generation = planGeneration;
    const std::optional<int> limit = transport.maximumWriteLength
        ? contained(std::optional<int>(), [&] { return transport.maximumWriteLength(); })
        : std::nullopt;
    if (generation != planGeneration || !limit) {
        return;
    }
    if (*limit <= firmwareChunkHeaderLength) {
        endWithFailure("Firmware write length is too small");
        return;
    }
    const std::int64_t capacity = *limit - firmwareChunkHeaderLength;
    const std::int64_t acknowledged = plan->acknowledgedChunkIndex;
    const auto size = static_cast<std::int64_t>(plan->data.size());
    while (plan->nextChunkIndex - acknowledged < plan->uploadWindowSize && plan->nextOffset < size) {
        const std::int64_t index = plan->nextChunkIndex;
        const std::int64_t offset = plan->nextOffset;
        const std::int64_t end = std::min(size, offset + capacity);
        buildFirmwareChunkPayload(static_cast<std::uint32_t>(index), static_cast<std::uint32_t>(offset),
            std::span(plan->data).subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(end - offset)),
            chunkBuffer);
        // Counted before the write, so a device that acknowledges from inside the write is within range.
        plan->nextOffset = end;
        plan->nextChunkIndex = index + 1;
        const bool written = transport.write && contained(false, [&] { return transport.write(chunkBuffer); });
        if (generation != planGeneration) {
            return;
        }
        if (!written) {
            // Nothing went out: the same chunk is built and written again on the next call.
            if (plan->nextChunkIndex == index + 1 && plan->acknowledgedChunkIndex <= index) {
                plan->nextOffset = offset;
                plan->nextChunkIndex = index;
            }
            return;
        }
        currentStatus.phase = Phase::uploading;
        if (currentStatus.message != uploadingMessage) {
            currentStatus.message = uploadingMessage;
        }
        notify();
        if (generation != planGeneration) {
            return;
        }
    }
    if (plan->nextOffset >= size && acknowledged >= plan->nextChunkIndex) {
        sendFirmwareCommit();
    }
}

void FirmwareTransfer::sendFirmwareCommit()
{
    if (!active || commitSent) {
        return;
    }
    commitSent = true;
    const std::uint64_t generation = planGeneration;
    awaitAnswer(firmwareCommitAnswerTimeout, stalledMessage);
    const bool accepted = transport.commit && contained(false, [&] { return transport.commit(); });
    if (generation != planGeneration) {
        return;
    }
    if (!accepted) {
        endWithFailure("Failed to finalize firmware upload.");
        return;
    }
    setFirmwareStatus(Phase::finalizing, "Finalizing firmware update...");
}

void FirmwareTransfer::handleFirmwarePayload(const Data& payload, std::int64_t availableSize)
{
    FirmwareStatusEnvelope envelope;
    try {
        envelope = firmwareStatusEnvelopeFromData(payload);
    } catch (const std::exception&) {
        endWithFailure("Invalid firmware status payload.");
        return;
    }
    const std::string& state = envelope.state;
    if ((state == "ready" || state == "receiving" || state == "complete") && !active) {
        return;
    }
    ++statusMessages;
    if (envelope.nextChunkIndex && plan
        && (*envelope.nextChunkIndex < plan->acknowledgedChunkIndex || *envelope.nextChunkIndex > plan->nextChunkIndex)) {
        endWithFailure("Tavrik reported an invalid firmware acknowledgement");
        return;
    }
    const std::uint64_t generation = planGeneration;
    const std::int64_t total = envelope.expectedBytes ? *envelope.expectedBytes
        : plan                                        ? static_cast<std::int64_t>(plan->data.size())
                                                      : availableSize;
    setFirmwareStatus(std::nullopt, std::nullopt, envelope.receivedBytes.value_or(currentStatus.bytesTransferred), total);
    if (generation != planGeneration) {
        return;
    }

    if (state == "ready") {
        if (plan) {
            plan->acknowledgedChunkIndex = envelope.nextChunkIndex.value_or(0);
            plan->uploadWindowSize = firmwareUploadWindowSize(plan->uploadWindowSize, envelope.ackIntervalChunks);
            writeLog("[firmware] Upload window set to " + std::to_string(plan->uploadWindowSize) + " chunks");
        }
        setFirmwareStatus(Phase::preparing, envelope.message.value_or("Tavrik is ready for the firmware upload."));
        if (generation == planGeneration) {
            sendFirmwareWindowIfNeeded();
        }
    } else if (state == "receiving") {
        if (plan && envelope.nextChunkIndex) {
            plan->acknowledgedChunkIndex = *envelope.nextChunkIndex;
        }
        setFirmwareStatus(Phase::uploading, envelope.message.value_or(uploadingMessage));
        if (generation == planGeneration) {
            sendFirmwareWindowIfNeeded();
        }
    } else if (state == "complete") {
        // Taken before anyone hears of the completion: an observer may already start the next transfer,
        // and the device has installed this one's image all the same.
        std::optional<std::string> version = envelope.version;
        if (!version && plan) {
            version = plan->asset.version;
        }
        setFirmwareStatus(Phase::completed, envelope.message.value_or("Firmware update complete. Tavrik will reboot."));
        if (envelope.elapsedMs) {
            writeLog("[firmware] OTA completed in " + std::to_string(*envelope.elapsedMs) + " ms across "
                + std::to_string(envelope.chunksReceived.value_or(0)) + " chunks (ack every "
                + std::to_string(envelope.ackIntervalChunks.value_or(0)) + ")");
        }
        if (didInstall) {
            contained([&] { didInstall(version); });
        }
        if (generation == planGeneration) {
            clear();
        }
    } else if (state == "error") {
        setFirmwareStatus(Phase::failed, envelope.message.value_or("Firmware upload failed."));
        if (generation == planGeneration) {
            clear();
        }
    } else {
        writeLog("[ble:data] unhandled firmware state " + state);
    }
    // Every answer shows the device is still there; the next one is due within the bound of what
    // the transfer now waits for.
    if (generation == planGeneration && active) {
        awaitAnswer(commitSent ? firmwareCommitAnswerTimeout : firmwareAcknowledgementTimeout, stalledMessage);
    }
}

void FirmwareTransfer::cancel(const std::optional<FirmwareAsset>& availableAsset)
{
    if (active && transport.abort) {
        contained([&] { transport.abort(); });
    }
    clear();
    replaceStatus(FirmwareUploadStatus {
        .phase = Phase::idle,
        .message = availableAsset ? "Firmware upload canceled." : "Checking for firmware updates.",
        .bytesTransferred = 0,
        .totalBytes = availableAsset ? availableAsset->sizeBytes : 0,
    });
}

void FirmwareTransfer::resetFirmwareSession()
{
    clear();
}

} // namespace tavrik
