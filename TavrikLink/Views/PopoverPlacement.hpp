#pragma once

#include <QRect>
#include <QSize>

namespace tavrik {

// Where a popover of `size` opens for an anchor (both in screen coordinates) inside the screen's
// available area: under the anchor and centred on it; above it when only there it fits (or when
// there is more room above); moved sideways so that it never leaves the area.
QRect popoverGeometry(QSize size, const QRect& anchor, const QRect& available);

} // namespace tavrik
