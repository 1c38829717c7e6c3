#pragma once

#include <QIcon>
#include <QString>

#include <functional>

class QBoxLayout;
class QDialog;
class QLabel;
class QWidget;

namespace tavrik {

// A symbol from the desktop's icon theme.
QIcon symbolIcon(const QString& symbol);
// Title, Delete (destructive) and Done (the default button) across the top of an editor sheet.
QBoxLayout* sheetHeader(
    QDialog* sheet, const QString& title, std::function<void()> onDelete, std::function<void()> onDone);
// A field's message: caption size, red, hidden while empty.
QLabel* validationLabel(QWidget* parent);

} // namespace tavrik
