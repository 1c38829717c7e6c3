#include "TavrikLink/Ui/BusyIndicator.hpp"

#include <QPainter>
#include <QTimer>

namespace tavrik {

namespace {
constexpr int spokes = 12;
}

BusyIndicator::BusyIndicator(Size size, QWidget* parent)
    : QWidget(parent)
    , extent(size == Size::small ? 16 : 32)
    , timer(new QTimer(this))
{
    setFixedSize(extent, extent);
    timer->setInterval(80);
    connect(timer, &QTimer::timeout, this, [this] {
        step = (step + 1) % spokes;
        update();
    });
}

QSize BusyIndicator::sizeHint() const
{
    return QSize(extent, extent);
}

void BusyIndicator::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(width() / 2.0, height() / 2.0);
    const double outer = extent / 2.0 - 1;
    const double inner = outer * 0.5;
    QColor colour = palette().color(QPalette::WindowText);
    for (int index = 0; index < spokes; ++index) {
        colour.setAlphaF(static_cast<float>(0.15 + 0.85 * ((index + spokes - step) % spokes) / double(spokes)));
        painter.setPen(QPen(colour, extent / 10.0, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(0, -inner), QPointF(0, -outer));
        painter.rotate(-360.0 / spokes);
    }
}

void BusyIndicator::showEvent(QShowEvent* event)
{
    timer->start();
    QWidget::showEvent(event);
}

void BusyIndicator::hideEvent(QHideEvent* event)
{
    timer->stop();
    QWidget::hideEvent(event);
}

} // namespace tavrik
