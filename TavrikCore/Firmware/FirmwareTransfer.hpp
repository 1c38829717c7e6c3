#pragma once

#include "TavrikCore/Firmware/FirmwareAsset.hpp"
#include "TavrikCore/Firmware/FirmwareOtaMessages.hpp"
#include "TavrikCore/Firmware/FirmwareUploadStatus.hpp"
#include "TavrikCore/Support/Data.hpp"
#include "TavrikCore/Support/ScheduledTask.hpp"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tavrik {

// Sends a verified image to the device over the air: "firmware_begin" on the data channel, raw chunks
// on the firmware characteristic in windows the device acknowledges with "firmware_status", then one
// "firmware_commit". It never throws; every outcome is in `status`. It moves on the device's status
// messages, `sendFirmwareBegin` (link ready) and `sendFirmwareWindowIfNeeded` (peripheral can take
// writes again); given a scheduler, it also gives up on a device that stops answering, so a silent
// board never leaves the upload "Preparing…" or "Uploading…" for ever. Callbacks may call back into
// the engine.
class FirmwareTransfer {
public:
    // What the engine does to the outside world; all synchronous. An operation that throws counts as
    // one that refused or had nothing to give (and a throwing observer, log or install callback is
    // ignored), so nothing escapes the engine.
    struct Transport {
        // Sends the begin record; true when it was accepted for sending.
        std::function<bool(const FirmwareBeginEnvelope&)> begin;
        // Sends a FirmwareCommitEnvelope; true when accepted for sending.
        std::function<bool()> commit;
        // Sends a FirmwareAbortEnvelope.
        std::function<void()> abort;
        // Largest single write to the firmware characteristic; nothing while none is usable.
        std::function<std::optional<int>()> maximumWriteLength;
        // Writes one raw chunk without response; false when nothing was written.
        std::function<bool(const Data&)> write;
        // Starts looking for and connecting to the device.
        std::function<void()> connect;
        // A device is connected and its firmware characteristic is known.
        std::function<bool()> isReady;
    };

    using StatusObserver = std::function<void(const FirmwareUploadStatus&)>;
    using LogSink = std::function<void(const std::string&)>;
    // Told the installed version when the device reports completion.
    using InstallCallback = std::function<void(const std::optional<std::string>&)>;
    // Reads one process environment variable; nothing when it is not set.
    using EnvironmentReader = std::function<std::optional<std::string>(const std::string& name)>;

    // Without `environment` the process environment is read, once per process; a given reader is
    // asked once per engine, on the first transfer. Without `scheduler` the engine waits on the
    // device for as long as it takes.
    FirmwareTransfer(Transport transport, LogSink log, InstallCallback didInstall, EnvironmentReader environment = {},
        Scheduler* scheduler = nullptr);

    const FirmwareUploadStatus& status() const { return currentStatus; }
    // Replaces the status and notifies, like `replaceStatus`.
    void setStatus(FirmwareUploadStatus status);
    const StatusObserver& onStatus() const;
    // Called after every change of the status.
    void setOnStatus(StatusObserver observer);
    // From `prepare` until the transfer completes, fails or is cancelled.
    bool isActive() const { return active; }
    // The image length of the transfer in progress; 0 without one.
    std::int64_t totalBytes() const;

    void replaceStatus(FirmwareUploadStatus status);
    // Replaces the given fields, keeps the others, then notifies once.
    void setFirmwareStatus(std::optional<FirmwareUploadStatus::Phase> phase = std::nullopt,
        std::optional<std::string> message = std::nullopt, std::optional<std::int64_t> bytesTransferred = std::nullopt,
        std::optional<std::int64_t> totalBytes = std::nullopt);

    // Starts a new transfer from zero: begins at once when the transport is ready, otherwise asks it
    // to connect (the owner then calls `sendFirmwareBegin`). An image of 4 GiB or more is refused.
    void prepare(const FirmwareAsset& asset, Data data);
    void sendFirmwareBegin();
    // Writes chunks while fewer than a window are unacknowledged; commits once all are acknowledged.
    void sendFirmwareWindowIfNeeded();
    // One "firmware_status" message. `availableSize` is the size of the offered asset (0 without one),
    // the total shown when neither the message nor a transfer gives one.
    void handleFirmwarePayload(const Data& payload, std::int64_t availableSize);
    // Sends "firmware_abort" when a transfer is active, then shows the idle status.
    void cancel(const std::optional<FirmwareAsset>& availableAsset);
    // Drops the transfer without a word: the status stays and nobody is notified (link lost).
    void resetFirmwareSession();

private:
    struct Plan {
        FirmwareAsset asset;
        Data data;
        std::int64_t nextOffset = 0;
        std::int64_t nextChunkIndex = 0;
        std::int64_t acknowledgedChunkIndex = 0;
        std::int64_t uploadWindowSize = 0;
    };

    void notify();
    void writeLog(const std::string& line);
    void clear();
    void endWithFailure(const std::string& message);
    void sendFirmwareCommit();
    void sendWindow();
    std::int64_t configuredWindow();
    // (Re)starts the wait for the device's next answer; when it runs out the device is told to abort
    // and the transfer ends with `message`.
    void awaitAnswer(std::chrono::milliseconds bound, std::string message);

    std::shared_ptr<const StatusObserver> statusObserver;
    FirmwareUploadStatus currentStatus;
    bool active = false;
    std::optional<Plan> plan;
    bool commitSent = false;
    Transport transport;
    LogSink log;
    InstallCallback didInstall;
    EnvironmentReader environment;
    std::optional<std::int64_t> environmentWindow;
    // Bumped whenever the plan is replaced or dropped, so work interrupted by a callback that did so
    // stops instead of touching the new (or no) transfer.
    std::uint64_t planGeneration = 0;
    // Bumped for every status message handled, so an answer that arrived inside `begin` or `commit`
    // is not overwritten by their own status text.
    std::uint64_t statusMessages = 0;
    bool sendingWindow = false;
    bool windowRequestedAgain = false;
    Data chunkBuffer;
    std::optional<ScheduledTask> answerWait;
};

// The device's acknowledgement interval when it is 1 or more, else the configured window (at least 1).
std::int64_t firmwareUploadWindowSize(std::int64_t configuredWindow, std::optional<std::int64_t> acknowledgementInterval);

// The window "TAVRIK_OTA_WINDOW_SIZE" asks for: 64 when it is absent, empty or not a whole decimal
// number within 64 bits (optional sign, digits only); otherwise the number, at least 8.
std::int64_t firmwareWindowSizeFromEnvironment(const std::optional<std::string>& value);

inline constexpr std::int64_t defaultFirmwareUploadWindowSize = 64;
// The device erases its update partition before it answers "firmware_begin", and checks the whole
// image before it answers "firmware_commit": both take seconds, so they get a wide bound.
inline constexpr std::chrono::milliseconds firmwareBeginAnswerTimeout { 30'000 };
inline constexpr std::chrono::milliseconds firmwareCommitAnswerTimeout { 30'000 };
// The longest wait for the next acknowledgement while chunks are under way, like a stalled load.
inline constexpr std::chrono::milliseconds firmwareAcknowledgementTimeout { 15'000 };
inline constexpr std::int64_t minimumConfiguredFirmwareUploadWindowSize = 8;

} // namespace tavrik
