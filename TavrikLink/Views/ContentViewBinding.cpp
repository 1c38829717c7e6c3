#include "TavrikLink/Views/ContentViewBinding.hpp"

#include "TavrikLink/Controller/TavrikBleCentral.hpp"
#include "TavrikLink/Views/LogDrawerModel.hpp"
#include "TavrikLink/Views/ScheduleSectionPresenter.hpp"
#include "TavrikLink/Views/TagPanePresenter.hpp"

namespace tavrik {

namespace {

template <class Function>
void fill(Function& slot, Function value)
{
    if (!slot) {
        slot = std::move(value);
    }
}

} // namespace

ContentViewBinding::ContentViewBinding(
    TavrikBleCentral& controller, ContentViewPresenter& presenter, LogDrawerModel& log, QObject* parent)
    : QObject(parent)
    , controller(controller)
    , presenter(presenter)
    , log(log)
{
    TagPanePresenter::installWindowActions(presenter, controller);
    ScheduleSectionPresenter::installWindowActions(presenter, controller);
    connectActions(presenter.actions(), controller);
    using C = TavrikBleCentral;
    for (auto signal : { &C::hasLoadedDataChanged, &C::syncModeChanged, &C::syncStageChanged,
             &C::legacyFirmwareUpgradeRequiredChanged, &C::isReviewDemoChanged, &C::backupMigrationWarningsChanged,
             &C::firmwareUploadChanged, &C::routineSummariesChanged, &C::schedulesChanged, &C::tagsChanged,
             &C::tagScanStateChanged, &C::tagScanResultChanged, &C::timeSyncNoticeChanged,
             &C::firmwareUpdateNoticeChanged, &C::wifiConnectionNoticeChanged, &C::nearbyWifiNetworksChanged,
             &C::wifiLastSavedSsidChanged, &C::activeRoutineContextChanged, &C::virtualTavrikConnectedChanged,
             &C::deviceFirmwareVersionChanged, &C::idleDisconnectSecondsRemainingChanged, &C::isConnectedChanged,
             &C::usbOnboardingChanged, &C::bluetoothUnavailableReasonChanged }) {
        connect(&controller, signal, this, &ContentViewBinding::refresh);
    }
    connect(&controller, &C::logChanged, this, [this] { this->log.setEntries(this->controller.logItems()); });
    connect(&presenter, &ContentViewPresenter::changed, this,
        [this] { this->log.setExpandedIds(this->presenter.state().expandedLogEntryIds); });
    log.setEntries(controller.logItems());
    refresh();
}

void ContentViewBinding::refresh()
{
    presenter.observe(read(controller));
}

ContentViewPresenter::ControllerState ContentViewBinding::read(const TavrikBleCentral& controller)
{
    ContentViewPresenter::ControllerState state;
    state.hasLoadedData = controller.hasLoadedData();
    state.syncMode = controller.syncMode();
    state.syncStage = controller.syncStage();
    state.legacyFirmwareUpgradeRequired = controller.legacyFirmwareUpgradeRequired();
    state.isReviewDemo = controller.isReviewDemo();
    state.backupMigrationWarnings = controller.backupMigrationWarnings();
    state.uploadPhase = controller.firmwareUpload().status().phase;
    state.routineSummaries = controller.routineSummaries();
    state.schedules = controller.schedules();
    state.tags = controller.tags();
    state.tagScanState = controller.tagScanState();
    state.tagScanResult = controller.tagScanResult();
    state.timeSyncNotice = controller.timeSyncNotice();
    state.firmwareUpdateNotice = controller.firmwareUpdateNotice();
    state.wifiConnectionNotice = controller.wifiConnectionNotice();
    state.nearbyWifiNetworks = controller.nearbyWifiNetworks();
    state.wifiLastSavedSsid = controller.wifiLastSavedSsid();
    state.activeRoutineContext = controller.activeRoutineContext();
    state.virtualTavrikConnected = controller.virtualTavrikConnected();
    state.deviceFirmwareVersion = controller.deviceFirmwareVersion();
    state.idleDisconnectSecondsRemaining = controller.idleDisconnectSecondsRemaining();
    state.canEjectTavrik = controller.canEjectTavrik();
    const UsbOnboardingService& usb = controller.usbOnboarding();
    state.usbCheckState = usb.usbOnboardingCheckState();
    state.hasVerifiedUsbOnboardingDevice = usb.hasVerifiedUsbOnboardingDevice();
    state.usbOnboardingTarget = usb.usbOnboardingTarget();
    state.usbWifiNetworks = usb.usbWifiNetworks();
    state.usbFlashPhase = usb.usbFlashStatus().phase;
    state.usbOnboardingNotice = usb.usbOnboardingNotice();
    state.bluetoothUnavailableReason = controller.bluetoothUnavailableReason();
    return state;
}

void ContentViewBinding::connectActions(ContentViewPresenter::Actions& actions, TavrikBleCentral& controller)
{
    TavrikBleCentral* c = &controller;
    fill(actions.recordUserInteraction, std::function<void()>([c] { c->recordUserInteraction(); }));
    fill(actions.beginSession, std::function<void(SyncMode)>([c](SyncMode mode) { c->beginSession(mode); }));
    fill(actions.stopUsbDeviceMonitoring, std::function<void()>([c] { c->usbOnboarding().stopUsbDeviceMonitoring(); }));
    fill(actions.beginUsbOnboarding, std::function<void()>([c] { c->usbOnboarding().beginUsbOnboarding(); }));
    fill(actions.cancelUsbOnboarding, std::function<void()>([c] { c->usbOnboarding().cancelUsbOnboarding(); }));
    fill(actions.startUsbWifiScan, std::function<void()>([c] { c->usbOnboarding().startUsbWifiScan(); }));
    fill(actions.invalidateUsbWifiVerification,
        std::function<void()>([c] { c->usbOnboarding().invalidateUsbWifiVerification(); }));
    fill(actions.startUsbOnboardingFlash,
        std::function<void(const std::string&, const std::string&)>(
            [c](const std::string& ssid, const std::string& password) {
                c->usbOnboarding().startUsbOnboardingFlash(ssid, password);
            }));
    fill(actions.clearUsbOnboardingNotice, std::function<void()>([c] { c->usbOnboarding().clearUsbOnboardingNotice(); }));
    fill(actions.clearWifiConnectionNotice, std::function<void()>([c] { c->dismissWifiConnectionNotice(); }));
    fill(actions.clearLog, std::function<void()>([c] { c->clearLog(); }));
    fill(actions.beginReviewDemo, std::function<void()>([c] { c->beginReviewDemo(); }));
    fill(actions.ejectTavrik, std::function<void()>([c] { c->ejectTavrik(); }));
    fill(actions.acceptTimeSyncNotice, std::function<void()>([c] { c->acceptTimeSyncNotice(); }));
    fill(actions.dismissTimeSyncNotice, std::function<void()>([c] { c->dismissTimeSyncNotice(); }));
    fill(actions.refreshFirmwareAvailability, std::function<void()>([c] { c->refreshFirmwareAvailability(); }));
    fill(actions.startFirmwareInstall, std::function<void()>([c] { c->startFirmwareInstall(); }));
    fill(actions.clearFirmwareUpdateNotice, std::function<void()>([c] { c->dismissFirmwareUpdateNotice(); }));
}

} // namespace tavrik
