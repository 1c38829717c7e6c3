#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

namespace tavrik {

// The window's symbols by the names the views use ("tag", "plus", "trash", "wifi", ...). Without a
// colour, the desktop's icon theme draws the symbol when it has a matching icon; otherwise, and
// always when a colour is given (status symbols, whose colour carries meaning), the symbol bundled
// in share/tavrik-link/Icons is drawn in that colour (the text colour by default). So a desktop
// without an icon theme still shows every symbol. An unknown name gives a null icon.
QIcon symbolIcon(const QString& symbol, const QColor& color = QColor(), int size = 16);

// The freedesktop icon names tried for a symbol, in order (none for status symbols).
QStringList themeIconNames(const QString& symbol);

} // namespace tavrik
