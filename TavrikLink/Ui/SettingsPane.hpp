#pragma once

#include <QScrollArea>

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QVBoxLayout;

namespace tavrik {

class SettingsPanePresenter;

// Stands where the Wi-Fi time-sync section goes until that section exists; SettingsPane::
// setWifiSection replaces it.
class WifiSettingsSectionPlaceholder : public QWidget {
    Q_OBJECT
public:
    explicit WifiSettingsSectionPlaceholder(QWidget* parent = nullptr);
};

// The settings pane: mute switch, kill-switch tag and, on devices with Wi-Fi, the Wi-Fi section.
class SettingsPane : public QScrollArea {
    Q_OBJECT
public:
    // The presenter must outlive the pane.
    explicit SettingsPane(SettingsPanePresenter& presenter, QWidget* parent = nullptr);

    // Puts the Wi-Fi section in its place (the pane takes ownership) and drops the one before.
    void setWifiSection(QWidget* section);
    QWidget* wifiSection() const { return wifiSectionWidget; }

    QCheckBox* muteToggle() const { return mute; }
    QPushButton* scanButton() const { return scan; }
    QPushButton* removeButton() const { return remove; }
    QPushButton* cancelButton() const { return cancel; }
    QLabel* killSwitchStatusLabel() const { return statusText; }

private:
    void refresh();
    void scrollToWifiSection();

    SettingsPanePresenter& presenter;
    QCheckBox* mute = nullptr;
    QLabel* settingsError = nullptr;
    QLabel* unsupportedText = nullptr;
    QWidget* configured = nullptr;
    QLabel* noTagText = nullptr;
    QLabel* tagName = nullptr;
    QLabel* tagUid = nullptr;
    QPushButton* scan = nullptr;
    QPushButton* remove = nullptr;
    QPushButton* cancel = nullptr;
    QWidget* statusRow = nullptr;
    QProgressBar* statusProgress = nullptr;
    QLabel* statusText = nullptr;
    QWidget* wifiDivider = nullptr;
    QWidget* wifiContainer = nullptr;
    QVBoxLayout* wifiLayout = nullptr;
    QWidget* wifiSectionWidget = nullptr;
};

} // namespace tavrik
