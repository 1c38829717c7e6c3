#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>

class QWidget;

namespace tavrik {

class BackupFileActions;

// Shows each notice of the backup file actions as an alert with one "OK" button over the window;
// closing it clears the notice.
class DataTransferNoticeAlert : public QObject {
    Q_OBJECT
public:
    // The actions must outlive the alert.
    DataTransferNoticeAlert(BackupFileActions& actions, QWidget* window);

    // The alert on screen, if any.
    QMessageBox* currentAlert() const { return alert; }

private:
    void refresh();

    BackupFileActions& actions;
    QPointer<QWidget> window;
    QPointer<QMessageBox> alert;
};

} // namespace tavrik
