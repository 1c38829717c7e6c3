#include "TavrikLink/Views/UsbSetupPresenter.hpp"

#include "TavrikCore/Support/Text.hpp"
#include "TavrikLink/Controller/TavrikBleCentral.hpp"
#include "TavrikLink/Usb/UsbOnboardingService.hpp"
#include "TavrikLink/Views/ContentViewPresenter.hpp"

namespace tavrik {

namespace {

using Phase = UsbFlashStatus::Phase;
using Kind = UsbWifiVerificationState::Kind;

bool startsWith(const std::string& text, std::string_view prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool hasFactoryImage(const UsbSetupInputs& inputs)
{
    const auto& asset = inputs.firmware.availableFirmwareAsset;
    return asset && inputs.target && asset->factoryAssets.count(rawValue(*inputs.target)) > 0;
}

bool wifiBusy(const UsbSetupInputs& inputs)
{
    return inputs.wifiScanInProgress || inputs.wifiVerification.kind == Kind::testing;
}

UsbDevicePicker devicePicker(const UsbSetupInputs& inputs)
{
    UsbDevicePicker picker;
    picker.showsHeadline = !UsbSetupPresenter::usbDevicePickerHasSelection(inputs);
    for (UsbOnboardingTarget target : allUsbOnboardingTargets) {
        picker.cards.push_back({ target, displayName(target), !inputs.otherDeviceSelected && inputs.target == target });
    }
    picker.cards.push_back({ std::nullopt, UsbSetupPresenter::otherTitle, inputs.otherDeviceSelected });
    picker.showsUnsupportedNote = inputs.otherDeviceSelected;
    return picker;
}

UsbWifiForm wifiForm(const UsbSetupInputs& inputs)
{
    const bool busy = wifiBusy(inputs);
    UsbWifiForm form;
    if (inputs.wifiNetworks.empty()) {
        form.networks.push_back({ UsbSetupPresenter::noNetworks, "" });
    }
    for (const UsbWifiNetwork& network : inputs.wifiNetworks) {
        form.networks.push_back({ network.ssid, network.ssid });
    }
    form.selectedSsid = inputs.wifiSsid;
    form.networkPickerEnabled = !inputs.wifiNetworks.empty() && !busy;
    form.scanEnabled = !busy;
    form.passwordRowEnabled = !busy;
    form.passwordVisible = inputs.wifiPasswordVisible;
    form.password = inputs.wifiPassword;
    if (inputs.wifiPasswordVisible) {
        form.visibilitySymbol = "eye.slash";
        form.visibilityLabel = "Hide Wi-Fi password";
        form.visibilityHelp = "Hide password";
    } else {
        form.visibilitySymbol = "eye";
        form.visibilityLabel = "Show Wi-Fi password";
        form.visibilityHelp = "Show password";
    }
    form.saveEnabled = !inputs.wifiSsid.empty() && !inputs.wifiNetworks.empty() && !busy;

    using Style = UsbWifiNotification::Style;
    if (inputs.wifiScanInProgress) {
        form.notifications.push_back({ Style::progress, "Checking available Wi-Fi networks" });
    }
    if (inputs.wifiScanMessage) {
        form.notifications.push_back({ Style::plain, *inputs.wifiScanMessage });
    }
    switch (inputs.wifiVerification.kind) {
    case Kind::idle:
        break;
    case Kind::testing:
        form.notifications.push_back({ Style::progress, "Checking Wi-Fi connection" });
        break;
    case Kind::verified:
        form.notifications.push_back({ Style::verified, "Wi-Fi connection verified" });
        break;
    case Kind::failed:
        form.notifications.push_back({ Style::failed, "Wi-Fi connection failed: " + inputs.wifiVerification.message });
        break;
    }
    return form;
}

UsbTargetSetup targetSetup(const UsbSetupInputs& inputs)
{
    UsbTargetSetup setup;
    if (inputs.target == UsbOnboardingTarget::lilyGoTEmbedCc1101 && inputs.hasVerifiedDevice) {
        setup.wifiForm = wifiForm(inputs);
    }
    if (inputs.flashStatus.phase == Phase::failed) {
        setup.failure = UsbSetupFailure { inputs.hostProblem ? std::string("USB device check failed.")
                                                             : UsbSetupPresenter::usbFailureTitle(inputs.flashStatus),
            inputs.flashStatus.message };
        return setup;
    }
    setup.statusMessage = UsbSetupPresenter::usbConnectionStatusMessage(inputs);
    setup.statusSpinner = setup.statusMessage && inputs.flashStatus.phase == Phase::probing;
    setup.showsInstall = inputs.hasVerifiedDevice;
    setup.installEnabled = !UsbSetupPresenter::usbInstallDisabled(inputs);
    return setup;
}

} // namespace

UsbSetupPresenter::UsbSetupPresenter(UsbOnboardingService& service, ContentViewPresenter& window,
    std::function<UsbSetupFirmware()> firmware, QObject* parent)
    : QObject(parent)
    , service(service)
    , window(window)
    , firmware(std::move(firmware))
    , self(std::make_shared<UsbSetupPresenter*>(this))
{
    std::weak_ptr<UsbSetupPresenter*> weak = self;
    auto& actions = window.actions();
    actions.updateUsbMonitoring = [weak] {
        if (auto model = weak.lock(); model && *model) {
            (*model)->updateUsbMonitoring();
        }
    };
    actions.usbInstallAlertMessage = [weak] {
        const auto model = weak.lock();
        return model && *model ? usbInstallAlertMessage((*model)->service.usbOnboardingDevice())
                               : usbInstallAlertMessage(std::nullopt);
    };
    connect(&service, &UsbOnboardingService::changed, this, &UsbSetupPresenter::refresh);
    connect(&window, &ContentViewPresenter::changed, this, &UsbSetupPresenter::refresh);
    firmwareNow = this->firmware ? this->firmware() : UsbSetupFirmware {};
    current = read();
}

UsbSetupPresenter::UsbSetupPresenter(TavrikBleCentral& controller, ContentViewPresenter& window, QObject* parent)
    : UsbSetupPresenter(
        controller.usbOnboarding(), window,
        [&controller] {
            return UsbSetupFirmware { controller.availableFirmwareAsset(), controller.firmwareSourceDescription(),
                controller.firmwareUpload().status().phase };
        },
        parent)
{
    connect(&controller, &TavrikBleCentral::availableFirmwareAssetChanged, this, &UsbSetupPresenter::firmwareChanged);
    connect(&controller, &TavrikBleCentral::firmwareDescriptionsChanged, this, &UsbSetupPresenter::firmwareChanged);
    connect(&controller, &TavrikBleCentral::firmwareUploadChanged, this, &UsbSetupPresenter::firmwareChanged);
}

UsbSetupPresenter::~UsbSetupPresenter()
{
    *self = nullptr;
}

UsbSetupInputs UsbSetupPresenter::read() const
{
    UsbSetupInputs inputs;
    inputs.target = service.usbOnboardingTarget();
    inputs.device = service.usbOnboardingDevice();
    inputs.checkState = service.usbOnboardingCheckState();
    inputs.flashStatus = service.usbFlashStatus();
    inputs.wifiNetworks = service.usbWifiNetworks();
    inputs.wifiScanInProgress = service.usbWifiScanInProgress();
    inputs.wifiScanMessage = service.usbWifiScanMessage();
    inputs.wifiVerification = service.usbWifiVerificationState();
    inputs.hasVerifiedDevice = service.hasVerifiedUsbOnboardingDevice();
    inputs.hasDetectedInstalledTavrik = service.hasDetectedInstalledTavrik();
    inputs.hasDetectedFlashCandidate = service.hasDetectedUsbFlashCandidate();
    inputs.hostProblem = service.usbOnboardingHostProblem();
    inputs.firmware = firmwareNow;
    const auto& state = window.state();
    inputs.otherDeviceSelected = state.usbOtherDeviceSelected;
    inputs.wifiSsid = state.usbWifiSsid;
    inputs.wifiPassword = state.usbWifiPassword;
    inputs.wifiPasswordVisible = state.usbWifiPasswordVisible;
    return inputs;
}

void UsbSetupPresenter::refresh()
{
    UsbSetupInputs next = read();
    if (next == current) {
        return;
    }
    current = std::move(next);
    emit changed();
}

void UsbSetupPresenter::firmwareChanged()
{
    firmwareNow = firmware ? firmware() : UsbSetupFirmware {};
    refresh();
}

UsbSetupScreen UsbSetupPresenter::screen(const UsbSetupInputs& inputs)
{
    UsbSetupScreen screen;
    using Screen = UsbSetupScreen::Kind;
    using State = UsbOnboardingCheckState;
    // A running or finished installation replaces whatever the check says.
    if (inputs.flashStatus.phase == Phase::flashing) {
        screen.kind = Screen::installationProgress;
        screen.bytesTransferred = inputs.flashStatus.bytesTransferred;
        screen.totalBytes = inputs.flashStatus.totalBytes;
        screen.progressIndeterminate = inputs.flashStatus.totalBytes < 1;
        return screen;
    }
    if (inputs.flashStatus.phase == Phase::completed) {
        screen.kind = Screen::installationSuccess;
        screen.message = inputs.flashStatus.message;
        return screen;
    }
    switch (inputs.checkState) {
    case State::waitingForDevice:
        screen.message = "Connect and activate the device you want to set up";
        break;
    case State::checkingCompatibility:
        screen.kind = Screen::checking;
        screen.message = "Checking if Tavrik can be installed";
        break;
    case State::multipleDevices:
        screen.message = "Multiple devices detected, please only connect the device you want to set up";
        break;
    case State::tavrikAlreadyInstalled:
        screen.message = inputs.flashStatus.message.empty() ? "Tavrik is already installed on this device"
                                                            : inputs.flashStatus.message;
        break;
    case State::unsupportedDevice:
        screen.message = "It seems Tavrik cannot be installed on the connected device";
        break;
    case State::hostProblem:
        screen.kind = Screen::hostProblem;
        screen.message = inputs.flashStatus.message;
        break;
    case State::needsManualWake:
        screen.kind = Screen::manualWake;
        screen.message = "Wake the connected device, then check again";
        break;
    case State::readyForTargetSelection:
        screen.kind = Screen::picker;
        screen.picker = devicePicker(inputs);
        break;
    case State::targetSetup:
        screen.kind = Screen::picker;
        screen.picker = devicePicker(inputs);
        screen.targetSetup = targetSetup(inputs);
        break;
    }
    return screen;
}

bool UsbSetupPresenter::usbDevicePickerHasSelection(const UsbSetupInputs& inputs)
{
    return inputs.otherDeviceSelected || inputs.target.has_value();
}

std::optional<std::string> UsbSetupPresenter::usbConnectionStatusMessage(const UsbSetupInputs& inputs)
{
    if (inputs.flashStatus.phase == Phase::probing) {
        return inputs.flashStatus.message;
    }
    if (inputs.hasDetectedInstalledTavrik) {
        return "Tavrik firmware is already installed on the connected device.";
    }
    if (!inputs.target) {
        return inputs.hasDetectedFlashCandidate ? "Compatible device detected. Select its model to continue."
                                                : "Connect a supported USB device to continue.";
    }
    const std::string name = displayName(*inputs.target);
    if (!inputs.hasVerifiedDevice) {
        return "Connect " + name + " with USB to set it up";
    }
    if (!inputs.firmware.availableFirmwareAsset) {
        if (inputs.firmware.uploadPhase == FirmwareUploadStatus::Phase::checking) {
            return "Loading the install build...";
        }
        return "No install build is available from " + inputs.firmware.firmwareSourceDescription + ".";
    }
    if (!hasFactoryImage(inputs)) {
        return "No " + name + " install build is available from " + inputs.firmware.firmwareSourceDescription + ".";
    }
    if (*inputs.target == UsbOnboardingTarget::lilyGoTEmbedCc1101 && text::trimmed(inputs.wifiSsid).empty()) {
        return "Select its Wi-Fi network to continue.";
    }
    return std::nullopt;
}

std::string UsbSetupPresenter::usbFailureTitle(const UsbFlashStatus& status)
{
    return startsWith(status.message, "No USB onboarding device detected") ? "USB device check failed."
                                                                           : "USB install failed.";
}

bool UsbSetupPresenter::usbInstallAvailable(const UsbSetupInputs& inputs)
{
    if (!inputs.hasVerifiedDevice || !inputs.firmware.availableFirmwareAsset || !inputs.target
        || !hasFactoryImage(inputs)) {
        return false;
    }
    if (*inputs.target == UsbOnboardingTarget::m5StickCPlus2) {
        return true;
    }
    return !text::trimmed(inputs.wifiSsid).empty() && inputs.wifiVerification.kind == Kind::verified;
}

bool UsbSetupPresenter::usbInstallDisabled(const UsbSetupInputs& inputs)
{
    return !usbInstallAvailable(inputs);
}

std::string UsbSetupPresenter::usbInstallAlertMessage(const std::optional<UsbOnboardingDevice>& device)
{
    if (device && !device->hasTavrikFirmware && device->target) {
        return "Installing Tavrik for " + displayName(*device->target) + " over USB will wipe the device.";
    }
    return "Installing over USB will wipe the device and erase its current Tavrik data.";
}

bool UsbSetupPresenter::setupNewDeviceEnabled(UsbFlashStatus::Phase phase)
{
    return phase != Phase::flashing;
}

void UsbSetupPresenter::chooseTarget(UsbOnboardingTarget target)
{
    window.modify([](ContentViewPresenter::State& state) { state.usbOtherDeviceSelected = false; });
    service.setUsbOnboardingTarget(target);
}

void UsbSetupPresenter::chooseOtherDevice()
{
    window.modify([](ContentViewPresenter::State& state) { state.usbOtherDeviceSelected = true; });
    service.selectUnsupportedUsbOnboardingTarget();
}

void UsbSetupPresenter::checkAgain()
{
    service.retryUsbOnboarding();
}

void UsbSetupPresenter::tryAgain()
{
    service.retryUsbOnboarding();
}

void UsbSetupPresenter::scanAgain()
{
    if (!wifiBusy(current)) {
        service.startUsbWifiScan();
    }
}

void UsbSetupPresenter::saveWifiConfig()
{
    const auto& state = window.state();
    if (state.usbWifiSsid.empty() || current.wifiNetworks.empty() || wifiBusy(current)) {
        return;
    }
    service.verifyUsbWifiCredentials(state.usbWifiSsid, state.usbWifiPassword);
}

void UsbSetupPresenter::setWifiSsid(const std::string& ssid)
{
    window.modify([&](ContentViewPresenter::State& state) { state.usbWifiSsid = ssid; });
}

void UsbSetupPresenter::setWifiPassword(const std::string& password)
{
    window.modify([&](ContentViewPresenter::State& state) { state.usbWifiPassword = password; });
}

void UsbSetupPresenter::toggleWifiPasswordVisible()
{
    window.modify(
        [](ContentViewPresenter::State& state) { state.usbWifiPasswordVisible = !state.usbWifiPasswordVisible; });
}

void UsbSetupPresenter::install()
{
    if (usbInstallDisabled(current)) {
        return;
    }
    window.selectPane(ContentViewPresenter::SidebarPane::firmware);
    window.modify([](ContentViewPresenter::State& state) { state.showingUsbInstallAlert = true; });
}

void UsbSetupPresenter::continueAfterInstall()
{
    window.modify([](ContentViewPresenter::State& state) { state.showingUsbSetupFlow = false; });
}

void UsbSetupPresenter::setUpNewDevice()
{
    if (!setupNewDeviceEnabled()) {
        return;
    }
    window.modify([](ContentViewPresenter::State& state) { state.showingUsbSetupFlow = true; });
}

void UsbSetupPresenter::updateUsbMonitoring()
{
    if (window.state().showingUsbSetupFlow) {
        service.startUsbDeviceMonitoring();
        service.refreshUsbOnboardingCandidate();
    } else {
        service.stopUsbDeviceMonitoring();
    }
}

} // namespace tavrik
