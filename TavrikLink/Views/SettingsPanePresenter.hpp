#pragma once

#include "TavrikCore/Model/TagModels.hpp"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tavrik {

class TavrikBleCentral;

// What the settings pane reads of the controller.
struct SettingsPaneState {
    bool muteNonAlarmSounds = false;
    bool killSwitchSupported = false;
    std::string killSwitchUid {};
    std::vector<TagInfo> tags {};
    TagScanState tagScanState {};
    std::optional<TagScanResult> tagScanResult {};
    bool wifiSupported = false;
    bool isConnected = false;
    bool tagScanSessionActive = false;
    // The device refused a settings change; the values shown are the device's again.
    std::optional<std::string> settingsError {};

    friend bool operator==(const SettingsPaneState&, const SettingsPaneState&) = default;
};

// The controller operations the settings pane calls.
struct SettingsPaneActions {
    std::function<void(bool)> setMuteNonAlarmSounds;
    // An empty UID removes the kill-switch tag.
    std::function<void(const std::string& uid)> setKillSwitchUid;
    // Starts a tag scan whose result becomes the kill-switch tag.
    std::function<void()> beginKillSwitchTagScan;
    std::function<void()> clearTagScanCommandPending;
    std::function<void(const std::string& command)> sendTagCommand;
    std::function<void()> endTagScanSession;
};

// The settings pane: the mute switch, the kill-switch tag with its scan flow, and the place of the
// Wi-Fi section. It keeps the kill-switch scan's own state (whether a scan for it runs, and its
// last failure) and finishes the scan when the controller reports a result or a failure.
class SettingsPanePresenter : public QObject {
    Q_OBJECT

public:
    explicit SettingsPanePresenter(SettingsPaneActions actions, QObject* parent = nullptr);
    // Calls the controller's operations and follows its values; the controller must outlive it.
    explicit SettingsPanePresenter(TavrikBleCentral& controller, QObject* parent = nullptr);

    static SettingsPaneActions actionsFor(TavrikBleCentral& controller);

    // The controller's current values.
    static SettingsPaneState readState(const TavrikBleCentral& controller);
    // Follows the controller's changes until it or this presenter is gone.
    void follow(const TavrikBleCentral& controller);

    static QString title() { return QStringLiteral("Settings"); }
    static QString muteTitle() { return QStringLiteral("Mute non-alarm sounds"); }
    static QString muteCaption() { return QStringLiteral("Schedule alarms and routine reminders stay audible."); }
    static QString killSwitchTitle() { return QStringLiteral("Routine Kill Switch"); }
    static QString killSwitchCaption()
    {
        return QStringLiteral(
            "Scan a dedicated tag to stop any running routine immediately, including an unstoppable step.");
    }
    static QString killSwitchUnsupportedText()
    {
        return QStringLiteral("Install firmware with kill-switch support to configure this setting.");
    }
    static QString noKillSwitchText() { return QStringLiteral("No kill switch tag configured"); }
    static QString cancelTitle() { return QStringLiteral("Cancel"); }
    static QString removeTitle() { return QStringLiteral("Remove"); }

    const SettingsPaneState& state() const { return current; }
    // Installs new controller values and runs the scan's reactions to a new scan state or result.
    void setState(SettingsPaneState state);

    bool muteNonAlarmSounds() const { return current.muteNonAlarmSounds; }
    // Shown in red at the top of the pane.
    const std::optional<std::string>& settingsError() const { return current.settingsError; }
    bool killSwitchSupported() const { return current.killSwitchSupported; }
    bool killSwitchScanActive() const { return scanActive; }
    const std::optional<std::string>& killSwitchScanError() const { return scanError; }

    // The name of the first saved tag with the kill-switch UID (compared by the tag UID key: blanks
    // around it and letter case ignored).
    std::optional<std::string> killSwitchTagName() const;
    bool hasKillSwitchTag() const { return !tagUidKey(current.killSwitchUid).empty(); }
    // The configured tag's name, or "Kill switch tag" when no saved tag has its UID.
    QString killSwitchNameText() const;
    QString killSwitchUidText() const;
    // "Scan Tag…" without a tag, "Replace Tag…" with one.
    QString scanButtonTitle() const;
    bool scanButtonEnabled() const { return !scanActive; }
    bool removeButtonVisible() const { return hasKillSwitchTag(); }
    bool removeButtonEnabled() const { return !scanActive; }
    bool cancelButtonVisible() const { return scanActive; }
    // The status row under the buttons: shown while scanning and after a failure.
    bool statusRowVisible() const { return scanActive || scanError.has_value(); }
    bool statusIsError() const { return scanError.has_value(); }
    bool statusShowsProgress() const { return scanActive && !scanError; }
    QString killSwitchScanStatusText() const;

    bool wifiSectionVisible() const { return current.wifiSupported; }
    int wifiSettingsScrollRequest() const { return scrollRequest; }

    void setMuteNonAlarmSounds(bool value);
    void beginKillSwitchScan();
    void cancelKillSwitchScan();
    void removeKillSwitchTag();
    // The window's sidebar moved; leaving the settings pane ends a running scan and its error.
    void selectedPaneChanged(bool settingsPaneShown);
    // Asks the pane to bring its Wi-Fi section into view.
    void requestWifiSettingsScroll();

signals:
    void changed();
    void wifiSettingsScrollRequested();

private:
    void setScan(bool active, std::optional<std::string> error);

    SettingsPaneActions actions;
    // The followed controller: some values it has no change signal for are read when needed.
    QPointer<const TavrikBleCentral> followed;
    SettingsPaneState current;
    bool scanActive = false;
    std::optional<std::string> scanError;
    int scrollRequest = 0;
};

} // namespace tavrik
