#pragma once

#include <QPointer>
#include <QToolButton>

class QFrame;

namespace tavrik {

class StartTagPickerPresenter;

// "Add Start Tag" and the popover listing the tags on offer. The list is built when the popover
// opens and goes with it.
class StartTagPicker : public QToolButton {
    Q_OBJECT
public:
    StartTagPicker(StartTagPickerPresenter& presenter, QWidget* parent = nullptr);
    ~StartTagPicker() override;

    // The open popover, or null.
    QFrame* popover() const { return popup; }

private:
    void syncPopover(bool presented);

    StartTagPickerPresenter& presenter;
    QPointer<QFrame> popup;
};

} // namespace tavrik
