#include "TavrikLink/Ui/PaneStyle.hpp"

#include <QFrame>
#include <QLabel>
#include <QMessageBox>
#include <QPalette>

namespace tavrik::paneStyle {

void makeTitle(QLabel* label, double scale)
{
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * scale);
    font.setBold(true);
    label->setFont(font);
}

void makeHeadline(QLabel* label)
{
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
}

void makeCaption(QLabel* label)
{
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    label->setFont(font);
}

void makeSecondary(QLabel* label)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::PlaceholderText));
    label->setPalette(palette);
}

void setTextColor(QWidget* widget, const QColor& color)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    widget->setPalette(palette);
}

QColor failureColor()
{
    return QColor(0xd7, 0x26, 0x1e);
}

QColor successColor()
{
    return QColor(0x1f, 0x8a, 0x3b);
}

QFrame* divider(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

} // namespace tavrik::paneStyle

namespace tavrik::paneStyle {

void styleAlert(QMessageBox* box)
{
    if (auto* title = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
        makeHeadline(title);
    }
    if (auto* message = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"))) {
        message->setMinimumWidth(320);
    }
    box->setWindowTitle(QStringLiteral("Tavrik Link"));
}

} // namespace tavrik::paneStyle
