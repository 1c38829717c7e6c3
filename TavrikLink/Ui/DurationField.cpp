#include "TavrikLink/Ui/DurationField.hpp"

#include "TavrikLink/Views/DurationEditorPresenter.hpp"

#include <QFocusEvent>
#include <QFontDatabase>
#include <QKeyEvent>

namespace tavrik {

DurationField::DurationField(DurationEditorPresenter& presenter, QWidget* parent)
    : QLineEdit(parent)
    , presenter(presenter)
{
    setObjectName(QStringLiteral("durationField"));
    setPlaceholderText(DurationEditorPresenter::placeholder());
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setFixedWidth(112);
    setText(presenter.text());
    connect(this, &QLineEdit::textEdited, &presenter, &DurationEditorPresenter::editText);
    connect(this, &QLineEdit::returnPressed, &presenter, &DurationEditorPresenter::submit);
    connect(&presenter, &DurationEditorPresenter::textChanged, this, &DurationField::showText);
}

void DurationField::showText(const QString& text)
{
    if (text != this->text()) {
        setText(text);
    }
}

void DurationField::keyPressEvent(QKeyEvent* event)
{
    QLineEdit::keyPressEvent(event);
    // Return commits the duration; it must not also reach the sheet's default button.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
    }
}

void DurationField::focusInEvent(QFocusEvent* event)
{
    QLineEdit::focusInEvent(event);
    presenter.setFocused(true);
}

void DurationField::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    presenter.setFocused(false);
}

void DurationField::showEvent(QShowEvent* event)
{
    QLineEdit::showEvent(event);
    presenter.appear();
}

void DurationField::hideEvent(QHideEvent* event)
{
    presenter.disappear();
    QLineEdit::hideEvent(event);
}

} // namespace tavrik
