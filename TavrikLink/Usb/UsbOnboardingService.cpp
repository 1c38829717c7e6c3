#include "TavrikLink/Usb/UsbOnboardingService.hpp"

namespace tavrik {

UsbOnboardingService::UsbOnboardingService(AssetProvider availableFirmwareAsset, Download download, LogSink log,
    UsbOnboardingEnvironment environment, QObject* parent)
    : QObject(parent)
    , availableFirmwareAsset(std::move(availableFirmwareAsset))
    , download(std::move(download))
    , appendLog(std::move(log))
    , environment(std::move(environment))
    , self(std::make_shared<UsbOnboardingService*>(this))
{
    if (this->environment.scheduler != nullptr) {
        pollTask = std::make_unique<ScheduledTask>(*this->environment.scheduler);
    }
}

UsbOnboardingService::~UsbOnboardingService()
{
    *self = nullptr;
    self.reset();
    usbDirectoryMonitor.reset();
    // Helpers still running are ended; their late results find the service gone.
    for (UsbTaskHandle* task :
        { &usbProbeTask, &usbWifiScanTask, &usbWifiTestTask, &usbFlashTask, &usbStageTask, &usbCleanupTask }) {
        cancelTask(*task);
    }
}

UsbOnboardingService* UsbOnboardingService::alive(const std::weak_ptr<UsbOnboardingService*>& weak)
{
    const auto locked = weak.lock();
    return locked ? *locked : nullptr;
}

void UsbOnboardingService::cancelTask(UsbTaskHandle& task)
{
    if (task) {
        task->cancel();
    }
    task = nullptr;
}

void UsbOnboardingService::setFlashStatus(
    UsbFlashStatus::Phase phase, std::string message, std::int64_t done, std::int64_t total)
{
    publish(flashStatus, UsbFlashStatus { phase, std::move(message), done, total });
}

void UsbOnboardingService::clearWifiState()
{
    publish(wifiNetworks, std::vector<UsbWifiNetwork> {});
    publish(wifiScanInProgress, false);
    publish(wifiScanMessage, std::optional<std::string> {});
    publish(wifiVerificationState, UsbWifiVerificationState::idle());
}

void UsbOnboardingService::cancelSetupAndClearState()
{
    cancelTask(usbStageTask);
    cancelTask(usbProbeTask);
    cancelTask(usbWifiScanTask);
    cancelTask(usbWifiTestTask);
    publish(notice, std::optional<UsbOnboardingNotice> {});
    publish(needsWake, false);
    clearWifiState();
}

void UsbOnboardingService::clearUsbOnboardingNotice()
{
    publish(notice, std::optional<UsbOnboardingNotice> {});
}

bool UsbOnboardingService::hasVerifiedUsbOnboardingDevice() const
{
    return device && target && !device->portPath.empty() && !device->hasTavrikFirmware && device->target
        && *device->target == *target;
}

bool UsbOnboardingService::hasDetectedInstalledTavrik() const
{
    return device && device->hasTavrikFirmware;
}

bool UsbOnboardingService::hasDetectedUsbFlashCandidate() const
{
    return device && !device->portPath.empty() && !device->hasTavrikFirmware;
}

void UsbOnboardingService::sleepStep(
    const UsbTaskHandle& task, std::chrono::milliseconds delay, std::function<void()> then)
{
    Scheduler* scheduler = environment.scheduler;
    auto settled = std::make_shared<bool>(false);
    auto proceed = std::make_shared<std::function<void()>>([task, settled, then = std::move(then)] {
        if (*settled) {
            return;
        }
        *settled = true;
        task->clearStep();
        then();
    });
    const auto wait = task->isCancelled() ? std::chrono::milliseconds(0) : delay;
    const Scheduler::Handle handle = scheduler->schedule(wait, [proceed] { (*proceed)(); });
    // A cut-short pause goes on at once, on the next turn of the loop rather than inside cancel().
    task->setStep([scheduler, handle, proceed] {
        scheduler->cancel(handle);
        scheduler->schedule(std::chrono::milliseconds(0), [proceed] { (*proceed)(); });
    });
}

void UsbOnboardingService::runHelper(const UsbTaskHandle& task, const std::vector<std::string>& arguments,
    std::optional<Data> standardInput, UsbRunCompletion completion)
{
    std::string helper;
    try {
        helper = environment.helperPath();
    } catch (const std::exception& error) {
        const UsbError failure = dynamic_cast<const UsbError*>(&error) != nullptr
            ? static_cast<const UsbError&>(error)
            : UsbError(UsbError::usbDomain, 1, error.what());
        environment.scheduler->schedule(std::chrono::milliseconds(0),
            [completion = std::move(completion), failure] { completion(UsbRunOutcome::failure(failure)); });
        return;
    }
    runHelperAt(task, helper, arguments, std::move(standardInput), nullptr, std::move(completion));
}

void UsbOnboardingService::runProbeStep(const UsbTaskHandle& task, const std::vector<std::string>& arguments,
    std::optional<Data> standardInput, std::function<void()> end, std::function<void(const std::string&)> failed,
    std::function<void(UsbOnboardingService&, const std::string& output)> succeeded)
{
    auto weak = weakSelf();
    runHelper(task, arguments, std::move(standardInput),
        [weak, task, end = std::move(end), failed = std::move(failed), succeeded = std::move(succeeded)](
            UsbRunOutcome outcome) {
            UsbOnboardingService* service = alive(weak);
            if (service == nullptr || task->isCancelled()) {
                end();
                return;
            }
            if (!outcome.succeeded()) {
                failed(outcome.error->description());
                return;
            }
            succeeded(*service, *outcome.output);
        });
}

void UsbOnboardingService::runHelperAt(const UsbTaskHandle& task, const std::string& helper,
    const std::vector<std::string>& arguments, std::optional<Data> standardInput, UsbLineCallback onLine,
    UsbRunCompletion completion)
{
    auto finished = [task, completion = std::move(completion)](UsbRunOutcome outcome) {
        task->clearStep();
        completion(task->isCancelled() ? UsbRunOutcome::failure(UsbError::cancellation()) : std::move(outcome));
    };
    if (task->isCancelled()) {
        environment.scheduler->schedule(
            std::chrono::milliseconds(0), [finished] { finished(UsbRunOutcome::failure(UsbError::cancellation())); });
        return;
    }
    task->setStep(onLine ? environment.runStreaming(helper, arguments, std::move(onLine), std::move(finished))
                         : environment.run(helper, arguments, std::move(standardInput), std::move(finished)));
}

void UsbOnboardingService::reset()
{
    renewGeneration();
    cancelTask(usbFlashTask);
    cancelSetupAndClearState();
    stopUsbDeviceMonitoring();
    usbMonitoringSuspended = false;
    publish(target, std::optional<UsbOnboardingTarget> {});
    publish(device, std::optional<UsbOnboardingDevice> {});
    publish(checkState, UsbOnboardingCheckState::waitingForDevice);
    usbPersistentProbeRunning = false;
    observedUsbSerialPorts.clear();
    usbManualWakeRetryAttempted = false;
    setFlashStatus(UsbFlashStatus::Phase::idle, "Checking for connected Tavrik hardware...");
}

void UsbOnboardingService::prepareForAppTermination(std::function<void()> done)
{
    renewGeneration();
    usbMonitoringSuspended = true;
    stopUsbDeviceMonitoring();
    std::optional<std::string> port;
    if (usbPersistentProbeRunning) {
        if (device) {
            port = device->portPath;
        }
        usbPersistentProbeRunning = false;
    }
    std::vector<UsbTaskHandle> taken { usbProbeTask, usbWifiScanTask, usbWifiTestTask, usbFlashTask, usbStageTask };
    for (auto& task : taken) {
        if (task) {
            task->cancel();
        }
    }
    usbProbeTask = usbWifiScanTask = usbWifiTestTask = usbFlashTask = usbStageTask = nullptr;
    auto weak = weakSelf();
    auto finish = std::make_shared<std::function<void()>>(std::move(done));
    waitForUsbTasks(std::move(taken), [weak, port, finish] {
        UsbOnboardingService* service = alive(weak);
        if (service == nullptr) {
            (*finish)();
            return;
        }
        auto stopProbe = [weak, port, finish] {
            UsbOnboardingService* service = alive(weak);
            if (service == nullptr || !port) {
                (*finish)();
                return;
            }
            std::string helper;
            try {
                helper = service->environment.helperPath();
            } catch (const std::exception&) {
                (*finish)();
                return;
            }
            // Whatever "stop-probe" says, the application quits; nothing is logged.
            service->environment.run(helper, { "stop-probe", "--port", *port }, std::nullopt,
                [finish](const UsbRunOutcome&) { (*finish)(); });
        };
        UsbTaskHandle cleanup = service->usbCleanupTask;
        if (!cleanup) {
            stopProbe();
            return;
        }
        cleanup->whenFinished([weak, cleanup, stopProbe] {
            if (UsbOnboardingService* service = alive(weak); service != nullptr && service->usbCleanupTask == cleanup) {
                service->usbCleanupTask = nullptr;
            }
            stopProbe();
        });
    });
}

} // namespace tavrik
