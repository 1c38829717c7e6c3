#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

namespace tavrik {

// The small symbols of the tag, schedule and Wi-Fi views by the names the views use ("wifi",
// "lock.wifi", "bell.fill", "trash", ...). Action symbols come from the desktop's icon theme when it
// has them; status symbols, whose colour carries meaning, are drawn in the colour given.
QIcon symbolIcon(const QString& symbol, const QColor& color = QColor(), int size = 16);

} // namespace tavrik
