#pragma once

#include <QScrollArea>

namespace tavrik {

class FirmwareDetailView;
class FirmwarePanePresenter;

// The firmware pane: the firmware detail view in a scroll view, kept clear of the window's
// trailing edge.
class FirmwarePane : public QScrollArea {
    Q_OBJECT
public:
    // The presenter must outlive the pane.
    explicit FirmwarePane(FirmwarePanePresenter& presenter, QWidget* parent = nullptr);

    FirmwareDetailView* detailView() const { return view; }

private:
    FirmwareDetailView* view = nullptr;
};

} // namespace tavrik
