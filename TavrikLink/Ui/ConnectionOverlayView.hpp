#pragma once

#include "TavrikLink/Ui/DetailPaneFactory.hpp"
#include "TavrikLink/Views/ConnectionOverlayPresenter.hpp"

#include <QWidget>

class QLabel;
class QPushButton;
class QToolButton;
class QVBoxLayout;

namespace tavrik {

// The centred column that covers the window while data loads or a command session runs.
class ConnectionOverlayView : public QWidget {
    Q_OBJECT
public:
    ConnectionOverlayView(DetailPaneContext context, QWidget* parent = nullptr);

    QLabel* statusLabel() const { return status; }
    QLabel* bluetoothProblemLabel() const { return bluetoothProblem; }
    QLabel* bluetoothAdviceLabel() const { return bluetoothAdvice; }
    QPushButton* tryAgainButton() const { return tryAgain; }
    QToolButton* backButton() const { return back; }
    const ConnectionOverlayPresenter::Overlay& shownOverlay() const { return shown; }

private:
    void refresh();

    DetailPaneContext context;
    ConnectionOverlayPresenter::Overlay shown;
    bool built = false;
    QWidget* backRow = nullptr;
    QToolButton* back = nullptr;
    QVBoxLayout* columnLayout = nullptr;
    QWidget* usbSetup = nullptr;
    QWidget* statusBlock = nullptr;
    QLabel* status = nullptr;
    QLabel* bluetoothProblem = nullptr;
    QLabel* bluetoothAdvice = nullptr;
    QPushButton* tryAgain = nullptr;
    QWidget* newBoard = nullptr;
};

} // namespace tavrik
