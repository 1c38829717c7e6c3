#pragma once

#include "TavrikLink/Controller/TavrikBleCentral.hpp"
#include "TavrikLink/Support/KeyValueStore.hpp"
#include "TavrikLink/Ui/TavrikLinkApplication.hpp"
#include "tests/support/ManualClock.hpp"
#include "tests/support/ManualScheduler.hpp"
#include "tests/support/SequenceRandomSource.hpp"
#include "tests/support/qt/FakeBleCentral.hpp"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

namespace tavrik::bench {

// A controller with fake Bluetooth, no local-link folder and a fixed clock and randomness. The fake
// adapter keeps its time on `adapterTime`: the controller's own scheduler, unless a benchmark runs
// the controller on real time.
struct OfflineController {
    explicit OfflineController(test::ManualScheduler& scheduler)
        : OfflineController(scheduler, scheduler)
    {
    }
    OfflineController(Scheduler& scheduler, test::ManualScheduler& adapterTime)
        : central(adapterTime)
        , controller(TavrikBleCentral::Environment {
              central, scheduler, clock, random, defaults, "/nonexistent/local-link", false, {} })
    {
    }

    test::FakeBleCentral central;
    test::ManualClock clock;
    test::SequenceRandomSource random;
    InMemoryKeyValueStore defaults;
    TavrikBleCentral controller;
};

// The whole window over `offline`, shown and drawn once.
inline std::unique_ptr<TavrikLinkApplication> showWindow(Scheduler& scheduler, OfflineController& offline)
{
    auto window = std::make_unique<TavrikLinkApplication>(AppOptions {},
        TavrikLinkApplication::Environment { scheduler, TavrikResources(QStringLiteral("/nonexistent/bin")), [](int) {},
            false, &offline.controller, &offline.clock });
    window->show();
    QCoreApplication::processEvents();
    return window;
}

// The median time of `rounds` runs of `work`, in milliseconds.
template <class Work>
double medianMs(int rounds, Work&& work)
{
    std::vector<double> times;
    for (int round = 0; round < rounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::nth_element(times.begin(), times.begin() + rounds / 2, times.end());
    return times[static_cast<std::size_t>(rounds / 2)];
}

} // namespace tavrik::bench
