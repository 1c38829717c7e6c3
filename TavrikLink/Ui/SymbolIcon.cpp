#include "TavrikLink/Ui/SymbolIcon.hpp"

#include "TavrikLink/Ui/DeferredIcon.hpp"

#include <QApplication>
#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>

namespace tavrik {

namespace {

QString themeName(const QString& symbol)
{
    static const QHash<QString, QString> names {
        { QStringLiteral("plus"), QStringLiteral("list-add") },
        { QStringLiteral("minus"), QStringLiteral("list-remove") },
        { QStringLiteral("trash"), QStringLiteral("user-trash") },
        { QStringLiteral("arrow.clockwise"), QStringLiteral("view-refresh") },
        { QStringLiteral("eye"), QStringLiteral("view-reveal") },
        { QStringLiteral("eye.slash"), QStringLiteral("view-conceal") },
    };
    return names.value(symbol);
}

void drawWifi(QPainter& painter, double s, bool locked)
{
    QPen pen = painter.pen();
    pen.setWidthF(s * 0.1);
    pen.setCapStyle(Qt::RoundCap);
    painter.setPen(pen);
    const QPointF centre(s * 0.5, s * 0.82);
    for (double radius : { s * 0.22, s * 0.42 }) {
        painter.drawArc(QRectF(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius), 45 * 16, 90 * 16);
    }
    painter.setBrush(pen.color());
    painter.drawEllipse(centre, s * 0.06, s * 0.06);
    if (locked) {
        painter.setPen(Qt::NoPen);
        painter.drawRoundedRect(QRectF(s * 0.62, s * 0.6, s * 0.34, s * 0.3), s * 0.05, s * 0.05);
        QPen shackle = pen;
        shackle.setWidthF(s * 0.07);
        painter.setPen(shackle);
        painter.setBrush(Qt::NoBrush);
        painter.drawArc(QRectF(s * 0.68, s * 0.44, s * 0.22, s * 0.3), 0, 180 * 16);
    }
}

void drawCircleMark(QPainter& painter, double s, bool filled, QChar mark)
{
    const QRectF circle(s * 0.08, s * 0.08, s * 0.84, s * 0.84);
    QPen pen = painter.pen();
    pen.setWidthF(s * 0.08);
    painter.setPen(pen);
    if (filled) {
        painter.setBrush(pen.color());
    }
    painter.drawEllipse(circle);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(static_cast<int>(s * 0.62));
    painter.setFont(font);
    painter.setPen(filled ? QColor(Qt::white) : pen.color());
    painter.drawText(circle, Qt::AlignCenter, QString(mark));
}

void drawBell(QPainter& painter, double s, bool filled, bool slashed)
{
    QPainterPath bell;
    bell.moveTo(s * 0.5, s * 0.12);
    bell.cubicTo(s * 0.25, s * 0.12, s * 0.24, s * 0.35, s * 0.24, s * 0.5);
    bell.lineTo(s * 0.14, s * 0.74);
    bell.lineTo(s * 0.86, s * 0.74);
    bell.lineTo(s * 0.76, s * 0.5);
    bell.cubicTo(s * 0.76, s * 0.35, s * 0.75, s * 0.12, s * 0.5, s * 0.12);
    QPen pen = painter.pen();
    pen.setWidthF(s * 0.08);
    pen.setJoinStyle(Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(filled ? QBrush(pen.color()) : QBrush(Qt::NoBrush));
    painter.drawPath(bell);
    painter.setBrush(pen.color());
    painter.drawEllipse(QPointF(s * 0.5, s * 0.84), s * 0.08, s * 0.08);
    if (slashed) {
        pen.setCapStyle(Qt::RoundCap);
        painter.setPen(pen);
        painter.drawLine(QPointF(s * 0.1, s * 0.1), QPointF(s * 0.9, s * 0.9));
    }
}

void drawTag(QPainter& painter, double s)
{
    QPainterPath tag;
    tag.moveTo(s * 0.1, s * 0.1);
    tag.lineTo(s * 0.5, s * 0.1);
    tag.lineTo(s * 0.92, s * 0.52);
    tag.lineTo(s * 0.52, s * 0.92);
    tag.lineTo(s * 0.1, s * 0.5);
    tag.closeSubpath();
    tag.addEllipse(QPointF(s * 0.3, s * 0.3), s * 0.07, s * 0.07);
    painter.setPen(Qt::NoPen);
    painter.setBrush(painter.pen().color());
    painter.fillPath(tag, painter.brush());
}

void drawGlyph(QPainter& painter, double s, const QString& glyph)
{
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(static_cast<int>(s * 0.9));
    painter.setFont(font);
    painter.drawText(QRectF(0, 0, s, s), Qt::AlignCenter, glyph);
}

QIcon resolvedSymbolIcon(const QString& symbol, const QColor& color, int size)
{
    const QString theme = themeName(symbol);
    if (!theme.isEmpty() && !color.isValid()) {
        QIcon themed = QIcon::fromTheme(theme, QIcon::fromTheme(theme + QStringLiteral("-symbolic")));
        if (!themed.isNull()) {
            return themed;
        }
    }
    const QColor ink = color.isValid() ? color : QApplication::palette().color(QPalette::WindowText);
    const qreal ratio = 2;
    QPixmap pixmap(static_cast<int>(size * ratio), static_cast<int>(size * ratio));
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(ink);
    const double s = size;
    if (symbol == QLatin1String("wifi") || symbol == QLatin1String("lock.wifi")) {
        drawWifi(painter, s, symbol == QLatin1String("lock.wifi"));
    } else if (symbol == QLatin1String("checkmark.circle.fill")) {
        drawCircleMark(painter, s, true, QChar(0x2713));
    } else if (symbol == QLatin1String("checkmark.circle")) {
        drawCircleMark(painter, s, false, QChar(0x2713));
    } else if (symbol == QLatin1String("exclamationmark.circle")) {
        drawCircleMark(painter, s, false, QLatin1Char('!'));
    } else if (symbol == QLatin1String("xmark.circle.fill")) {
        drawCircleMark(painter, s, true, QChar(0x00D7));
    } else if (symbol == QLatin1String("bell.fill") || symbol == QLatin1String("bell.slash")) {
        drawBell(painter, s, symbol == QLatin1String("bell.fill"), symbol == QLatin1String("bell.slash"));
    } else if (symbol == QLatin1String("tag.fill")) {
        drawTag(painter, s);
    } else if (symbol == QLatin1String("plus")) {
        drawGlyph(painter, s, QStringLiteral("+"));
    } else if (symbol == QLatin1String("minus")) {
        drawGlyph(painter, s, QString(QChar(0x2212)));
    } else if (symbol == QLatin1String("arrow.clockwise")) {
        drawGlyph(painter, s, QString(QChar(0x21BB)));
    } else if (symbol == QLatin1String("trash")) {
        drawGlyph(painter, s, QString(QChar(0x2715)));
    } else if (symbol == QLatin1String("eye") || symbol == QLatin1String("eye.slash")) {
        drawGlyph(painter, s, QString(QChar(symbol == QLatin1String("eye") ? 0x25C9 : 0x25CE)));
    }
    painter.end();
    return QIcon(pixmap);
}

} // namespace

QIcon symbolIcon(const QString& symbol, const QColor& color, int size)
{
    if (!color.isValid() && !themeName(symbol).isEmpty()) {
        // A pane's hidden buttons (an editor not yet shown) then never look in the theme.
        return deferredIcon([symbol, size] { return resolvedSymbolIcon(symbol, QColor(), size); });
    }
    return resolvedSymbolIcon(symbol, color, size);
}

} // namespace tavrik
