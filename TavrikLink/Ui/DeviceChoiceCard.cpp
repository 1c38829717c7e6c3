#include "TavrikLink/Ui/DeviceChoiceCard.hpp"

#include "TavrikLink/Support/TavrikResources.hpp"
#include "TavrikLink/Views/DeviceArtworkGeometry.hpp"
#include "TavrikLink/Views/UsbSetupPresenter.hpp"

#include <QFontMetricsF>
#include <QImageReader>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>

namespace tavrik {

namespace {

using Geometry = DeviceArtworkGeometry;

QColor secondary(const QPalette& palette)
{
    return palette.color(QPalette::PlaceholderText);
}

QFont captionFont(QFont font, bool semibold)
{
    font.setPointSizeF(font.pointSizeF() * 0.85);
    font.setWeight(semibold ? QFont::DemiBold : QFont::Normal);
    return font;
}

} // namespace

std::optional<QImage> deviceArtworkImage(UsbOnboardingTarget target)
{
    const QString path
        = TavrikResources::forApplication().path(QString::fromStdString(Geometry::artworkRelativePath(target)));
    QImageReader reader(path);
    QImage image = reader.read();
    if (image.isNull()) {
        return std::nullopt;
    }
    return image;
}

DeviceChoiceCard::DeviceChoiceCard(UsbOnboardingTarget target, bool isSelected, QWidget* parent)
    : QAbstractButton(parent)
    , cardTarget(target)
    , image(deviceArtworkImage(target))
{
    setText(QString::fromStdString(displayName(target)));
    setObjectName(QString::fromStdString("deviceCard-" + rawValue(target)));
    setCheckable(true);
    setSelected(isSelected);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(static_cast<int>(Geometry::cardHeight));
    setCursor(Qt::PointingHandCursor);
    connect(this, &QAbstractButton::clicked, this, &DeviceChoiceCard::selectRequested);
}

DeviceChoiceCard::DeviceChoiceCard(bool isSelected, QWidget* parent)
    : QAbstractButton(parent)
{
    setText(QString::fromUtf8(UsbSetupPresenter::otherTitle));
    setObjectName(QStringLiteral("deviceCard-other"));
    setCheckable(true);
    setSelected(isSelected);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(static_cast<int>(Geometry::cardHeight));
    setCursor(Qt::PointingHandCursor);
    connect(this, &QAbstractButton::clicked, this, &DeviceChoiceCard::selectRequested);
}

void DeviceChoiceCard::setSelected(bool isSelected)
{
    selected = isSelected;
    // The checked state carries "selected" to assistive technology.
    setChecked(isSelected);
    setAccessibleName(text());
    update();
}

DeviceChoiceCard::Artwork DeviceChoiceCard::artwork() const
{
    if (!cardTarget) {
        return Artwork::questionMark;
    }
    return image ? Artwork::picture : Artwork::fallbackSymbol;
}

QSize DeviceChoiceCard::sizeHint() const
{
    return QSize(120, static_cast<int>(Geometry::cardHeight));
}

QSize DeviceChoiceCard::minimumSizeHint() const
{
    return QSize(60, static_cast<int>(Geometry::cardHeight));
}

void DeviceChoiceCard::nextCheckState()
{
    // Selection is the caller's to decide.
}

void DeviceChoiceCard::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF frame = QRectF(rect()).adjusted(1, 1, -1, -1);
    QPainterPath shape;
    shape.addRoundedRect(frame, Geometry::cardCornerRadius, Geometry::cardCornerRadius);
    painter.fillPath(shape, palette().color(QPalette::Base));
    QColor border = palette().color(QPalette::WindowText);
    border.setAlphaF(0.14);
    QPen pen(selected ? palette().color(QPalette::Highlight) : border, selected ? 2.0 : 1.0);
    pen.setCapStyle(Qt::FlatCap);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    painter.drawPath(shape);

    const QRectF content
        = frame.adjusted(Geometry::cardPadding, Geometry::cardPadding, -Geometry::cardPadding, -Geometry::cardPadding);
    const QFont font = captionFont(this->font(), selected);
    const QFontMetricsF metrics(font);
    // The board names wrap to at most two centred lines; "Other" fits on one.
    const int lines = cardTarget ? 2 : 1;
    const QRectF titleBox(content.left(), 0, content.width(), metrics.lineSpacing() * lines);
    const QRectF bounds = metrics.boundingRect(titleBox, Qt::AlignHCenter | Qt::TextWordWrap, text());
    const double titleHeight = std::min(bounds.height(), metrics.lineSpacing() * lines);
    const double stackHeight = Geometry::artworkHeight + Geometry::cardSpacing + titleHeight;
    const double top = content.top() + std::max(0.0, (content.height() - stackHeight) / 2);
    paintArtwork(painter, QRectF(content.left(), top, content.width(), Geometry::artworkHeight));

    painter.setFont(font);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(
        QRectF(content.left(), top + Geometry::artworkHeight + Geometry::cardSpacing, content.width(), titleHeight),
        Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, text());
}

void DeviceChoiceCard::paintArtwork(QPainter& painter, const QRectF& slot) const
{
    const QColor dim = secondary(palette());
    switch (artwork()) {
    case Artwork::picture: {
        QSizeF size = QSizeF(image->size()).scaled(slot.size(), Qt::KeepAspectRatio) * Geometry::imageScale;
        QRectF target(QPointF(), size);
        target.moveCenter(slot.center());
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, *image);
        break;
    }
    case Artwork::fallbackSymbol: {
        // A portrait rectangle outline in place of the missing picture.
        const double height = Geometry::fallbackSymbolSize;
        QRectF symbol(0, 0, height * 0.62, height);
        symbol.moveCenter(slot.center());
        painter.setPen(QPen(dim, 2.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(symbol, 6, 6);
        break;
    }
    case Artwork::questionMark: {
        const double width = Geometry::questionMarkWidth;
        const double height = Geometry::questionMarkHeight;
        QRectF box(0, 0, width, height);
        box.moveCenter(slot.center());
        const auto stem = Geometry::questionMarkStem(width, height);
        QPainterPath path(stem.start);
        for (const auto& curve : stem.curves) {
            path.cubicTo(curve.control1, curve.control2, curve.end);
        }
        painter.save();
        painter.translate(box.topLeft());
        QPen pen(dim, Geometry::questionMarkLineWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(path);
        const double dot = Geometry::questionMarkDotSize;
        QRectF circle(0, 0, dot, dot);
        circle.moveCenter(Geometry::questionMarkDotCentre(width, height));
        painter.setPen(Qt::NoPen);
        painter.setBrush(dim);
        painter.drawEllipse(circle);
        painter.restore();
        break;
    }
    }
}

} // namespace tavrik
