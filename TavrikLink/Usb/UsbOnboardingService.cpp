#include "TavrikLink/Usb/UsbOnboardingService.hpp"

#include <algorithm>
#include <filesystem>

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
    publish(hostProblem, false);
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
    const std::string port = portArgument(arguments);
    auto weak = weakSelf();
    auto start = [weak, task, helper, arguments, standardInput = std::move(standardInput), onLine = std::move(onLine),
                     finished, port]() mutable {
        UsbOnboardingService* service = alive(weak);
        if (service == nullptr || task->isCancelled()) {
            if (service != nullptr) {
                service->releaseHelperPort(port);
            }
            finished(UsbRunOutcome::failure(UsbError::cancellation()));
            return;
        }
        service->startHelperRun(
            task, helper, arguments, std::move(standardInput), std::move(onLine), std::move(finished), port);
    };
    // One helper at a time on a port: a run asked for while a stopped one still holds the port
    // starts once that one has ended, so two never talk to one board.
    if (!port.empty()) {
        if (const auto busy = helperPorts.find(port); busy != helperPorts.end()) {
            busy->second.push_back(std::move(start));
            return;
        }
        helperPorts[port];
    }
    start();
}

void UsbOnboardingService::startHelperRun(const UsbTaskHandle& task, const std::string& helper,
    const std::vector<std::string>& arguments, std::optional<Data> standardInput, UsbLineCallback onLine,
    UsbRunCompletion finished, const std::string& port)
{
    struct Guard {
        UsbCancel stop;
        bool ended = false;
        bool stopping = false;
        bool timedOut = false;
        Scheduler::Handle deadline = Scheduler::invalidHandle;
        Scheduler::Handle kill = Scheduler::invalidHandle;
    };
    auto guard = std::make_shared<Guard>();
    Scheduler* scheduler = environment.scheduler;
    const std::chrono::seconds limit = helperRunLimit(arguments);
    auto weak = weakSelf();
    auto ended = [guard, scheduler, weak, port, limit, finished = std::move(finished)](UsbRunOutcome outcome) {
        guard->ended = true;
        scheduler->cancel(guard->deadline);
        scheduler->cancel(guard->kill);
        if (UsbOnboardingService* service = alive(weak)) {
            service->releaseHelperPort(port);
        }
        if (guard->timedOut && !outcome.succeeded()) {
            outcome = UsbRunOutcome::failure(UsbError(UsbError::usbDomain, helperTimeoutCode,
                "The USB helper did not finish within " + std::to_string(limit.count()) + " seconds and was stopped."));
        }
        finished(std::move(outcome));
    };
    // A helper that ignores the request to stop is killed a little later.
    auto stop = [guard, scheduler] {
        if (guard->ended || guard->stopping) {
            return;
        }
        guard->stopping = true;
        guard->stop();
        guard->kill = scheduler->schedule(helperStopGrace, [guard] {
            if (!guard->ended) {
                guard->stop();
            }
        });
    };
    guard->stop = onLine ? environment.runStreaming(helper, arguments, std::move(onLine), std::move(ended))
                         : environment.run(helper, arguments, std::move(standardInput), std::move(ended));
    guard->deadline = scheduler->schedule(limit, [guard, stop] {
        if (!guard->ended) {
            guard->timedOut = true;
            stop();
        }
    });
    task->setStep(stop);
}

void UsbOnboardingService::releaseHelperPort(const std::string& port)
{
    const auto busy = helperPorts.find(port);
    if (busy == helperPorts.end()) {
        return;
    }
    if (busy->second.empty()) {
        helperPorts.erase(busy);
        return;
    }
    auto next = std::move(busy->second.front());
    busy->second.pop_front();
    environment.scheduler->schedule(std::chrono::milliseconds(0), std::move(next));
}

std::string UsbOnboardingService::portArgument(const std::vector<std::string>& arguments)
{
    const auto found = std::find(arguments.begin(), arguments.end(), "--port");
    return found != arguments.end() && found + 1 != arguments.end() ? *(found + 1) : std::string();
}

std::chrono::seconds UsbOnboardingService::helperRunLimit(const std::vector<std::string>& arguments)
{
    // Well past the helper's own time-out for the subcommand, so the helper reports first.
    const std::string subcommand = arguments.empty() ? std::string() : arguments.front();
    int timeout = subcommand == "configure-wifi-time" ? 30 : subcommand == "hardware-probe" ? 90 : 15;
    if (const auto found = std::find(arguments.begin(), arguments.end(), "--timeout");
        found != arguments.end() && found + 1 != arguments.end()) {
        try {
            timeout = std::clamp(std::stoi(*(found + 1)), 1, 3600);
        } catch (const std::exception&) {
        }
    }
    if (subcommand == "probe") {
        return std::chrono::seconds(40);
    }
    if (subcommand == "flash") {
        std::error_code error;
        const auto found = std::find(arguments.begin(), arguments.end(), "--image");
        const std::uintmax_t size = found != arguments.end() && found + 1 != arguments.end()
            ? std::filesystem::file_size(*(found + 1), error)
            : 0;
        const std::uintmax_t mebibytes = error ? 16 : size / 1048576 + 1;
        return std::chrono::seconds(90 + 120 * mebibytes + 60);
    }
    if (subcommand == "hardware-probe") {
        return std::chrono::seconds(timeout + 90);
    }
    // Room for the port to appear and the firmware to answer after a flash.
    return std::chrono::seconds(timeout + 40);
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
            // Whatever "stop-probe" says, the application quits; nothing is logged. Its run is
            // bounded like any other, so a hanging helper cannot hold the quit.
            service->runHelperAt(std::make_shared<UsbTask>(), helper, { "stop-probe", "--port", *port }, std::nullopt,
                nullptr, [finish](const UsbRunOutcome&) { (*finish)(); });
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
