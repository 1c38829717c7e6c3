#include "TavrikLink/Ui/SymbolIcon.hpp"

#include "TavrikLink/Support/TavrikResources.hpp"
#include "TavrikLink/Ui/DeferredIcon.hpp"

#include <QApplication>
#include <QFile>
#include <QHash>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QSvgRenderer>

namespace tavrik {

QStringList themeIconNames(const QString& symbol)
{
    static const QHash<QString, QStringList> names {
        { QStringLiteral("plus"), { QStringLiteral("list-add") } },
        { QStringLiteral("minus"), { QStringLiteral("list-remove") } },
        { QStringLiteral("trash"), { QStringLiteral("edit-delete"), QStringLiteral("user-trash") } },
        { QStringLiteral("arrow.clockwise"), { QStringLiteral("view-refresh") } },
        { QStringLiteral("eye"), { QStringLiteral("view-visible"), QStringLiteral("view-reveal") } },
        { QStringLiteral("eye.slash"), { QStringLiteral("view-hidden"), QStringLiteral("view-conceal") } },
        { QStringLiteral("list.clipboard"), { QStringLiteral("view-list-details") } },
        { QStringLiteral("tag"), { QStringLiteral("tag") } },
        { QStringLiteral("square.and.arrow.up"), { QStringLiteral("system-software-update") } },
        { QStringLiteral("gearshape"), { QStringLiteral("preferences-system") } },
        { QStringLiteral("play.fill"), { QStringLiteral("media-playback-start") } },
        { QStringLiteral("chevron.right"), { QStringLiteral("go-next") } },
        { QStringLiteral("chevron.left"), { QStringLiteral("go-previous") } },
        { QStringLiteral("eject"), { QStringLiteral("media-eject") } },
    };
    return names.value(symbol);
}

namespace {

QIcon resolvedSymbolIcon(const QString& symbol, const QColor& color, int size)
{
    if (!color.isValid()) {
        // A theme's monochrome form first (Adwaita's full-colour icons would stand out among the
        // bundled outline symbols), then its ordinary one.
        for (const QString& name : themeIconNames(symbol)) {
            for (const QString& form : { name + QStringLiteral("-symbolic"), name }) {
                if (QIcon::hasThemeIcon(form)) {
                    return QIcon::fromTheme(form);
                }
            }
        }
    }
    QFile file(TavrikResources::forApplication().path(QStringLiteral("Icons/") + symbol + QStringLiteral(".svg")));
    if (symbol.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QColor ink = color.isValid() ? color : QApplication::palette().color(QPalette::WindowText);
    QByteArray svg = file.readAll();
    svg.replace("currentColor", ink.name(QColor::HexRgb).toLatin1());
    QSvgRenderer renderer(svg);
    if (!renderer.isValid()) {
        return {};
    }
    QIcon icon;
    // Drawn sharp for ordinary and doubled pixel densities.
    for (const qreal ratio : { 1.0, 2.0 }) {
        QPixmap pixmap(static_cast<int>(size * ratio), static_cast<int>(size * ratio));
        pixmap.setDevicePixelRatio(ratio);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setOpacity(ink.alphaF());
        renderer.render(&painter, QRectF(0, 0, size, size));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

QIcon symbolIcon(const QString& symbol, const QColor& color, int size)
{
    // Looked up in the theme and drawn when first shown or measured: a pane's hidden buttons (an
    // editor not yet shown, a closed drawer) then hold up no window's first appearance.
    return deferredIcon([symbol, color, size] { return resolvedSymbolIcon(symbol, color, size); });
}

} // namespace tavrik
