#include "TavrikLink/Views/FirmwareUpdateNoticePresenter.hpp"

#include "TavrikLink/Controller/TavrikBleCentral.hpp"

#include <utility>

namespace tavrik {

FirmwareUpdateNoticePresenter::FirmwareUpdateNoticePresenter(Actions actions, QObject* parent)
    : QObject(parent)
    , actions(std::move(actions))
{
}

FirmwareUpdateNoticePresenter::FirmwareUpdateNoticePresenter(
    TavrikBleCentral& controller, std::function<void()> showFirmwarePane, QObject* parent)
    : FirmwareUpdateNoticePresenter(
        Actions { std::move(showFirmwarePane), [&controller] { controller.startFirmwareInstall(); },
            [&controller] { controller.dismissFirmwareUpdateNotice(); } },
        parent)
{
    connect(&controller, &TavrikBleCentral::firmwareUpdateNoticeChanged, this,
        [this, &controller] { setNotice(controller.firmwareUpdateNotice()); });
    setNotice(controller.firmwareUpdateNotice());
}

void FirmwareUpdateNoticePresenter::setNotice(std::optional<FirmwareUpdateNotice> notice)
{
    if (current == notice) {
        return;
    }
    current = std::move(notice);
    emit noticeChanged();
}

void FirmwareUpdateNoticePresenter::install()
{
    if (!current) {
        return;
    }
    if (actions.showFirmwarePane) {
        actions.showFirmwarePane();
    }
    if (actions.startFirmwareInstall) {
        actions.startFirmwareInstall();
    }
    dismiss();
}

void FirmwareUpdateNoticePresenter::dismiss()
{
    if (actions.dismissNotice) {
        actions.dismissNotice();
    }
    // Without a controller behind it the notice is this presenter's own to clear.
    setNotice(std::nullopt);
}

} // namespace tavrik
