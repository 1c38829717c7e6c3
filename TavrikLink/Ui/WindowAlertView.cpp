#include "TavrikLink/Ui/WindowAlertView.hpp"

#include "TavrikLink/Ui/PaneStyle.hpp"
#include "TavrikLink/Views/WindowAlertQueue.hpp"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>

namespace tavrik {

WindowAlertView::WindowAlertView(WindowAlertQueue& queue, QWidget* window)
    : QObject(window)
    , queue(queue)
    , window(window)
{
    connect(&queue, &WindowAlertQueue::currentChanged, this, &WindowAlertView::showCurrent);
    showCurrent();
}

WindowAlertView::~WindowAlertView()
{
    if (box) {
        box->disconnect(this);
        delete box;
    }
}

void WindowAlertView::showCurrent()
{
    const WindowAlertQueue::Alert* alert = queue.current();
    if (box && alert && alert->key == shownKey) {
        return;
    }
    if (box) {
        // The alert it showed was answered or withdrawn.
        box->disconnect(this);
        box->close();
        box->deleteLater();
        box = nullptr;
    }
    shownKey.clear();
    if (!alert) {
        return;
    }
    shownKey = alert->key;
    box = new QMessageBox(window);
    box->setObjectName(QStringLiteral("windowAlert"));
    box->setWindowModality(Qt::WindowModal);
    box->setWindowTitle(QString::fromUtf8(WindowAlertQueue::windowTitle));
    using Kind = WindowAlertQueue::Kind;
    box->setIcon(alert->kind == Kind::information ? QMessageBox::Information
            : alert->kind == Kind::warning        ? QMessageBox::Warning
                                                  : QMessageBox::Question);
    box->setText(QString::fromStdString(alert->title));
    box->setInformativeText(QString::fromStdString(alert->message));
    paneStyle::styleAlert(box);
    QList<QAbstractButton*> buttons;
    for (const auto& button : alert->buttons) {
        using Role = WindowAlertQueue::Button::Role;
        const QMessageBox::ButtonRole role = button.role == Role::cancel ? QMessageBox::RejectRole
            : button.role == Role::destructive                           ? QMessageBox::DestructiveRole
                                                                         : QMessageBox::AcceptRole;
        QPushButton* added = box->addButton(QString::fromStdString(button.text), role);
        if (button.role == Role::cancel) {
            box->setEscapeButton(added);
        }
        buttons.push_back(added);
    }
    const auto chosen = WindowAlertQueue::defaultButton(*alert);
    for (QAbstractButton* button : buttons) {
        // Only the chosen button answers Return, whichever has the focus.
        qobject_cast<QPushButton*>(button)->setAutoDefault(false);
    }
    if (chosen) {
        auto* preferred = qobject_cast<QPushButton*>(buttons.at(static_cast<qsizetype>(*chosen)));
        box->setDefaultButton(preferred);
        preferred->setFocus();
    }
    connect(box, &QMessageBox::finished, this, [this, buttons](int) {
        QAbstractButton* clicked = box ? box->clickedButton() : nullptr;
        // Answered: whatever the queue shows next gets a box of its own.
        shownKey.clear();
        const qsizetype index = buttons.indexOf(clicked);
        if (index < 0) {
            queue.dismiss();
        } else {
            queue.answer(static_cast<std::size_t>(index));
        }
    });
    box->open();
}

} // namespace tavrik
