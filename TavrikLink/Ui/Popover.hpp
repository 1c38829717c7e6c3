#pragma once

class QWidget;

namespace tavrik {

// Sizes the popup window to its content and puts it by its anchor inside the anchor's screen:
// under it, or above it near the bottom edge, moved in from the sides.
void placePopover(QWidget* popup, const QWidget* anchor);

} // namespace tavrik
