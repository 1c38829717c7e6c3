#include "TavrikLink/Views/FirmwarePanePresenter.hpp"

#include "TavrikLink/Controller/TavrikBleCentral.hpp"
#include "TavrikLink/Views/LegacyUpgradeState.hpp"

#include <utility>

namespace tavrik {

FirmwarePanePresenter::FirmwarePanePresenter(
    Flow flow, FirmwareOperations operations, LegacyUpgradeState* legacy, QObject* parent)
    : QObject(parent)
    , kind(flow)
    , operations(std::move(operations))
    , legacy(legacy)
    , current(withFlowFields({}))
{
    if (legacy) {
        connect(legacy, &LegacyUpgradeState::changed, this, [this] { setValues(current); });
    }
}

FirmwarePanePresenter::FirmwarePanePresenter(
    Flow flow, TavrikBleCentral& controller, LegacyUpgradeState* legacy, QObject* parent)
    : FirmwarePanePresenter(flow, operationsFor(controller), legacy, parent)
{
    follow(controller);
}

FirmwareOperations FirmwarePanePresenter::operationsFor(TavrikBleCentral& controller)
{
    return FirmwareOperations {
        [&controller] { controller.refreshFirmwareAvailability(); },
        [&controller] { controller.startFirmwareInstall(); },
        [&controller] { controller.cancelFirmwareInstall(); },
    };
}

FirmwareDetailValues FirmwarePanePresenter::readValues(const TavrikBleCentral& controller)
{
    FirmwareDetailValues values;
    values.asset = controller.availableFirmwareAsset();
    values.deviceFirmwareVersion = controller.deviceFirmwareVersion();
    values.deviceHardwareTarget = controller.deviceHardwareTarget();
    values.useLocalFirmwareBuilds = controller.useLocalFirmwareBuilds();
    values.sourceDescription = controller.firmwareSourceDescription();
    values.channelDescription = controller.firmwareChannelDescription();
    values.manifestDescription = controller.firmwareManifestDescription();
    values.availableVersion = controller.firmwareAvailableVersion();
    values.status = controller.firmwareUpload().status();
    return values;
}

void FirmwarePanePresenter::follow(const TavrikBleCentral& controller)
{
    const auto refreshValues = [this, &controller] { setValues(readValues(controller)); };
    for (const auto signal : { &TavrikBleCentral::availableFirmwareAssetChanged,
             &TavrikBleCentral::deviceFirmwareVersionChanged, &TavrikBleCentral::deviceHardwareTargetChanged,
             &TavrikBleCentral::useLocalFirmwareBuildsChanged, &TavrikBleCentral::firmwareDescriptionsChanged,
             &TavrikBleCentral::firmwareAvailableVersionChanged, &TavrikBleCentral::firmwareUploadChanged }) {
        connect(&controller, signal, this, refreshValues);
    }
    connect(&controller.firmwareUpload(), &FirmwareUploadService::statusChanged, this, refreshValues);
    refreshValues();
}

void FirmwarePanePresenter::setValues(FirmwareDetailValues values)
{
    values = withFlowFields(std::move(values));
    if (values == current) {
        return;
    }
    current = std::move(values);
    emit changed();
}

FirmwareDetailPresenter FirmwarePanePresenter::detail() const
{
    return FirmwareDetailPresenter(current);
}

FirmwareDetailActions FirmwarePanePresenter::actions()
{
    return FirmwareDetailActions {
        [this] { refresh(); },
        [this] { install(); },
        [this] { cancel(); },
        // Neither flow offers a local-builds switch.
        [](bool) {},
    };
}

void FirmwarePanePresenter::refresh()
{
    if (operations.refreshFirmwareAvailability) {
        operations.refreshFirmwareAvailability();
    }
}

void FirmwarePanePresenter::install()
{
    // The button's own rule also guards a click that raced a status change.
    if (!detail().installEnabled()) {
        return;
    }
    if (kind == Flow::legacyUpgrade && legacy) {
        legacy->setUpgradeStarted(true);
    }
    if (operations.startFirmwareInstall) {
        operations.startFirmwareInstall();
    }
}

void FirmwarePanePresenter::cancel()
{
    if (kind == Flow::legacyUpgrade && legacy) {
        legacy->setUpgradeStarted(false);
    }
    if (operations.cancelUpload) {
        operations.cancelUpload();
    }
}

FirmwareDetailValues FirmwarePanePresenter::withFlowFields(FirmwareDetailValues values) const
{
    if (kind == Flow::legacyUpgrade) {
        values.installEnabled = legacy && legacy->hasMigrationBackup();
        values.installActionTitle = "Upgrade Firmware";
    } else {
        values.installEnabled = true;
        values.installActionTitle = std::nullopt;
    }
    return values;
}

} // namespace tavrik
