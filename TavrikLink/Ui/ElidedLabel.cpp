#include "TavrikLink/Ui/ElidedLabel.hpp"

#include <QPainter>
#include <QStyle>

namespace tavrik {

ElidedLabel::ElidedLabel(const QString& text, Qt::TextElideMode mode, QWidget* parent)
    : QLabel(text, parent)
    , mode(mode)
{
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

QString ElidedLabel::shownText() const
{
    return fontMetrics().elidedText(text(), mode, contentsRect().width());
}

QSize ElidedLabel::minimumSizeHint() const
{
    // Room for a few letters and the ellipsis.
    return { fontMetrics().horizontalAdvance(QStringLiteral("Ab\u2026")), QLabel::minimumSizeHint().height() };
}

void ElidedLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect(), static_cast<int>(alignment()) | Qt::TextSingleLine, palette(),
        isEnabled(), shownText(), foregroundRole());
}

} // namespace tavrik
