#pragma once

#include <QIcon>
#include <QString>

#include <functional>

class QBoxLayout;
class QDialog;
class QLabel;
class QWidget;

namespace tavrik {

// Title, Delete (destructive) and Done (the default button) across the top of an editor sheet.
QBoxLayout* sheetHeader(
    QDialog* sheet, const QString& title, std::function<void()> onDelete, std::function<void()> onDone);
// Gives the sheet the height its content needs at its width, growing or shrinking, after a part of
// it was shown, hidden or changed height.
void fitSheetToContent(QWidget* sheet);
// A field's message: caption size, red, hidden while empty.
QLabel* validationLabel(QWidget* parent);

} // namespace tavrik
