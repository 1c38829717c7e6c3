#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>

#include <string>

class QWidget;

namespace tavrik {

class WindowAlertQueue;

// Shows the queue's current alert as a window-modal message box and answers the queue with the
// button the user chose.
class WindowAlertView : public QObject {
    Q_OBJECT
public:
    WindowAlertView(WindowAlertQueue& queue, QWidget* window);
    ~WindowAlertView() override;

    QMessageBox* shownBox() const { return box; }

private:
    void showCurrent();

    WindowAlertQueue& queue;
    QWidget* window;
    QPointer<QMessageBox> box;
    std::string shownKey;
};

} // namespace tavrik
