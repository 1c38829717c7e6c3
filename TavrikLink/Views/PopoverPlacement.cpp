#include "TavrikLink/Views/PopoverPlacement.hpp"

#include <algorithm>

namespace tavrik {

namespace {

// The start that keeps `length` inside [first, first + room); the first edge wins when it cannot.
int keptInside(int start, int length, int first, int room)
{
    return std::max(first, std::min(start, first + room - length));
}

} // namespace

QRect popoverGeometry(QSize size, const QRect& anchor, const QRect& available)
{
    const int x = keptInside(
        anchor.x() + (anchor.width() - size.width()) / 2, size.width(), available.left(), available.width());
    const int roomBelow = available.bottom() - anchor.bottom();
    const int roomAbove = anchor.top() - available.top();
    int y = anchor.bottom() + 1;
    if (size.height() > roomBelow && (size.height() <= roomAbove || roomAbove > roomBelow)) {
        y = anchor.top() - size.height();
    }
    y = keptInside(y, size.height(), available.top(), available.height());
    return { QPoint(x, y), size };
}

} // namespace tavrik
