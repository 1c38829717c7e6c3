#include "TavrikLink/Usb/UsbOnboardingService.hpp"

#include "TavrikCore/Model/CompanionTimeZone.hpp"
#include "TavrikCore/Model/WifiOrdering.hpp"
#include "TavrikCore/Support/Text.hpp"

#include <QDateTime>
#include <QTimeZone>

#include <algorithm>
#include <map>

namespace tavrik {

namespace {

constexpr std::chrono::milliseconds setupPause { 1000 };

Data passwordInput(const std::string& password)
{
    Data bytes(password.begin(), password.end());
    bytes.push_back('\n');
    return bytes;
}

std::string localWallClock(const Clock& clock)
{
    const auto milliseconds
        = std::chrono::duration_cast<std::chrono::milliseconds>(clock.now().time_since_epoch()).count();
    const QTimeZone zone(QByteArray::fromStdString(clock.timeZoneId()));
    const QDateTime moment = zone.isValid() ? QDateTime::fromMSecsSinceEpoch(milliseconds, zone)
                                            : QDateTime::fromMSecsSinceEpoch(milliseconds);
    return moment.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString();
}

} // namespace

std::vector<UsbWifiNetwork> UsbOnboardingService::parseUsbWifiNetworks(
    const std::string& output, std::string_view localeId)
{
    static const std::string prefix = "USB_WIFI_SCAN ";
    std::map<std::string, UsbWifiNetwork> strongest;
    std::vector<std::string> order;
    for (const auto& line : splitUsbOutputLines(output)) {
        if (!line.starts_with(prefix)) {
            continue;
        }
        const auto envelope = UsbWifiScanEnvelope::decode(std::string_view(line).substr(prefix.size()));
        if (!envelope || envelope->type != "network" || !envelope->ssid || !envelope->rssi || !envelope->channel
            || !envelope->auth) {
            continue;
        }
        const std::string ssid = text::trimmed(*envelope->ssid);
        if (ssid.empty()) {
            continue;
        }
        const auto found = strongest.find(ssid);
        if (found != strongest.end() && found->second.rssi >= *envelope->rssi) {
            continue;
        }
        if (found == strongest.end()) {
            order.push_back(ssid);
        }
        strongest[ssid] = UsbWifiNetwork { ssid, *envelope->rssi, *envelope->channel, *envelope->auth };
    }
    std::vector<UsbWifiNetwork> networks;
    networks.reserve(order.size());
    for (const auto& ssid : order) {
        networks.push_back(strongest[ssid]);
    }
    sortByStrengthThenName(networks, localeId);
    return networks;
}

std::optional<UsbWifiTestResult> UsbOnboardingService::parseUsbWifiTestResult(const std::string& output)
{
    static const std::string prefix = "USB_WIFI_TEST ";
    const auto lines = splitUsbOutputLines(output);
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        if (!line->starts_with(prefix)) {
            continue;
        }
        auto result = UsbWifiTestResult::decode(std::string_view(*line).substr(prefix.size()));
        if (result && result->type == "wifi-test") {
            return result;
        }
    }
    return std::nullopt;
}

std::vector<std::string> UsbOnboardingService::usbWifiTestArguments(const std::string& portPath, const std::string& ssid)
{
    return { "wifi-test", "--port", portPath, "--ssid", ssid, "--password-stdin", "--timeout", "30" };
}

void UsbOnboardingService::startUsbWifiScan()
{
    if (usbWifiScanTask || usbWifiTestTask || !usbPersistentProbeRunning || !hasVerifiedUsbOnboardingDevice() || !device
        || device->target != UsbOnboardingTarget::lilyGoTEmbedCc1101) {
        return;
    }
    publish(wifiScanInProgress, true);
    publish(wifiScanMessage, std::optional<std::string> {});
    publish(wifiNetworks, std::vector<UsbWifiNetwork> {});
    publish(wifiVerificationState, UsbWifiVerificationState::idle());
    appendLog("Starting RAM-only Wi-Fi scan on " + device->portPath);
    const Uuid captured = generation;
    const std::string port = device->portPath;
    auto task = std::make_shared<UsbTask>();
    usbWifiScanTask = task;
    auto weak = weakSelf();
    auto end = [weak, task, captured] {
        if (UsbOnboardingService* service = alive(weak); service != nullptr && service->generation == captured) {
            service->publish(service->wifiScanInProgress, false);
            if (service->usbWifiScanTask == task) {
                service->usbWifiScanTask = nullptr;
            }
        }
        task->finish();
    };
    auto failed = [weak, task, end](const std::string& description) {
        if (UsbOnboardingService* service = alive(weak); service != nullptr && !task->isCancelled()) {
            service->publish(service->wifiScanMessage,
                std::optional<std::string>("Could not scan Wi-Fi networks. Activate the device and scan again."));
            service->appendLog("RAM-only Wi-Fi scan failed: " + description);
        }
        end();
    };
    runProbeStep(task, { "wifi-scan", "--port", port, "--timeout", "30" }, std::nullopt, end, failed,
        [end](UsbOnboardingService& service, const std::string& output) {
            auto networks = parseUsbWifiNetworks(output, service.environment.clock->localeId());
            const std::size_t count = networks.size();
            service.publish(service.wifiNetworks, std::move(networks));
            service.publish(service.wifiScanMessage,
                count == 0 ? std::optional<std::string>(
                    "No Wi-Fi networks were found. Make sure the network is visible, then scan again.")
                           : std::nullopt);
            service.appendLog("RAM-only Wi-Fi scan found " + std::to_string(count) + " network(s)");
            end();
        });
}

