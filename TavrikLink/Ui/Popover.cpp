#include "TavrikLink/Ui/Popover.hpp"

#include "TavrikLink/Views/PopoverPlacement.hpp"

#include <QScreen>
#include <QWidget>

namespace tavrik {

void placePopover(QWidget* popup, const QWidget* anchor)
{
    popup->adjustSize();
    const QRect bounds(anchor->mapToGlobal(QPoint(0, 0)), anchor->size());
    const QScreen* screen = anchor->screen();
    const QRect available = screen ? screen->availableGeometry() : bounds;
    popup->move(popoverGeometry(popup->size(), bounds, available).topLeft());
}

} // namespace tavrik
