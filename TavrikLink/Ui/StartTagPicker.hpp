#pragma once

#include <QPointer>
#include <QToolButton>

#include <QFrame>

namespace tavrik {

class StartTagPickerPresenter;

// "Add Start Tag" and the popover listing the tags on offer.
class StartTagPicker : public QToolButton {
    Q_OBJECT
public:
    StartTagPicker(StartTagPickerPresenter& presenter, QWidget* parent = nullptr);
    ~StartTagPicker() override;

    QFrame* popover() const { return popup; }

private:
    void syncPopover(bool presented);

    StartTagPickerPresenter& presenter;
    QPointer<QFrame> popup;
};

} // namespace tavrik
