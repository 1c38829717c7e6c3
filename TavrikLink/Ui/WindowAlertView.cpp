#include "TavrikLink/Ui/WindowAlertView.hpp"

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
    box->setIcon(alert->informational ? QMessageBox::Information : QMessageBox::Warning);
    box->setText(QString::fromStdString(alert->title));
    box->setInformativeText(QString::fromStdString(alert->message));
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
    if (!buttons.isEmpty()) {
        box->setDefaultButton(qobject_cast<QPushButton*>(buttons.front()));
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
