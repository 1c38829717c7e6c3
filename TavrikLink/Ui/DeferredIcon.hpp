#pragma once

#include <QIcon>

#include <functional>

namespace tavrik {

// An icon that asks `resolve` for itself when it is first drawn, measured or tested for null. The
// first look-up in an icon theme reads the theme's folders; a window whose hidden buttons hold
// deferred icons shows without waiting for it.
QIcon deferredIcon(std::function<QIcon()> resolve);

} // namespace tavrik
