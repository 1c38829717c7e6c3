#include "TavrikLink/Ui/FirmwareUpdateNoticeAlert.hpp"

#include "TavrikLink/Views/FirmwareUpdateNoticePresenter.hpp"

#include "TavrikLink/Ui/PaneStyle.hpp"

#include <QPushButton>

namespace tavrik {

FirmwareUpdateNoticeAlert::FirmwareUpdateNoticeAlert(FirmwareUpdateNoticePresenter& presenter, QWidget* window)
    : QObject(window)
    , presenter(presenter)
    , window(window)
{
    connect(&presenter, &FirmwareUpdateNoticePresenter::noticeChanged, this, &FirmwareUpdateNoticeAlert::refresh);
    refresh();
}

QAbstractButton* FirmwareUpdateNoticeAlert::installButton() const
{
    return install;
}

void FirmwareUpdateNoticeAlert::refresh()
{
    if (alert) {
        alert->disconnect(this);
        alert->close();
        alert->deleteLater();
        alert = nullptr;
    }
    if (!presenter.notice()) {
        return;
    }
    auto* box = new QMessageBox(window);
    box->setWindowTitle(FirmwareUpdateNoticePresenter::title());
    box->setText(FirmwareUpdateNoticePresenter::title());
    box->setInformativeText(presenter.message());
    QPushButton* installButton = box->addButton(FirmwareUpdateNoticePresenter::installTitle(), QMessageBox::AcceptRole);
    box->addButton(QMessageBox::Cancel);
    box->setDefaultButton(installButton);
    box->setEscapeButton(QMessageBox::Cancel);
    paneStyle::styleAlert(box);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    connect(box, &QMessageBox::finished, this, [this, box, installButton] {
        if (alert == box) {
            alert = nullptr;
        }
        // Leaves by the button pressed; closing the alert any other way cancels.
        if (box->clickedButton() == installButton) {
            presenter.install();
        } else {
            presenter.dismiss();
        }
    });
    alert = box;
    install = installButton;
    box->open();
}

} // namespace tavrik
