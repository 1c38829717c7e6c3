#pragma once

#include <QApplication>

namespace tavrik::bench {

// The widgets need an application; the benchmark has no window system. It lives until the process
// ends and is never destroyed: torn down among the exit handlers, after Qt's own statics, it crashes.
inline void ensureWidgetsApplication()
{
    static int argc = 1;
    static char name[] = "tavrik_bench";
    static char* argv[] = { name, nullptr };
    if (!QApplication::instance()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        new QApplication(argc, argv);
    }
}

} // namespace tavrik::bench
