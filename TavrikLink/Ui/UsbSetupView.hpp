#pragma once

#include "TavrikLink/Views/UsbSetupPresenter.hpp"

#include <QWidget>

#include <memory>
#include <vector>

class QComboBox;
class QBoxLayout;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QToolButton;
class QVBoxLayout;

namespace tavrik {

class BusyIndicator;
class DeviceChoiceCard;

// The USB setup flow inside the connection overlay: one screen per state of the check, the model
// picker, the T-Embed's Wi-Fi form, the status line with "Install", and the failure, progress and
// success screens. Its model decides everything; this lays out and forwards.
class UsbSetupView : public QWidget {
    Q_OBJECT
public:
    explicit UsbSetupView(std::unique_ptr<UsbSetupPresenter> model, QWidget* parent = nullptr);
    ~UsbSetupView() override;

    UsbSetupPresenter& model() { return *setup; }
    const UsbSetupScreen& shownScreen() const { return shown; }
    std::vector<DeviceChoiceCard*> cards() const { return deviceCards; }

protected:
    bool event(QEvent* event) override;

private:
    void refresh();
    void fitMessage();
    void refreshWifiForm(const UsbWifiForm& form);
    QWidget* buildWifiForm();

    std::unique_ptr<UsbSetupPresenter> setup;
    UsbSetupScreen shown;
    bool built = false;

    QProgressBar* progress = nullptr;
    BusyIndicator* progressSpinner = nullptr;
    QWidget* success = nullptr;
    QLabel* successMessage = nullptr;
    QWidget* messageRow = nullptr;
    QBoxLayout* messageLayout = nullptr;
    BusyIndicator* checkingSpinner = nullptr;
    QLabel* message = nullptr;
    QPushButton* checkAgain = nullptr;
    QWidget* picker = nullptr;
    QLabel* headline = nullptr;
    std::vector<DeviceChoiceCard*> deviceCards;
    QLabel* unsupportedNote = nullptr;
    QWidget* targetSetup = nullptr;
    QWidget* wifiForm = nullptr;
    QComboBox* networkPicker = nullptr;
    QToolButton* scanButton = nullptr;
    QWidget* passwordRow = nullptr;
    QLineEdit* password = nullptr;
    QToolButton* visibilityButton = nullptr;
    QPushButton* saveWifi = nullptr;
    QWidget* notifications = nullptr;
    QVBoxLayout* notificationsLayout = nullptr;
    std::vector<UsbWifiNotification> shownNotifications;
    QWidget* failure = nullptr;
    QLabel* failureTitle = nullptr;
    QLabel* failureMessage = nullptr;
    QWidget* statusRow = nullptr;
    BusyIndicator* statusSpinner = nullptr;
    QLabel* statusMessage = nullptr;
    QPushButton* installButton = nullptr;
};

// The entry into the flow under the overlay's connection status: "or", then "Set Up a New Device",
// disabled while a flash runs.
class UsbNewDeviceSection : public QWidget {
    Q_OBJECT
public:
    explicit UsbNewDeviceSection(std::unique_ptr<UsbSetupPresenter> model, QWidget* parent = nullptr);
    ~UsbNewDeviceSection() override;

    QPushButton* button() const { return setUp; }

private:
    std::unique_ptr<UsbSetupPresenter> setup;
    QPushButton* setUp = nullptr;
};

} // namespace tavrik
