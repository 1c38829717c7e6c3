#include "TavrikLink/Usb/UsbOnboardingService.hpp"

#include "TavrikCore/Support/Text.hpp"
#include "TavrikLink/Support/WholeFileWriter.hpp"
#include "TavrikLink/Usb/OnboardingLabelRenderer.hpp"

#include <QFile>
#include <QTemporaryDir>

#include <charconv>
#include <cmath>

namespace tavrik {

namespace {

using Phase = UsbFlashStatus::Phase;

// A private (0700) directory for one helper run's files, removed with the last owner.
std::shared_ptr<QTemporaryDir> makePrivateDirectory()
{
    auto directory = std::make_shared<QTemporaryDir>(QDir::tempPath() + "/tavrik-usb-XXXXXX");
    if (!directory->isValid()) {
        throw UsbError(UsbError::firmwareDomain, 24, "Tavrik Link could not create a temporary folder for USB setup.");
    }
    QFile::setPermissions(directory->path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return directory;
}

std::string writeFile(const QTemporaryDir& directory, const std::string& name, const Data& bytes)
{
    // The helper must never get a file cut short by a full disk.
    std::string path = QFile::encodeName(directory.filePath(QString::fromStdString(name))).toStdString();
    if (const auto reason = WholeFileWriter().write(path, bytes)) {
        throw UsbError(UsbError::firmwareDomain, 25, "Tavrik Link could not write " + name + ": " + *reason);
    }
    return path;
}

std::optional<std::int64_t> parseDecimal(const std::string& text)
{
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<UsbHardwareProbeResult> parseUsbProbeEnvelope(const std::string& line, const std::string& prefix)
{
    if (!line.starts_with(prefix)) {
        return std::nullopt;
    }
    return UsbHardwareProbeResult::decode(std::string_view(line).substr(prefix.size()));
}

} // namespace

std::string UsbOnboardingService::safeImageFileName(const std::string& fileName)
{
    // A manifest names the file; it must never lead outside the private folder.
    std::string name = fileName;
    if (const auto slash = name.find_last_of("/\\"); slash != std::string::npos) {
        name = name.substr(slash + 1);
    }
    if (name.empty() || name == "." || name == "..") {
        return "firmware.bin";
    }
    return name;
}

void UsbOnboardingService::startUsbOnboardingFlash(
    const std::optional<std::string>& wifiSsid, const std::optional<std::string>& wifiPassword)
{
    if (usbFlashTask) {
        return;
    }
    cancelTask(usbProbeTask);
    cancelTask(usbWifiScanTask);
    publish(wifiScanInProgress, false);

    const std::string ssid = text::trimmed(wifiSsid.value_or(""));
    auto refuse = [this](const std::string& message) { setFlashStatus(Phase::failed, message); };
    if (!device) {
        return refuse("No USB device is ready for USB installation.");
    }
    if (device->hasTavrikFirmware) {
        return refuse("USB onboarding only flashes an empty USB device selected in the setup flow.");
    }
    if (!device->target) {
        return refuse("Choose which Tavrik device to initialize before installing firmware.");
    }
    const UsbOnboardingTarget board = *device->target;
    if (board == UsbOnboardingTarget::lilyGoTEmbedCc1101 && ssid.empty()) {
        return refuse("Select a Wi-Fi network before setting up LILYGO T-Embed CC1101.");
    }
    if (board == UsbOnboardingTarget::lilyGoTEmbedCc1101
        && wifiVerificationState.kind != UsbWifiVerificationState::Kind::verified) {
        return refuse("Save and verify the Wi-Fi configuration before setting up LILYGO T-Embed CC1101.");
    }
    const std::optional<FirmwareAsset> asset = availableFirmwareAsset ? availableFirmwareAsset() : std::nullopt;
    if (!asset) {
        return refuse("No published firmware is available.");
    }
    const auto factory = asset->factoryAssets.find(rawValue(board));
    if (factory == asset->factoryAssets.end()) {
        return refuse("The published firmware does not include a USB onboarding image for " + displayName(board) + ".");
    }
    const std::string password = wifiPassword.value_or("");

    renewGeneration();
    cancelTask(usbWifiTestTask);
    cancelTask(usbStageTask);
    usbMonitoringSuspended = true;
    usbPersistentProbeRunning = false;
    stopUsbDeviceMonitoring();
    publish(notice, std::optional<UsbOnboardingNotice> {});
    appendLog("Starting USB setup for " + rawValue(board) + "; USB monitoring suspended");
    setFlashStatus(Phase::flashing,
        "Flashing Tavrik firmware " + asset->version + " for " + displayName(board) + " over USB...", 0,
        factory->second.sizeBytes);
    auto task = std::make_shared<UsbTask>();
    usbFlashTask = task;
    runInstallation(task, generation, factory->second, *device, board, ssid, password);
}

void UsbOnboardingService::runInstallation(const UsbTaskHandle& task, Uuid captured, const FirmwareFactoryAsset& asset,
    const UsbOnboardingDevice& board, UsbOnboardingTarget boardTarget, const std::string& ssid,
    const std::string& password)
{
    auto weak = weakSelf();
    // Ends the task on every road: the handle is cleared when it still names this task, whatever
    // happened to the generation meanwhile, so no ended installation blocks later actions.
    // The image folder goes on every road out, whoever still holds a callback.
    auto folder = std::make_shared<std::shared_ptr<QTemporaryDir>>();
    auto end = [weak, task, folder] {
        folder->reset();
        if (UsbOnboardingService* service = alive(weak); service != nullptr && service->usbFlashTask == task) {
            service->usbFlashTask = nullptr;
        }
        task->finish();
    };
    auto fail = [weak, task, captured, end](const std::string& description) {
        UsbOnboardingService* service = alive(weak);
        if (service != nullptr && !task->isCancelled() && service->generation == captured) {
            // One instruction only: a helper text that already says what to do keeps its own.
            const bool instructs = text::lowercased(description).find("try again") != std::string::npos;
            service->publish(service->flashStatus,
                UsbFlashStatus { Phase::failed,
                    "USB flashing stopped: " + description
                        + (instructs ? std::string()
                                     : " Reconnect the device and choose Try Again; Tavrik Link will not probe it "
                                       "automatically."),
                    service->flashStatus.bytesTransferred, service->flashStatus.totalBytes });
            service->appendLog("USB firmware install failed; automatic USB probing remains suspended: " + description);
        }
        end();
    };

    std::string helper;
    try {
        helper = environment.helperPath();
        *folder = makePrivateDirectory();
    } catch (const std::exception& error) {
        // Not inside the caller's call: the status it set stays until the event loop turns.
        environment.scheduler->schedule(
            std::chrono::milliseconds(0), [fail, message = std::string(error.what())] { fail(message); });
        return;
    }
    if (!download) {
        environment.scheduler->schedule(
            std::chrono::milliseconds(0), [fail] { fail("No firmware download is configured."); });
        return;
    }

    auto afterFlash = [weak, task, captured, end, fail, helper, board, boardTarget, ssid, password,
                          total = asset.sizeBytes](UsbRunOutcome outcome) {
        UsbOnboardingService* service = alive(weak);
        if (service == nullptr) {
            end();
            return;
        }
        if (task->isCancelled()) {
            fail(UsbError::cancellation().description());
            return;
        }
        if (!outcome.succeeded()) {
            fail(outcome.error->description());
            return;
        }
        const std::string completion = cleanUsbFlashCompletionMessage(*outcome.output);
        auto finishWith = [weak, task, captured, end, completion, total](
                              const std::string& wifiText, const std::string& timeText) {
            UsbOnboardingService* service = alive(weak);
            if (service != nullptr && !task->isCancelled() && service->generation == captured) {
                service->setFlashStatus(Phase::completed, text::trimmed(completion + wifiText + timeText), total, total);
                service->appendLog("USB firmware install completed; automatic USB probing remains suspended");
            }
            end();
        };
        auto syncTime = [weak, task, helper, port = board.portPath, finishWith, end](const std::string& wifiText) {
            UsbOnboardingService* service = alive(weak);
            if (service == nullptr) {
                end();
                return;
            }
            service->syncTavrikTimeOverUSB(task, helper, port,
                [finishWith, wifiText](const std::string& timeText) { finishWith(wifiText, timeText); });
        };
        if (boardTarget == UsbOnboardingTarget::lilyGoTEmbedCc1101) {
            service->configureWifiTimeOverUSB(task, helper, board.portPath, ssid, password, syncTime);
        } else {
            syncTime("");
        }
    };

    // The download's result, at most once: a cancelled download goes on at once as a failure.
    auto settled = std::make_shared<bool>(false);
    auto afterDownload = [weak, task, captured, end, fail, helper, folder, asset, board, boardTarget, afterFlash,
                             settled](DownloadResult result) {
        if (*settled) {
            return;
        }
        *settled = true;
        task->clearStep();
        UsbOnboardingService* service = alive(weak);
        if (service == nullptr) {
            end();
            return;
        }
        if (!result.data) {
            fail(result.errorDescription);
            return;
        }
        if (task->isCancelled()) {
            fail(UsbError::cancellation().description());
            return;
        }
        std::string imagePath;
        try {
            if (!*folder) {
                throw UsbError(
                    UsbError::firmwareDomain, 24, "Tavrik Link could not create a temporary folder for USB setup.");
            }
            imagePath = writeFile(**folder, safeImageFileName(asset.fileName), *result.data);
        } catch (const std::exception& error) {
            fail(error.what());
            return;
        }
        const std::vector<std::string> arguments { "flash", "--port", board.portPath, "--image", imagePath,
            "--verified-target", rawValue(boardTarget) };
        service->runHelperAt(
            task, helper, arguments, std::nullopt,
            [weak, captured](const std::string& line) {
                if (UsbOnboardingService* service = alive(weak); service != nullptr && service->generation == captured) {
                    service->handleUsbFlashOutputLine(line);
                }
            },
            // The image is no longer needed once the flash run has ended.
            [afterFlash, folder](UsbRunOutcome outcome) {
                folder->reset();
                afterFlash(std::move(outcome));
            });
    };
    UsbCancel stopDownload = download(asset.url, asset.sizeBytes, asset.sha256, afterDownload);
    Scheduler* scheduler = environment.scheduler;
    task->setStep([stopDownload, scheduler, afterDownload] {
        if (stopDownload) {
            stopDownload();
        }
        scheduler->schedule(std::chrono::milliseconds(0), [afterDownload] {
            afterDownload(DownloadResult { std::nullopt, UsbError::cancellation().description() });
        });
    });
}

std::string UsbOnboardingService::cleanUsbFlashCompletionMessage(const std::string& output)
{
    const std::string trimmedOutput = text::trimmed(output);
    if (!trimmedOutput.empty() && !trimmedOutput.starts_with("Tavrik firmware installed over USB")) {
        return " " + trimmedOutput;
    }
    return "";
}

void UsbOnboardingService::handleUsbFlashOutputLine(const std::string& line)
{
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start <= line.size()) {
        const std::size_t blank = line.find(' ', start);
        const std::string piece = line.substr(start, blank == std::string::npos ? std::string::npos : blank - start);
        if (!piece.empty()) {
            pieces.push_back(piece);
        }
        if (blank == std::string::npos) {
            break;
        }
        start = blank + 1;
    }
    if (pieces.size() != 3 || pieces[0] != "USB_FLASH_PROGRESS") {
        return;
    }
    const auto done = parseDecimal(pieces[1]);
    const auto total = parseDecimal(pieces[2]);
    if (!done || !total || flashStatus.phase != Phase::flashing) {
        return;
    }
    std::int64_t percent = 0;
    if (*total >= 1) {
        const double quotient = std::trunc(static_cast<double>(*done) / static_cast<double>(*total) * 100.0);
        percent = std::abs(quotient) < 9.2e18 ? static_cast<std::int64_t>(quotient) : 0;
    }
    setFlashStatus(Phase::flashing, std::to_string(percent) + "%", *done, *total);
}

void UsbOnboardingService::probeTavrikSerialPort(
    const UsbTaskHandle& task, const std::string& port, const ProbeCompletion& completion)
{
    runHelper(task, { "probe", "--port", port, "--json" }, std::nullopt, [port, completion](UsbRunOutcome outcome) {
        if (!outcome.succeeded()) {
            completion(std::nullopt, *outcome.error);
            return;
        }
        const auto answer = UsbTavrikProbeResult::decode(text::trimmed(*outcome.output));
        if (!answer) {
            completion(
                std::nullopt, UsbError(UsbError::usbDomain, 41, "Unexpected USB probe response from " + port + "."));
            return;
        }
        completion(answer, std::nullopt);
    });
}

void UsbOnboardingService::runHardwareProbe(const UsbTaskHandle& task, const std::string& port,
    UsbOnboardingTarget chosen, const HardwareProbeCompletion& completion)
{
    std::string helper;
    try {
        helper = environment.helperPath();
    } catch (const UsbError& error) {
        completion(std::nullopt, error);
        return;
    }
    const std::optional<std::string> image
        = environment.probeImagePath ? environment.probeImagePath(rawValue(chosen)) : std::nullopt;
    if (!image) {
        completion(std::nullopt,
            UsbError(UsbError::firmwareDomain, 20,
                "Tavrik Link does not include the USB probe image for " + displayName(chosen) + "."));
        return;
    }
    setFlashStatus(
        Phase::probing, "Look for the animation on your " + displayName(chosen) + ", then press its main button once.");
    if (chosen == UsbOnboardingTarget::lilyGoTEmbedCc1101) {
        usbPersistentProbeRunning = true;
    }
    std::vector<std::string> arguments { "hardware-probe", "--port", port, "--image", *image, "--expected-target",
        rawValue(chosen), "--timeout", "90" };
    auto labels = std::make_shared<std::shared_ptr<QTemporaryDir>>();
    if (chosen == UsbOnboardingTarget::lilyGoTEmbedCc1101) {
        try {
            const Data pack
                = OnboardingLabelRenderer::makePack(OnboardingLabelCopy::localized(), environment.labelFontPath());
            *labels = makePrivateDirectory();
            arguments.push_back("--labels");
            arguments.push_back(writeFile(**labels, "tavrik-onboarding-labels-" + Uuid::make().text() + ".bin", pack));
        } catch (const UsbError& error) {
            completion(std::nullopt, error);
            return;
        } catch (const std::exception& error) {
            completion(std::nullopt, UsbError(UsbError::firmwareDomain, 21, error.what()));
            return;
        }
    }
    auto weak = weakSelf();
    const Uuid captured = generation;
    runHelperAt(
        task, helper, arguments, std::nullopt,
        [weak, captured, chosen](const std::string& line) {
            if (UsbOnboardingService* service = alive(weak); service != nullptr && service->generation == captured) {
                service->handleUsbProbeOutputLine(line, chosen);
            }
        },
        [chosen, completion, labels](UsbRunOutcome outcome) {
            labels->reset();
            if (!outcome.succeeded()) {
                completion(std::nullopt, *outcome.error);
                return;
            }
            const auto result = parseUsbProbeResult(*outcome.output);
            if (!result) {
                completion(std::nullopt,
                    UsbError(UsbError::firmwareDomain, 22, "USB hardware probe did not return a result."));
                return;
            }
            if (result->result == "pass" && result->target == rawValue(chosen)) {
                completion(result, std::nullopt);
                return;
            }
            completion(std::nullopt,
                UsbError(UsbError::firmwareDomain, 23,
                    result->message.value_or("Connected hardware does not match " + displayName(chosen) + ".")));
        });
}

void UsbOnboardingService::handleUsbProbeOutputLine(const std::string& line, UsbOnboardingTarget chosen)
{
    const auto status = parseUsbProbeEnvelope(line, "USB_PROBE_STATUS ");
    if (!status) {
        return;
    }
    setFlashStatus(Phase::probing, usbProbeStageCopy(*status, status->board.value_or(displayName(chosen))));
}

std::string UsbOnboardingService::usbProbeStageCopy(const UsbHardwareProbeResult& result, const std::string& board)
{
    if (result.stage == "button") {
        return "You should see an animation on the device. Press its main button once to confirm.";
    }
    if (result.stage == "passed") {
        return "Hardware check passed.";
    }
    if (result.stage == "failed") {
        return "Hardware check failed. Unplug the device and try again.";
    }
    if (result.instruction) {
        return text::trimmed(*result.instruction);
    }
    if (result.message) {
        return *result.message;
    }
    return "Checking " + board + "...";
}

std::optional<UsbHardwareProbeResult> UsbOnboardingService::parseUsbProbeResult(const std::string& output)
{
    std::optional<UsbHardwareProbeResult> last;
    std::size_t start = 0;
    while (start <= output.size()) {
        const std::size_t end = output.find('\n', start);
        const std::string line = output.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (auto result = parseUsbProbeEnvelope(line, "USB_PROBE_RESULT ")) {
            last = std::move(result);
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return last;
}

} // namespace tavrik
