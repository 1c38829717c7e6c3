#pragma once

#include "TavrikLink/Ui/DetailPaneFactory.hpp"
#include "TavrikLink/Views/ConnectionOverlayPresenter.hpp"

#include <QScrollArea>

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace tavrik {

// The notice that a legacy device must save a migration backup and be upgraded before editing,
// with the firmware section under it.
class LegacyUpgradeView : public QScrollArea {
    Q_OBJECT
public:
    LegacyUpgradeView(DetailPaneContext context, QWidget* parent = nullptr);

    QPushButton* saveBackupButton() const { return saveBackup; }
    QLabel* backupStatusLabel() const { return backupStatus; }

private:
    void refresh();

    DetailPaneContext context;
    ConnectionOverlayPresenter::LegacyUpgradeCard shown;
    bool built = false;
    QWidget* warningsBlock = nullptr;
    QVBoxLayout* warningsLayout = nullptr;
    QPushButton* saveBackup = nullptr;
    QLabel* backupMark = nullptr;
    QLabel* backupStatus = nullptr;
};

} // namespace tavrik
