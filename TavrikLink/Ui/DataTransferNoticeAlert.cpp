#include "TavrikLink/Ui/DataTransferNoticeAlert.hpp"

#include "TavrikLink/Views/BackupFileActions.hpp"

#include "TavrikLink/Ui/PaneStyle.hpp"

#include <QMessageBox>

namespace tavrik {

DataTransferNoticeAlert::DataTransferNoticeAlert(BackupFileActions& actions, QWidget* window)
    : QObject(window)
    , actions(actions)
    , window(window)
{
    connect(&actions, &BackupFileActions::dataTransferNoticeChanged, this, &DataTransferNoticeAlert::refresh);
    refresh();
}

void DataTransferNoticeAlert::refresh()
{
    const auto& notice = actions.dataTransferNotice();
    if (alert) {
        // A new notice replaces the one on screen; the old alert must not clear it on its way out.
        alert->disconnect(this);
        alert->close();
        alert->deleteLater();
        alert = nullptr;
    }
    if (!notice) {
        return;
    }
    auto* box = new QMessageBox(QMessageBox::NoIcon, notice->title, notice->message, QMessageBox::Ok, window);
    box->setText(notice->title);
    box->setInformativeText(notice->message);
    paneStyle::styleAlert(box);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    const auto id = notice->id;
    connect(box, &QMessageBox::finished, this, [this, id, box] {
        if (alert == box) {
            alert = nullptr;
        }
        if (actions.dataTransferNotice() && actions.dataTransferNotice()->id == id) {
            actions.dismissNotice();
        }
    });
    alert = box;
    box->open();
}

} // namespace tavrik
