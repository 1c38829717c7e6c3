#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>

class QWidget;

namespace tavrik {

class FirmwareUpdateNoticePresenter;

// Shows each firmware update notice as an alert with "Install" and "Cancel" over the window.
class FirmwareUpdateNoticeAlert : public QObject {
    Q_OBJECT
public:
    // The presenter must outlive the alert.
    FirmwareUpdateNoticeAlert(FirmwareUpdateNoticePresenter& presenter, QWidget* window);

    QMessageBox* currentAlert() const { return alert; }
    QAbstractButton* installButton() const;

private:
    void refresh();

    FirmwareUpdateNoticePresenter& presenter;
    QPointer<QWidget> window;
    QPointer<QMessageBox> alert;
    QPointer<QAbstractButton> install;
};

} // namespace tavrik
