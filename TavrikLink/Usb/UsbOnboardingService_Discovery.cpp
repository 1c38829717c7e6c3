#include "TavrikLink/Usb/UsbOnboardingService.hpp"

#include "TavrikCore/Support/Text.hpp"

#include <QObject>

namespace tavrik {

namespace {

const std::string connectMessage = "Connect a supported device over USB.";
const std::string checkingMessage = "Checking USB serial devices...";

} // namespace

void UsbOnboardingService::startUsbDeviceMonitoring()
{
    if (usbMonitoringSuspended || !environment.monitorDeviceChanges) {
        return;
    }
    if (!polling) {
        polling = true;
        schedulePoll();
    }
    if (!usbDirectoryMonitor && environment.watchDeviceChanges) {
        auto weak = weakSelf();
        usbDirectoryMonitor = environment.watchDeviceChanges([weak] {
            if (UsbOnboardingService* service = alive(weak)) {
                service->handleUsbSerialPortChange();
            }
        });
    }
}

void UsbOnboardingService::schedulePoll()
{
    pollTask->schedule(std::chrono::milliseconds(500), [this] {
        handleUsbSerialPortChange();
        if (polling && !pollTask->isPending()) {
            schedulePoll();
        }
    });
}

void UsbOnboardingService::stopUsbDeviceMonitoring()
{
    usbDirectoryMonitor.reset();
    if (polling) {
        polling = false;
        pollTask->cancel();
    }
}

void UsbOnboardingService::handleUsbSerialPortChange()
{
    if (usbFlashTask || usbMonitoringSuspended || flashStatus.phase == UsbFlashStatus::Phase::probing) {
        return;
    }
    const auto list = environment.serialPorts();
    const std::set<std::string> ports(list.begin(), list.end());
    if (ports == observedUsbSerialPorts) {
        return;
    }
    renewGeneration();
    observedUsbSerialPorts = ports;
    cancelTask(usbProbeTask);
    publish(target, std::optional<UsbOnboardingTarget> {});
    publish(device, std::optional<UsbOnboardingDevice> {});
    publish(notice, std::optional<UsbOnboardingNotice> {});
    publish(needsWake, false);
    usbManualWakeRetryAttempted = false;
    if (!ports.empty()) {
        refreshUsbOnboardingCandidate();
    } else {
        publish(checkState, UsbOnboardingCheckState::waitingForDevice);
        setFlashStatus(UsbFlashStatus::Phase::idle, connectMessage);
    }
}

void UsbOnboardingService::refreshUsbOnboardingCandidate()
{
    if (usbFlashTask || usbMonitoringSuspended || flashStatus.phase == UsbFlashStatus::Phase::probing) {
        return;
    }
    cancelTask(usbProbeTask);
    publish(checkState, target ? UsbOnboardingCheckState::targetSetup : UsbOnboardingCheckState::checkingCompatibility);
    setFlashStatus(UsbFlashStatus::Phase::probing, checkingMessage);
    const Uuid captured = generation;
    auto task = std::make_shared<UsbTask>();
    usbProbeTask = task;
    auto weak = weakSelf();
    probeUsbOnboardingCandidate(task, [weak, task, captured] {
        // Cleared only by the task the handle still names: a refresh that replaced this probe
        // keeps the generation, and its newer task must stay reachable for cancellation.
        if (UsbOnboardingService* service = alive(weak);
            service != nullptr && service->generation == captured && service->usbProbeTask == task) {
            service->usbProbeTask = nullptr;
        }
        task->finish();
    });
}

void UsbOnboardingService::probeUsbOnboardingCandidate(const UsbTaskHandle& task, std::function<void()> done)
{
    if (usbFlashTask) {
        done();
        return;
    }
    auto weak = weakSelf();
    // The last step of every road: a port change held back during the probe is handled now.
    auto finish = [weak, task, done = std::move(done)] {
        if (UsbOnboardingService* service = alive(weak); service != nullptr && !task->isCancelled()) {
            service->handleUsbSerialPortChange();
        }
        done();
    };
    setFlashStatus(UsbFlashStatus::Phase::probing, checkingMessage);
    const auto ports = environment.serialPorts();
    observedUsbSerialPorts = std::set<std::string>(ports.begin(), ports.end());
    if (ports.size() != 1) {
        publish(target, std::optional<UsbOnboardingTarget> {});
        publish(device, std::optional<UsbOnboardingDevice> {});
        if (ports.empty()) {
            publish(checkState, UsbOnboardingCheckState::waitingForDevice);
            setFlashStatus(UsbFlashStatus::Phase::idle, connectMessage);
        } else {
            publish(checkState, UsbOnboardingCheckState::multipleDevices);
            setFlashStatus(UsbFlashStatus::Phase::idle, "Multiple USB devices detected.");
        }
        finish();
        return;
    }
    const std::string& port = ports.front();
    if (task->isCancelled()) {
        finish();
        return;
    }
    probeTavrikSerialPort(task, port,
        [weak, task, port, finish](std::optional<UsbTavrikProbeResult> answer, std::optional<UsbError> error) {
            UsbOnboardingService* service = alive(weak);
            if (service == nullptr) {
                finish();
                return;
            }
            if (error) {
                service->applyFailureRule(task, error->description(), std::nullopt, usbHostProblemMessage(*error));
                finish();
                return;
            }
            if (task->isCancelled() || service->usbFlashTask) {
                finish();
                return;
            }
            service->publish(service->needsWake, false);
            if (answer->state == "tavrik") {
                UsbOnboardingDevice installed { port, port, port, true, std::nullopt, answer->firmwareVersion,
                    answer->bleProtocolVersion };
                if (answer->hardwareTarget) {
                    installed.target = usbOnboardingTargetFromRawValue(*answer->hardwareTarget);
                }
                const bool current = answer->bleProtocolVersion && *answer->bleProtocolVersion >= 2;
                const std::string message = current ? std::string("Tavrik firmware is already installed.")
                                                    : "Tavrik firmware " + answer->firmwareVersion.value_or("unknown")
                        + " is installed. This version is no longer supported. Flash the latest firmware using the "
                          "Tavrik development tools.";
                service->latchDetectedUsbOnboardingDevice(installed, message);
                finish();
                return;
            }
            if (answer->state == "other") {
                const UsbOnboardingDevice board { port, port, port, false, std::nullopt, std::nullopt, std::nullopt };
                service->publish(service->device, std::optional<UsbOnboardingDevice>(board));
                if (!service->target) {
                    service->latchDetectedUsbOnboardingDevice(
                        board, "Compatible USB device detected. Select its model to continue.");
                    finish();
                    return;
                }
                service->verifyCandidate(task, port, *service->target, finish);
                return;
            }
            service->applyFailureRule(
                task, "Unexpected USB probe response from " + port + ": " + answer->state, std::nullopt);
            finish();
        });
}

void UsbOnboardingService::verifyCandidate(
    const UsbTaskHandle& task, const std::string& port, UsbOnboardingTarget chosen, const std::function<void()>& done)
{
    auto weak = weakSelf();
    const UsbOnboardingDevice board { port, port, port, false, std::nullopt, std::nullopt, std::nullopt };
    runHardwareProbe(task, port, chosen,
        [weak, task, port, chosen, board, done](
            std::optional<UsbHardwareProbeResult> result, std::optional<UsbError> error) {
            UsbOnboardingService* service = alive(weak);
            if (service == nullptr) {
                done();
                return;
            }
            if (error) {
                service->applyFailureRule(task, error->description(), board, usbHostProblemMessage(*error));
            } else if (!task->isCancelled()) {
                if (result->result == "pass" && result->target == rawValue(chosen)) {
                    const UsbOnboardingDevice verified { port, port, displayName(chosen) + " (" + port + ")", false,
                        chosen, std::nullopt, std::nullopt };
                    service->latchVerifiedUsbOnboardingDevice(verified, chosen);
                } else {
                    service->applyFailureRule(task,
                        result->message.value_or(
                            "Connected hardware does not match selected target " + displayName(chosen) + "."),
                        board);
                }
            }
            done();
        });
}

void UsbOnboardingService::applyFailureRule(const UsbTaskHandle& task, const std::string& failure,
    std::optional<UsbOnboardingDevice> failedDevice, std::optional<std::string> hostMessage)
{
    if (task->isCancelled() || usbFlashTask) {
        return;
    }
    // The helper's own words stay in the log whatever the window makes of them.
    appendLog("USB device check failed: " + failure);
    publish(device, std::move(failedDevice));
    publish(notice, std::optional<UsbOnboardingNotice> {});
    publish(needsWake, false);
    if (hostMessage) {
        publish(checkState, target ? UsbOnboardingCheckState::targetSetup : UsbOnboardingCheckState::hostProblem);
        setFlashStatus(UsbFlashStatus::Phase::failed, *hostMessage);
        publish(hostProblem, true);
        return;
    }
    if (target) {
        publish(checkState, UsbOnboardingCheckState::targetSetup);
    } else if (usbProbeMayNeedManualWake(failure) && !usbManualWakeRetryAttempted) {
        publish(checkState, UsbOnboardingCheckState::needsManualWake);
        publish(needsWake, true);
    } else {
        publish(checkState, UsbOnboardingCheckState::unsupportedDevice);
    }
    setFlashStatus(UsbFlashStatus::Phase::failed, usbProbeFailureMessage(failure));
}

bool UsbOnboardingService::usbProbeMayNeedManualWake(const std::string& failure)
{
    const std::string lower = text::lowercased(failure);
    return lower.find("esp32 bootloader command") != std::string::npos
        || lower.find("failed to synchronize with the esp32 bootloader") != std::string::npos
        || lower.find("timed out waiting for the esp32 bootloader") != std::string::npos;
}

std::optional<std::string> UsbOnboardingService::usbHostProblemMessage(const UsbError& error)
{
    if (error.domain() == UsbError::processDomain && error.code() == helperPortUnavailableStatus) {
        return error.description();
    }
    if (error.domain() == UsbError::processDomain && error.code() >= 128) {
        return std::string("The USB helper of Tavrik Link stopped unexpectedly. Choose Try Again; if it happens "
                           "again, reinstall Tavrik Link.");
    }
    if (error.domain() == UsbError::firmwareDomain && error.code() == 11) {
        return error.description() + " Reinstall Tavrik Link.";
    }
    if (error.domain() == UsbError::usbDomain && error.code() == helperTimeoutCode) {
        return error.description() + " Unplug the device, plug it in again, then choose Try Again.";
    }
    return std::nullopt;
}

std::string UsbOnboardingService::usbProbeFailureMessage(const std::string& failure)
{
    if (usbProbeMayNeedManualWake(failure)) {
        return "No USB onboarding device detected. If the device was just flashed, wait for it to finish rebooting or "
               "unplug and reconnect it, then try again.";
    }
    return "No USB onboarding device detected. " + failure;
}

void UsbOnboardingService::latchDetectedUsbOnboardingDevice(UsbOnboardingDevice detected, const std::string& message)
{
    const bool installed = detected.hasTavrikFirmware;
    publish(device, std::optional<UsbOnboardingDevice>(std::move(detected)));
    publish(notice, std::optional<UsbOnboardingNotice> {});
    publish(checkState,
        installed ? UsbOnboardingCheckState::tavrikAlreadyInstalled : UsbOnboardingCheckState::readyForTargetSelection);
    publish(needsWake, false);
    usbManualWakeRetryAttempted = false;
    setFlashStatus(UsbFlashStatus::Phase::idle, message);
    appendLog("USB device classification completed");
}

void UsbOnboardingService::latchVerifiedUsbOnboardingDevice(UsbOnboardingDevice verified, UsbOnboardingTarget chosen)
{
    usbMonitoringSuspended = true;
    usbPersistentProbeRunning = chosen == UsbOnboardingTarget::lilyGoTEmbedCc1101;
    stopUsbDeviceMonitoring();
    publish(target, std::optional<UsbOnboardingTarget>(chosen));
    publish(device, std::optional<UsbOnboardingDevice>(std::move(verified)));
    publish(notice, std::optional<UsbOnboardingNotice> {});
    publish(checkState, UsbOnboardingCheckState::targetSetup);
    publish(needsWake, false);
    setFlashStatus(UsbFlashStatus::Phase::idle, "");
    appendLog("USB hardware verification passed for " + rawValue(chosen) + "; automatic probing suspended");
}

void UsbOnboardingService::beginUsbOnboarding()
{
    if (usbFlashTask) {
        return;
    }
    renewGeneration();
    cancelSetupAndClearState();
    usbMonitoringSuspended = false;
    publish(target, std::optional<UsbOnboardingTarget> {});
    publish(device, std::optional<UsbOnboardingDevice> {});
    publish(checkState, UsbOnboardingCheckState::waitingForDevice);
    usbPersistentProbeRunning = false;
    usbManualWakeRetryAttempted = false;
    setFlashStatus(UsbFlashStatus::Phase::idle, connectMessage);
    startUsbDeviceMonitoring();
    const auto ports = environment.serialPorts();
    observedUsbSerialPorts = std::set<std::string>(ports.begin(), ports.end());
    if (!observedUsbSerialPorts.empty()) {
        refreshUsbOnboardingCandidate();
    }
}

void UsbOnboardingService::cancelUsbOnboarding()
{
    if (!usbFlashTask) {
        renewGeneration();
    }
    std::vector<UsbTaskHandle> taken { usbProbeTask, usbWifiScanTask, usbWifiTestTask, usbStageTask };
    for (auto& task : taken) {
        if (task) {
            task->cancel();
        }
    }
    usbProbeTask = usbWifiScanTask = usbWifiTestTask = usbStageTask = nullptr;
    publish(wifiScanInProgress, false);
    if (wifiVerificationState.kind == UsbWifiVerificationState::Kind::testing) {
        publish(wifiVerificationState, UsbWifiVerificationState::idle());
    }
    if (!usbPersistentProbeRunning || !device) {
        return;
    }
    const std::string port = device->portPath;
    usbPersistentProbeRunning = false;
    auto cleanup = std::make_shared<UsbTask>();
    usbCleanupTask = cleanup;
    auto weak = weakSelf();
    // The probe on the board holds the port: stop it only after every cancelled run has ended.
    waitForUsbTasks(std::move(taken), [weak, cleanup, port] {
        UsbOnboardingService* service = alive(weak);
        if (service == nullptr) {
            cleanup->finish();
            return;
        }
        service->runHelper(
            cleanup, { "stop-probe", "--port", port }, std::nullopt, [weak, cleanup](UsbRunOutcome outcome) {
                if (UsbOnboardingService* service = alive(weak)) {
                    service->appendLog(outcome.succeeded()
                            ? std::string("Persistent RAM onboarding probe stopped")
                            : "Could not stop persistent RAM onboarding probe: " + outcome.error->description());
                }
                cleanup->finish();
            });
    });
}

void UsbOnboardingService::retryUsbOnboarding()
{
    if (usbFlashTask) {
        return;
    }
    if (checkState == UsbOnboardingCheckState::needsManualWake) {
        usbManualWakeRetryAttempted = true;
    }
    usbMonitoringSuspended = false;
    startUsbDeviceMonitoring();
    handleUsbSerialPortChange();
    if (flashStatus.phase != UsbFlashStatus::Phase::probing) {
        refreshUsbOnboardingCandidate();
    }
}

void UsbOnboardingService::setUsbOnboardingTarget(UsbOnboardingTarget chosen)
{
    if (target == chosen) {
        return;
    }
    // A running installation keeps its generation and its status line: renewing the one would
    // silence the flash's progress and result, overwriting the other would hide them.
    const bool flashing = usbFlashTask != nullptr;
    if (!flashing) {
        renewGeneration();
        usbMonitoringSuspended = false;
    }
    cancelSetupAndClearState();
    publish(target, std::optional<UsbOnboardingTarget>(chosen));
    publish(checkState, UsbOnboardingCheckState::targetSetup);
    if (flashing) {
        return;
    }
    setFlashStatus(UsbFlashStatus::Phase::idle, "Verifying " + displayName(chosen) + "...");
    refreshUsbOnboardingCandidate();
}

void UsbOnboardingService::selectUnsupportedUsbOnboardingTarget()
{
    if (usbFlashTask) {
        return;
    }
    renewGeneration();
    cancelSetupAndClearState();
    publish(target, std::optional<UsbOnboardingTarget> {});
    publish(checkState, UsbOnboardingCheckState::readyForTargetSelection);
    setFlashStatus(UsbFlashStatus::Phase::idle, "As of now Tavrik does not support other devices");
}

} // namespace tavrik
