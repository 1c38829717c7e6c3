#pragma once

#include "TavrikCore/Firmware/FirmwareAsset.hpp"
#include "TavrikCore/Firmware/FirmwareUploadStatus.hpp"
#include "TavrikLink/Usb/UsbOnboardingModels.hpp"
#include "TavrikLink/Usb/UsbOnboardingTarget.hpp"

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavrik {

class ContentViewPresenter;
class TavrikBleCentral;
class UsbOnboardingService;

// Spacing of the USB Wi-Fi form's rows, and the width of the small buttons beside its fields.
struct UsbWifiLayoutMetrics {
    static constexpr int controlSpacing = 8;
    static constexpr int accessoryWidth = 24;
};

// What the controller says about the install build.
struct UsbSetupFirmware {
    std::optional<FirmwareAsset> availableFirmwareAsset;
    std::string firmwareSourceDescription;
    FirmwareUploadStatus::Phase uploadPhase = FirmwareUploadStatus::Phase::idle;

    friend bool operator==(const UsbSetupFirmware&, const UsbSetupFirmware&) = default;
};

// Everything the setup screens read: the onboarding service's published state, the install build,
// and the window's own fields of the flow.
struct UsbSetupInputs {
    std::optional<UsbOnboardingTarget> target;
    std::optional<UsbOnboardingDevice> device;
    UsbOnboardingCheckState checkState = UsbOnboardingCheckState::waitingForDevice;
    UsbFlashStatus flashStatus;
    std::vector<UsbWifiNetwork> wifiNetworks;
    bool wifiScanInProgress = false;
    std::optional<std::string> wifiScanMessage;
    UsbWifiVerificationState wifiVerification;
    bool hasVerifiedDevice = false;
    bool hasDetectedInstalledTavrik = false;
    bool hasDetectedFlashCandidate = false;
    // The last check failed on this computer's side, not the board's.
    bool hostProblem = false;
    UsbSetupFirmware firmware;
    bool otherDeviceSelected = false;
    std::string wifiSsid;
    std::string wifiPassword;
    bool wifiPasswordVisible = false;

    friend bool operator==(const UsbSetupInputs&, const UsbSetupInputs&) = default;
};

// One card of the model picker; no target means "Other".
struct UsbDeviceCard {
    std::optional<UsbOnboardingTarget> target;
    std::string title;
    bool selected = false;

    friend bool operator==(const UsbDeviceCard&, const UsbDeviceCard&) = default;
};

struct UsbDevicePicker {
    bool showsHeadline = true;
    std::vector<UsbDeviceCard> cards;
    bool showsUnsupportedNote = false;

    friend bool operator==(const UsbDevicePicker&, const UsbDevicePicker&) = default;
};

// A line under the Wi-Fi form's buttons.
struct UsbWifiNotification {
    enum class Style { progress, plain, verified, failed };
    Style style = Style::plain;
    std::string text;

    friend bool operator==(const UsbWifiNotification&, const UsbWifiNotification&) = default;
};

struct UsbWifiNetworkItem {
    std::string title;
    std::string value;

    friend bool operator==(const UsbWifiNetworkItem&, const UsbWifiNetworkItem&) = default;
};

struct UsbWifiForm {
    std::vector<UsbWifiNetworkItem> networks;
    std::string selectedSsid;
    bool networkPickerEnabled = false;
    bool scanEnabled = false;
    bool passwordRowEnabled = false;
    bool passwordVisible = false;
    std::string password;
    // The show/hide button: a freedesktop-style icon role, its accessible name and its help.
    std::string visibilitySymbol;
    std::string visibilityLabel;
    std::string visibilityHelp;
    bool saveEnabled = false;
    std::vector<UsbWifiNotification> notifications;

    friend bool operator==(const UsbWifiForm&, const UsbWifiForm&) = default;
};

struct UsbSetupFailure {
    std::string title;
    std::string message;

    friend bool operator==(const UsbSetupFailure&, const UsbSetupFailure&) = default;
};

struct UsbTargetSetup {
    std::optional<UsbWifiForm> wifiForm;
    std::optional<UsbSetupFailure> failure;
    std::optional<std::string> statusMessage;
    bool statusSpinner = false;
    bool showsInstall = false;
    bool installEnabled = false;

    friend bool operator==(const UsbTargetSetup&, const UsbTargetSetup&) = default;
};

// The whole setup flow for one state of its inputs.
struct UsbSetupScreen {
    // hostProblem: what keeps this computer from using the board, what to do, and Try Again.
    enum class Kind { installationProgress, installationSuccess, message, checking, manualWake, hostProblem, picker };
    Kind kind = Kind::message;
    // The screen's text; after an installation, what the installer reported under the fixed title,
    // so a Wi-Fi or clock set-up that failed after the flash is not read as a clean success.
    std::string message;
    // Progress: no bar until the size is known.
    bool progressIndeterminate = true;
    std::int64_t bytesTransferred = 0;
    std::int64_t totalBytes = 0;
    std::optional<UsbDevicePicker> picker;
    std::optional<UsbTargetSetup> targetSetup;

    friend bool operator==(const UsbSetupScreen&, const UsbSetupScreen&) = default;
};

// The USB setup flow: which screen its inputs give, its texts and enabled rules, and the user's
// actions, which go to the onboarding service or the window's state. The window itself reacts to
// the service (Wi-Fi scan once a T-Embed is verified, picking a scanned network, dropping a stale
// verification); this presenter only reads and forwards.
class UsbSetupPresenter : public QObject {
    Q_OBJECT
public:
    static constexpr const char* headline = "What device do you have connected?";
    static constexpr const char* unsupportedNote = "As of now Tavrik does not support other devices";
    static constexpr const char* otherTitle = "Other";
    static constexpr const char* wifiExplanation
        = "The LILYGO T-Embed CC1101 has no reliable time keeping method, so Tavrik uses Wi-Fi for NTP clock "
          "syncing. Wi-Fi is only used for that and nothing else.";
    static constexpr const char* noNetworks = "No networks found";
    static constexpr const char* scanAgainText = "Scan again";
    static constexpr const char* passwordPlaceholder = "Wi-Fi password";
    static constexpr const char* saveWifiText = "Save Wi-Fi config";
    static constexpr const char* installText = "Install";
    static constexpr const char* tryAgainText = "Try Again";
    static constexpr const char* checkAgainText = "Check Again";
    static constexpr const char* successText = "Installation successful!";
    static constexpr const char* continueText = "Continue";
    static constexpr const char* orText = "or";
    static constexpr const char* setUpNewDeviceText = "Set Up a New Device";

    // The window state lives in `window`; the install build comes from `firmware`, re-read when
    // firmwareChanged() is called.
    UsbSetupPresenter(UsbOnboardingService& service, ContentViewPresenter& window,
        std::function<UsbSetupFirmware()> firmware, QObject* parent = nullptr);
    // Reads the install build from the controller and follows its changes.
    UsbSetupPresenter(TavrikBleCentral& controller, ContentViewPresenter& window, QObject* parent = nullptr);
    ~UsbSetupPresenter() override;

    const UsbSetupInputs& inputs() const { return current; }
    UsbSetupScreen screen() const { return screen(current); }
    bool setupNewDeviceEnabled() const { return setupNewDeviceEnabled(current.flashStatus.phase); }

    // Pure rules over the inputs.
    static UsbSetupScreen screen(const UsbSetupInputs& inputs);
    static bool usbDevicePickerHasSelection(const UsbSetupInputs& inputs);
    static std::optional<std::string> usbConnectionStatusMessage(const UsbSetupInputs& inputs);
    static std::string usbFailureTitle(const UsbFlashStatus& status);
    static bool usbInstallAvailable(const UsbSetupInputs& inputs);
    static bool usbInstallDisabled(const UsbSetupInputs& inputs);
    static std::string usbInstallAlertMessage(const std::optional<UsbOnboardingDevice>& device);
    static bool setupNewDeviceEnabled(UsbFlashStatus::Phase phase);

    // User actions.
    void chooseTarget(UsbOnboardingTarget target);
    void chooseOtherDevice();
    void checkAgain();
    void tryAgain();
    void scanAgain();
    void saveWifiConfig();
    void setWifiSsid(const std::string& ssid);
    void setWifiPassword(const std::string& password);
    void toggleWifiPasswordVisible();
    void install();
    void continueAfterInstall();
    void setUpNewDevice();
    // Watches the serial ports only while the flow is open.
    void updateUsbMonitoring();

public slots:
    void refresh();
    void firmwareChanged();

signals:
    void changed();

private:
    UsbSetupInputs read() const;

    UsbOnboardingService& service;
    ContentViewPresenter& window;
    std::function<UsbSetupFirmware()> firmware;
    UsbSetupFirmware firmwareNow;
    UsbSetupInputs current;
    // The window's actions reach the model through this; it is emptied when the model goes.
    std::shared_ptr<UsbSetupPresenter*> self;
};

} // namespace tavrik
