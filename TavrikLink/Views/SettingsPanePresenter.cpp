#include "TavrikLink/Views/SettingsPanePresenter.hpp"

#include "TavrikLink/Controller/TavrikBleCentral.hpp"

#include <utility>

namespace tavrik {

SettingsPanePresenter::SettingsPanePresenter(SettingsPaneActions actions, QObject* parent)
    : QObject(parent)
    , actions(std::move(actions))
{
}

SettingsPanePresenter::SettingsPanePresenter(TavrikBleCentral& controller, QObject* parent)
    : SettingsPanePresenter(actionsFor(controller), parent)
{
    follow(controller);
}

SettingsPaneActions SettingsPanePresenter::actionsFor(TavrikBleCentral& controller)
{
    return SettingsPaneActions {
        [&controller](bool value) { controller.setMuteNonAlarmSounds(value); },
        [&controller](const std::string& uid) { controller.setKillSwitchUid(uid); },
        [&controller] { controller.beginTagScan(TagScanPurpose::killSwitch); },
        [&controller] { controller.setTagScanCommandPending(false); },
        [&controller](const std::string& command) { controller.sendTagCommand(command); },
        [&controller] { controller.endTagScanSession(); },
    };
}

SettingsPaneState SettingsPanePresenter::readState(const TavrikBleCentral& controller)
{
    return SettingsPaneState {
        controller.muteNonAlarmSounds(),
        controller.killSwitchSupported(),
        controller.killSwitchUid(),
        controller.tags(),
        controller.tagScanState(),
        controller.tagScanResult(),
        controller.wifiSupported(),
        controller.isConnected(),
        controller.tagScanSessionActive(),
        controller.settingsError(),
    };
}

void SettingsPanePresenter::follow(const TavrikBleCentral& controller)
{
    followed = &controller;
    const auto refresh = [this, &controller] { setState(readState(controller)); };
    for (const auto signal : { &TavrikBleCentral::muteNonAlarmSoundsChanged,
             &TavrikBleCentral::killSwitchSupportedChanged, &TavrikBleCentral::killSwitchUidChanged,
             &TavrikBleCentral::tagsChanged, &TavrikBleCentral::tagScanStateChanged,
             &TavrikBleCentral::tagScanResultChanged, &TavrikBleCentral::wifiSupportedChanged,
             &TavrikBleCentral::isConnectedChanged, &TavrikBleCentral::settingsErrorChanged }) {
        connect(&controller, signal, this, refresh);
    }
    refresh();
}

void SettingsPanePresenter::setState(SettingsPaneState state)
{
    const bool stateChanged = state.tagScanState != current.tagScanState;
    const bool resultChanged = state.tagScanResult != current.tagScanResult;
    const bool anyChange = state != current;
    current = std::move(state);

    // The controller may call back into setState while a reaction runs; each reaction reads the
    // values it was triggered by from its own copy.
    if (stateChanged && scanActive && current.tagScanState.isFailed()) {
        setScan(false, current.tagScanState.failureMessage());
    }
    if (resultChanged && scanActive && current.tagScanResult) {
        const std::string uid = current.tagScanResult->uid;
        if (actions.setKillSwitchUid) {
            actions.setKillSwitchUid(uid);
        }
        setScan(false, std::nullopt);
        if (actions.endTagScanSession) {
            actions.endTagScanSession();
        }
    }
    if (anyChange) {
        emit changed();
    }
}

std::optional<std::string> SettingsPanePresenter::killSwitchTagName() const
{
    const std::string wanted = tagUidKey(current.killSwitchUid);
    if (wanted.empty()) {
        return std::nullopt;
    }
    for (const auto& tag : current.tags) {
        if (tagUidKey(tag.uid) == wanted) {
            return tag.name;
        }
    }
    return std::nullopt;
}

QString SettingsPanePresenter::killSwitchNameText() const
{
    const auto name = killSwitchTagName();
    return name ? QString::fromStdString(*name) : QStringLiteral("Kill switch tag");
}

QString SettingsPanePresenter::killSwitchUidText() const
{
    return QStringLiteral("UID: ") + QString::fromStdString(current.killSwitchUid);
}

QString SettingsPanePresenter::scanButtonTitle() const
{
    return hasKillSwitchTag() ? QStringLiteral("Replace Tag\u2026") : QStringLiteral("Scan Tag\u2026");
}

QString SettingsPanePresenter::killSwitchScanStatusText() const
{
    if (scanError) {
        return QString::fromStdString(*scanError);
    }
    switch (current.tagScanState.kind()) {
    case TagScanState::Kind::idle:
    case TagScanState::Kind::waitingForDevice:
        return QStringLiteral("Waiting for Tavrik\u2026");
    case TagScanState::Kind::connecting:
        return QStringLiteral("Connecting to Tavrik\u2026");
    case TagScanState::Kind::requesting:
        return QStringLiteral("Starting tag scan\u2026");
    case TagScanState::Kind::pending:
        return QStringLiteral("Press Tavrik's button and hold the kill switch tag near the reader.");
    case TagScanState::Kind::received:
        return QStringLiteral("Tag received.");
    case TagScanState::Kind::failed:
        break;
    }
    return QString::fromStdString(current.tagScanState.failureMessage());
}

void SettingsPanePresenter::setMuteNonAlarmSounds(bool value)
{
    if (actions.setMuteNonAlarmSounds) {
        actions.setMuteNonAlarmSounds(value);
    }
}

void SettingsPanePresenter::beginKillSwitchScan()
{
    setScan(true, std::nullopt);
    if (actions.beginKillSwitchTagScan) {
        actions.beginKillSwitchTagScan();
    }
}

void SettingsPanePresenter::cancelKillSwitchScan()
{
    if (followed) {
        current.tagScanSessionActive = followed->tagScanSessionActive();
        current.isConnected = followed->isConnected();
    }
    setScan(false, std::nullopt);
    if (actions.clearTagScanCommandPending) {
        actions.clearTagScanCommandPending();
    }
    if (current.tagScanSessionActive && current.isConnected && actions.sendTagCommand) {
        actions.sendTagCommand("cancel");
    }
    if (actions.endTagScanSession) {
        actions.endTagScanSession();
    }
}

void SettingsPanePresenter::removeKillSwitchTag()
{
    if (scanActive) {
        return;
    }
    if (actions.setKillSwitchUid) {
        actions.setKillSwitchUid("");
    }
}

void SettingsPanePresenter::selectedPaneChanged(bool settingsPaneShown)
{
    if (settingsPaneShown) {
        return;
    }
    if (scanActive) {
        cancelKillSwitchScan();
    }
    setScan(false, std::nullopt);
}

void SettingsPanePresenter::requestWifiSettingsScroll()
{
    ++scrollRequest;
    emit wifiSettingsScrollRequested();
}

void SettingsPanePresenter::setScan(bool active, std::optional<std::string> error)
{
    if (scanActive == active && scanError == error) {
        return;
    }
    scanActive = active;
    scanError = std::move(error);
    emit changed();
}

} // namespace tavrik
