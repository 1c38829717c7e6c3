#pragma once

#include "TavrikLink/Views/FirmwareDetailPresenter.hpp"

#include <QWidget>

#include <optional>
#include <vector>

class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;
class QVBoxLayout;

namespace tavrik {

class FirmwarePanePresenter;

// The firmware detail view: where firmware comes from, the selected build, the upload status with
// its progress, and the check, install and cancel buttons. It holds no controller; it shows what
// it is given and calls the given actions.
class FirmwareDetailView : public QWidget {
    Q_OBJECT
public:
    explicit FirmwareDetailView(QWidget* parent = nullptr);

    void setDetail(const FirmwareDetailPresenter& detail);
    void setActions(FirmwareDetailActions actions);
    // Shows the presenter's detail and follows its changes; the buttons call the presenter.
    void bind(FirmwarePanePresenter& presenter);

    QProgressBar* progressBar() const { return progress; }
    QLabel* statusLabel() const { return statusMessage; }
    QLabel* byteCountLabel() const { return byteCounts; }
    QPushButton* refreshButton() const { return refresh; }
    QPushButton* installButton() const { return install; }
    QPushButton* cancelButton() const { return cancel; }

private:
    static void fillBox(QFrame* box, const std::vector<FirmwareDetailPresenter::Row>& rows);

    FirmwareDetailActions actions;
    QFrame* sourceBox = nullptr;
    QFrame* assetBox = nullptr;
    QLabel* missingAsset = nullptr;
    QProgressBar* progress = nullptr;
    QLabel* statusMessage = nullptr;
    QLabel* byteCounts = nullptr;
    QPushButton* refresh = nullptr;
    QPushButton* install = nullptr;
    QPushButton* cancel = nullptr;
    std::optional<std::vector<FirmwareDetailPresenter::Row>> shownSourceRows;
    std::optional<std::vector<FirmwareDetailPresenter::Row>> shownAssetRows;
};

} // namespace tavrik
