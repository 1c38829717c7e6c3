#pragma once

#include "TavrikLink/Views/FirmwareDetailPresenter.hpp"

#include <QObject>
#include <QPointer>

#include <functional>

namespace tavrik {

class LegacyUpgradeState;
class TavrikBleCentral;

// The controller operations behind the firmware pane's buttons.
struct FirmwareOperations {
    std::function<void()> refreshFirmwareAvailability;
    std::function<void()> startFirmwareInstall;
    // Cancels the upload service's download or transfer of the available image.
    std::function<void()> cancelUpload;
};

// Builds the firmware detail view for the firmware pane, or for the firmware section of the legacy
// upgrade view, where the install button reads "Upgrade Firmware" and stays disabled until a
// migration backup has been saved.
class FirmwarePanePresenter : public QObject {
    Q_OBJECT

public:
    enum class Flow { firmwarePane, legacyUpgrade };

    // `legacy` is required for the legacy-upgrade flow and must outlive the presenter.
    FirmwarePanePresenter(
        Flow flow, FirmwareOperations operations, LegacyUpgradeState* legacy = nullptr, QObject* parent = nullptr);
    // Calls the controller's operations and follows its values; the controller must outlive it.
    FirmwarePanePresenter(
        Flow flow, TavrikBleCentral& controller, LegacyUpgradeState* legacy = nullptr, QObject* parent = nullptr);

    static FirmwareOperations operationsFor(TavrikBleCentral& controller);

    // The controller's firmware values and its upload service's status.
    static FirmwareDetailValues readValues(const TavrikBleCentral& controller);
    // Follows the controller's changes until it or this presenter is gone.
    void follow(const TavrikBleCentral& controller);

    Flow flow() const { return kind; }
    // New controller values; the install button's own fields come from the flow.
    void setValues(FirmwareDetailValues values);
    FirmwareDetailPresenter detail() const;
    // The detail view's buttons, bound to this presenter.
    FirmwareDetailActions actions();

    void refresh();
    void install();
    void cancel();

signals:
    void changed();

private:
    FirmwareDetailValues withFlowFields(FirmwareDetailValues values) const;

    Flow kind;
    FirmwareOperations operations;
    QPointer<LegacyUpgradeState> legacy;
    FirmwareDetailValues current;
};

} // namespace tavrik
