#include "TavrikLink/Ui/Popover.hpp"

#include "TavrikLink/Views/PopoverPlacement.hpp"

#include <QLayout>
#include <QScreen>
#include <QWidget>

namespace tavrik {

void placePopover(QWidget* popup, const QWidget* anchor)
{
    // A part just shown or hidden reaches the window's size one layout level per event; bring every
    // level up to date, innermost first, so that the popover is measured as it will look.
    const QList<QWidget*> parts = popup->findChildren<QWidget*>();
    for (auto part = parts.crbegin(); part != parts.crend(); ++part) {
        if (QLayout* layout = (*part)->layout()) {
            layout->activate();
        }
    }
    if (popup->layout()) {
        popup->layout()->activate();
    }
    popup->adjustSize();
    const QRect bounds(anchor->mapToGlobal(QPoint(0, 0)), anchor->size());
    const QScreen* screen = anchor->screen();
    const QRect available = screen ? screen->availableGeometry() : bounds;
    popup->move(popoverGeometry(popup->size(), bounds, available).topLeft());
}

} // namespace tavrik
