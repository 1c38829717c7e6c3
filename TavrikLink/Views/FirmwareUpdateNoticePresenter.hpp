#pragma once

#include "TavrikCore/Firmware/FirmwareUpdateNotice.hpp"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace tavrik {

class TavrikBleCentral;

// The "Firmware Update Available" alert: shown for each notice the controller publishes; Install
// brings up the firmware pane and starts the installation, either button clears the notice.
class FirmwareUpdateNoticePresenter : public QObject {
    Q_OBJECT

public:
    struct Actions {
        std::function<void()> showFirmwarePane;
        std::function<void()> startFirmwareInstall;
        std::function<void()> dismissNotice;
    };

    explicit FirmwareUpdateNoticePresenter(Actions actions, QObject* parent = nullptr);
    // Follows the controller's notice; the controller must outlive the presenter.
    FirmwareUpdateNoticePresenter(
        TavrikBleCentral& controller, std::function<void()> showFirmwarePane, QObject* parent = nullptr);

    static QString title() { return QStringLiteral("Firmware Update Available"); }
    static QString installTitle() { return QStringLiteral("Install"); }

    const std::optional<FirmwareUpdateNotice>& notice() const { return current; }
    QString message() const { return current ? QString::fromStdString(current->message) : QString(); }
    void setNotice(std::optional<FirmwareUpdateNotice> notice);

    void install();
    void dismiss();

signals:
    void noticeChanged();

private:
    Actions actions;
    std::optional<FirmwareUpdateNotice> current;
};

} // namespace tavrik
