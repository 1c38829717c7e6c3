#pragma once

#include "TavrikCore/Firmware/FirmwareAsset.hpp"
#include "TavrikCore/Support/ScheduledTask.hpp"
#include "TavrikCore/Support/Uuid.hpp"
#include "TavrikLink/Usb/UsbHelperRecords.hpp"
#include "TavrikLink/Usb/UsbOnboardingEnvironment.hpp"
#include "TavrikLink/Usb/UsbOnboardingModels.hpp"
#include "TavrikLink/Usb/UsbTask.hpp"

#include <QObject>

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tavrik {

// Sets up a new board attached over USB: watches the serial ports, classifies the single board it
// finds, verifies the model the user picks with a probe image, scans and tests Wi-Fi through the
// board, and flashes the published factory image. Every board operation is one run of the USB
// helper through the environment. Failures are published, never thrown. Work that outlives a user
// action checks `generation` before it publishes, so a superseded attempt stays silent.
class UsbOnboardingService final : public QObject {
    Q_OBJECT
public:
    // The checked bytes of one download, or the error's description.
    struct DownloadResult {
        std::optional<Data> data;
        std::string errorDescription;
    };
    // Fetches a factory image and checks its size and SHA-256; the completion comes later from the
    // event loop. Gives an operation that cancels the download.
    using Download = std::function<UsbCancel(const Url& url, std::int64_t sizeBytes, const std::string& sha256,
        std::function<void(DownloadResult)> completion)>;
    using AssetProvider = std::function<std::optional<FirmwareAsset>()>;
    using LogSink = std::function<void(const std::string&)>;

    UsbOnboardingService(AssetProvider availableFirmwareAsset, Download download, LogSink log,
        UsbOnboardingEnvironment environment, QObject* parent = nullptr);
    ~UsbOnboardingService() override;

    // Published state.
    const std::optional<UsbOnboardingTarget>& usbOnboardingTarget() const { return target; }
    const std::optional<UsbOnboardingDevice>& usbOnboardingDevice() const { return device; }
    const std::optional<UsbOnboardingNotice>& usbOnboardingNotice() const { return notice; }
    UsbOnboardingCheckState usbOnboardingCheckState() const { return checkState; }
    const UsbFlashStatus& usbFlashStatus() const { return flashStatus; }
    bool usbOnboardingNeedsWake() const { return needsWake; }
    const std::vector<UsbWifiNetwork>& usbWifiNetworks() const { return wifiNetworks; }
    bool usbWifiScanInProgress() const { return wifiScanInProgress; }
    const std::optional<std::string>& usbWifiScanMessage() const { return wifiScanMessage; }
    const UsbWifiVerificationState& usbWifiVerificationState() const { return wifiVerificationState; }
    // The screens dismiss the notice's alert.
    void clearUsbOnboardingNotice();

    bool hasVerifiedUsbOnboardingDevice() const;
    bool hasDetectedInstalledTavrik() const;
    bool hasDetectedUsbFlashCandidate() const;

    // Internal state the controller and tests read.
    const Uuid& currentGeneration() const { return generation; }
    bool isMonitoringSuspended() const { return usbMonitoringSuspended; }
    bool isPersistentProbeRunning() const { return usbPersistentProbeRunning; }
    bool isFlashRunning() const { return usbFlashTask != nullptr; }
    bool isMonitoring() const { return polling || usbDirectoryMonitor != nullptr; }

    // Lifecycle.
    void reset();
    // Stops everything and a probe left running on the board; `done` runs when that has finished.
    void prepareForAppTermination(std::function<void()> done);

    // Discovery and the setup actions.
    void startUsbDeviceMonitoring();
    void stopUsbDeviceMonitoring();
    void refreshUsbOnboardingCandidate();
    void beginUsbOnboarding();
    void cancelUsbOnboarding();
    void retryUsbOnboarding();
    void setUsbOnboardingTarget(UsbOnboardingTarget chosen);
    void selectUnsupportedUsbOnboardingTarget();

    // Installation.
    void startUsbOnboardingFlash(
        const std::optional<std::string>& wifiSsid, const std::optional<std::string>& wifiPassword);

    // Wi-Fi through the probe left on the board.
    void startUsbWifiScan();
    void verifyUsbWifiCredentials(const std::string& ssid, const std::string& password);
    void invalidateUsbWifiVerification();

    // Helpers with no state, public for tests.
    static bool usbProbeMayNeedManualWake(const std::string& failure);
    static std::string usbProbeFailureMessage(const std::string& failure);
    static std::vector<UsbWifiNetwork> parseUsbWifiNetworks(const std::string& output, std::string_view localeId);
    static std::optional<UsbWifiTestResult> parseUsbWifiTestResult(const std::string& output);
    static std::vector<std::string> usbWifiTestArguments(const std::string& portPath, const std::string& ssid);
    static std::optional<UsbHardwareProbeResult> parseUsbProbeResult(const std::string& output);
    static std::string cleanUsbFlashCompletionMessage(const std::string& output);
    static std::string usbProbeStageCopy(const UsbHardwareProbeResult& result, const std::string& board);
    // The factory image's file name reduced to a safe last path component.
    static std::string safeImageFileName(const std::string& fileName);

signals:
    // Any published field changed.
    void changed();

private:
    using ProbeCompletion = std::function<void(std::optional<UsbTavrikProbeResult>, std::optional<UsbError>)>;
    using HardwareProbeCompletion = std::function<void(std::optional<UsbHardwareProbeResult>, std::optional<UsbError>)>;
    using SuffixCompletion = std::function<void(std::string)>;

    template <class T>
    void publish(T& field, T value)
    {
        if (field == value) {
            return;
        }
        field = std::move(value);
        emit changed();
    }
    void setFlashStatus(UsbFlashStatus::Phase phase, std::string message, std::int64_t done = 0, std::int64_t total = 0);
    void clearWifiState();
    // Stops the set-up work under way (probe, stage, Wi-Fi scan and test) and clears the notice, the
    // wake request and the Wi-Fi state.
    void cancelSetupAndClearState();
    void renewGeneration() { generation = Uuid::make(); }
    std::weak_ptr<UsbOnboardingService*> weakSelf() const { return self; }
    static UsbOnboardingService* alive(const std::weak_ptr<UsbOnboardingService*>& weak);
    static void cancelTask(UsbTaskHandle& task);
    void schedulePoll();
    void sleepStep(const UsbTaskHandle& task, std::chrono::milliseconds delay, std::function<void()> then);
    // Runs the USB helper as the task's step. The completion comes once, from the event loop: a
    // helper that cannot be found is a failed run, and a run whose task was cancelled ends as a
    // cancellation whatever the helper said.
    void runHelper(const UsbTaskHandle& task, const std::vector<std::string>& arguments,
        std::optional<Data> standardInput, UsbRunCompletion completion);
    // One step of the probe left on the board: with the service gone or the task cancelled the step
    // only ends, a failed run goes to `failed`, and the output of a good one to `succeeded`.
    void runProbeStep(const UsbTaskHandle& task, const std::vector<std::string>& arguments,
        std::optional<Data> standardInput, std::function<void()> end, std::function<void(const std::string&)> failed,
        std::function<void(UsbOnboardingService&, const std::string& output)> succeeded);
    // The same with a helper already found; `onLine`, when set, receives each output line as it comes.
    void runHelperAt(const UsbTaskHandle& task, const std::string& helper, const std::vector<std::string>& arguments,
        std::optional<Data> standardInput, UsbLineCallback onLine, UsbRunCompletion completion);

    // Discovery.
    void handleUsbSerialPortChange();
    void probeUsbOnboardingCandidate(const UsbTaskHandle& task, std::function<void()> done);
    void verifyCandidate(const UsbTaskHandle& task, const std::string& port, UsbOnboardingTarget chosen,
        const std::function<void()>& done);
    void applyFailureRule(
        const UsbTaskHandle& task, const std::string& failure, std::optional<UsbOnboardingDevice> device);
    void latchDetectedUsbOnboardingDevice(UsbOnboardingDevice detected, const std::string& message);
    void latchVerifiedUsbOnboardingDevice(UsbOnboardingDevice verified, UsbOnboardingTarget chosen);

    // Probing and installation.
    void probeTavrikSerialPort(const UsbTaskHandle& task, const std::string& port, const ProbeCompletion& completion);
    void runHardwareProbe(const UsbTaskHandle& task, const std::string& port, UsbOnboardingTarget chosen,
        const HardwareProbeCompletion& completion);
    void handleUsbFlashOutputLine(const std::string& line);
    void handleUsbProbeOutputLine(const std::string& line, UsbOnboardingTarget chosen);
    void runInstallation(const UsbTaskHandle& task, Uuid captured, const FirmwareFactoryAsset& asset,
        const UsbOnboardingDevice& board, UsbOnboardingTarget boardTarget, const std::string& ssid,
        const std::string& password);

    // Wi-Fi and clock.
    void configureWifiTimeOverUSB(const UsbTaskHandle& task, const std::string& installerPath,
        const std::string& portPath, const std::string& ssid, const std::string& password, SuffixCompletion completion);
    void syncTavrikTimeOverUSB(const UsbTaskHandle& task, const std::string& installerPath, const std::string& portPath,
        SuffixCompletion completion);
    // What a setup step after the flash says: the prefix of its failure, the helper's plain answer
    // and the suffix that stands for it.
    struct SetupStepTexts {
        std::string failurePrefix;
        std::string plainOutput;
        std::string plainSuffix;
    };
    // After the setup pause, runs the helper with the arguments made then, and completes with the
    // suffix for the installation's final message.
    void runSetupStep(const UsbTaskHandle& task, const std::string& installerPath,
        std::function<std::vector<std::string>(const Clock&)> arguments, std::optional<Data> standardInput,
        SetupStepTexts texts, SuffixCompletion completion);

    AssetProvider availableFirmwareAsset;
    Download download;
    LogSink appendLog;
    UsbOnboardingEnvironment environment;

    std::optional<UsbOnboardingTarget> target;
    std::optional<UsbOnboardingDevice> device;
    std::optional<UsbOnboardingNotice> notice;
    UsbOnboardingCheckState checkState = UsbOnboardingCheckState::waitingForDevice;
    UsbFlashStatus flashStatus { UsbFlashStatus::Phase::idle, "Checking for connected Tavrik hardware...", 0, 0 };
    bool needsWake = false;
    std::vector<UsbWifiNetwork> wifiNetworks;
    bool wifiScanInProgress = false;
    std::optional<std::string> wifiScanMessage;
    UsbWifiVerificationState wifiVerificationState;

    Uuid generation = Uuid::make();
    UsbTaskHandle usbProbeTask;
    UsbTaskHandle usbWifiScanTask;
    UsbTaskHandle usbWifiTestTask;
    UsbTaskHandle usbFlashTask;
    UsbTaskHandle usbStageTask;
    UsbTaskHandle usbCleanupTask;
    std::unique_ptr<QObject> usbDirectoryMonitor;
    bool polling = false;
    // The port scan's next turn while the device directory cannot be watched.
    std::unique_ptr<ScheduledTask> pollTask;
    bool usbMonitoringSuspended = false;
    bool usbPersistentProbeRunning = false;
    std::set<std::string> observedUsbSerialPorts;
    bool usbManualWakeRetryAttempted = false;

    // Lets late callbacks tell that the service is gone.
    std::shared_ptr<UsbOnboardingService*> self;
};

} // namespace tavrik
