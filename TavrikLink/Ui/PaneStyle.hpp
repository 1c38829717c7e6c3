#pragma once

#include <QColor>

class QFrame;
class QLabel;
class QMessageBox;
class QWidget;

namespace tavrik::paneStyle {

// The few looks the panes share: title and caption fonts, the secondary text colour, state colours
// and dividers, all derived from the desktop's own palette and font.
void makeTitle(QLabel* label, double scale = 1.4);
void makeHeadline(QLabel* label);
void makeCaption(QLabel* label);
void makeSecondary(QLabel* label);
void setTextColor(QWidget* widget, const QColor& color);
QColor failureColor();
QColor successColor();
QFrame* divider(QWidget* parent = nullptr);
// An alert's title in bold above its message, wide enough that a sentence is not broken every
// few words.
void styleAlert(QMessageBox* box);

} // namespace tavrik::paneStyle
