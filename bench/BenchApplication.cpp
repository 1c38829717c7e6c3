#include "bench/BenchApplication.hpp"

#include <QtGlobal>

#if TAVRIK_BENCH_WIDGETS
#include <QApplication>
#else
#include <QCoreApplication>
#endif

namespace tavrik::bench {

void ensureBenchApplication()
{
    static int argc = 1;
    static char name[] = "tavrik_bench";
    static char* argv[] = { name, nullptr };
    if (QCoreApplication::instance() != nullptr) {
        return;
    }
#if TAVRIK_BENCH_WIDGETS
    // The benchmarks have no window system.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(argc, argv);
#else
    new QCoreApplication(argc, argv);
#endif
}

} // namespace tavrik::bench
