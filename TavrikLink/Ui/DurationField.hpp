#pragma once

#include <QLineEdit>

namespace tavrik {

class DurationEditorPresenter;

// The duration text field: forwards typing, Return and focus to its presenter and shows its text.
class DurationField : public QLineEdit {
    Q_OBJECT
public:
    DurationField(DurationEditorPresenter& presenter, QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void showText(const QString& text);

    DurationEditorPresenter& presenter;
};

} // namespace tavrik