void UsbOnboardingService::verifyUsbWifiCredentials(const std::string& rawSsid, const std::string& password)
{
    const std::string ssid = text::trimmed(rawSsid);
    if (ssid.empty() || usbWifiScanTask || usbWifiTestTask || !usbPersistentProbeRunning || !device
        || target != UsbOnboardingTarget::lilyGoTEmbedCc1101) {
        return;
    }
    publish(wifiVerificationState, UsbWifiVerificationState::testing());
    appendLog("Testing Wi-Fi credentials in the persistent RAM probe");
    const Uuid captured = generation;
    const std::string port = device->portPath;
    auto task = std::make_shared<UsbTask>();
    usbWifiTestTask = task;
    auto weak = weakSelf();
    auto end = [weak, task, captured] {
        if (UsbOnboardingService* service = alive(weak);
            service != nullptr && service->generation == captured && service->usbWifiTestTask == task) {
            service->usbWifiTestTask = nullptr;
        }
        task->finish();
    };
    auto failed = [weak, task, end](const std::string& description) {
        if (UsbOnboardingService* service = alive(weak); service != nullptr && !task->isCancelled()) {
            service->publish(service->wifiVerificationState, UsbWifiVerificationState::failed(description));
            service->appendLog("RAM Wi-Fi verification failed: " + description);
        }
        end();
    };
    runProbeStep(task, usbWifiTestArguments(port, ssid), passwordInput(password), end, failed,
        [end, failed](UsbOnboardingService& service, const std::string& output) {
            const auto result = parseUsbWifiTestResult(output);
            if (!result || result->result != "pass") {
                failed("The device could not authenticate to the selected Wi-Fi network.");
                return;
            }
            service.publish(service.wifiVerificationState, UsbWifiVerificationState::verified());
            service.appendLog("RAM Wi-Fi verification passed on channel " + std::to_string(result->channel.value_or(0))
                + " at RSSI " + std::to_string(result->rssi.value_or(0)));
            end();
        });
}

void UsbOnboardingService::invalidateUsbWifiVerification()
{
    const auto kind = wifiVerificationState.kind;
    if (kind == UsbWifiVerificationState::Kind::testing) {
        return;
    }
    publish(wifiVerificationState, UsbWifiVerificationState::idle());
    if (kind != UsbWifiVerificationState::Kind::verified || !usbPersistentProbeRunning || !device) {
        return;
    }
    cancelTask(usbStageTask);
    auto task = std::make_shared<UsbTask>();
    usbStageTask = task;
    auto weak = weakSelf();
    auto report = [weak, task](const std::string& line) {
        if (UsbOnboardingService* service = alive(weak)) {
            service->appendLog(line);
        }
        task->finish();
    };
    runHelper(task, { "probe-stage", "--port", device->portPath, "--stage", "select-wifi", "--timeout", "3" },
        std::nullopt, [report](UsbRunOutcome outcome) {
            report(outcome.succeeded() ? std::string("RAM onboarding probe returned to Wi-Fi selection")
                                       : "Could not update RAM onboarding stage: " + outcome.error->description());
        });
}

void UsbOnboardingService::configureWifiTimeOverUSB(const UsbTaskHandle& task, const std::string& installerPath,
    const std::string& portPath, const std::string& ssid, const std::string& password, SuffixCompletion completion)
{
    runSetupStep(
        task, installerPath,
        [portPath, ssid](const Clock& clock) {
            return std::vector<std::string> { "configure-wifi-time", "--port", portPath, "--ssid", ssid,
                "--password-stdin", "--timezone", CompanionTimeZone::posixValue(clock.timeZoneId(), clock) };
        },
        passwordInput(password),
        { " Wi-Fi time sync setup failed: ", "Tavrik Wi-Fi time configured over USB.", " Wi-Fi time sync configured." },
        std::move(completion));
}

void UsbOnboardingService::syncTavrikTimeOverUSB(const UsbTaskHandle& task, const std::string& installerPath,
    const std::string& portPath, SuffixCompletion completion)
{
    // The arguments are made after the pause, so the board gets the time of the moment it is told.
    runSetupStep(
        task, installerPath,
        [portPath](const Clock& clock) {
            return std::vector<std::string> { "set-time", "--port", portPath, "--time", localWallClock(clock) };
        },
        std::nullopt, { " Time update failed: ", "Tavrik time synced over USB.", " Time updated." },
        std::move(completion));
}

void UsbOnboardingService::runSetupStep(const UsbTaskHandle& task, const std::string& installerPath,
    std::function<std::vector<std::string>(const Clock&)> arguments, std::optional<Data> standardInput,
    SetupStepTexts texts, SuffixCompletion completion)
{
    auto weak = weakSelf();
    sleepStep(task, setupPause,
        [weak, task, installerPath, arguments = std::move(arguments), standardInput = std::move(standardInput),
            texts = std::move(texts), completion = std::move(completion)] {
            UsbOnboardingService* service = alive(weak);
            if (service == nullptr || task->isCancelled()) {
                completion(texts.failurePrefix + UsbError::cancellation().description());
                return;
            }
            service->runHelperAt(task, installerPath, arguments(*service->environment.clock), standardInput, nullptr,
                [texts, completion](UsbRunOutcome outcome) {
                    if (!outcome.succeeded()) {
                        completion(texts.failurePrefix + outcome.error->description());
                        return;
                    }
                    const std::string trimmedOutput = text::trimmed(*outcome.output);
                    completion(trimmedOutput.empty() || trimmedOutput == texts.plainOutput ? texts.plainSuffix
                                                                                           : " " + trimmedOutput);
                });
        });
}

} // namespace tavrik
