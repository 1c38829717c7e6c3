#include "TavrikLink/Controller/TavrikBleCentral.hpp"
#include "TavrikLink/Support/KeyValueStore.hpp"
#include "TavrikLink/Ui/ContentView.hpp"
#include "TavrikLink/Ui/TavrikLinkApplication.hpp"
#include "TavrikLink/Ui/TavrikLinkMainWindow.hpp"
#include "TavrikLink/Views/ContentViewPresenter.hpp"
#include "bench/OfflineWorld.hpp"
#include "bench/WidgetsBench.hpp"
#include "tests/support/ManualClock.hpp"
#include "tests/support/ManualScheduler.hpp"
#include "tests/support/SequenceRandomSource.hpp"
#include "tests/support/qt/FakeBleCentral.hpp"

#include <QLineEdit>
#include <QTest>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace tavrik;
using namespace tavrik::test;

// A device of `routineCount` routines of 20 steps each, loaded into the whole window, which shows
// the first routine with the cursor in its title.
struct EditWorld {
    explicit EditWorld(std::int64_t routineCount)
    {
        SyncDataEnvelope data;
        data.dataVersion = 9;
        for (std::uint32_t id = 1; id <= 8; ++id) {
            data.tags.push_back({ id, "04 A" + std::to_string(id), "Tag " + std::to_string(id) });
        }
        for (std::int64_t index = 1; index <= routineCount; ++index) {
            RoutinePayload routine { static_cast<std::uint32_t>(index), "Routine " + std::to_string(index), {}, {}, {} };
            for (std::int64_t step = 0; step < 20; ++step) {
                routine.steps.push_back({ static_cast<std::uint32_t>(step + 1), step, 0, std::to_string(step % 8 + 1),
                    60, "Step " + std::to_string(step), 0 });
            }
            data.routines.push_back(std::move(routine));
        }
        for (std::uint32_t id = 1; id <= 3; ++id) {
            ScheduledRoutine schedule;
            schedule.id = id;
            schedule.routineId = id;
            schedule.hour = 6 + id;
            schedule.days = 62;
            schedule.enabled = true;
            schedule.type = "recurring";
            data.schedules.push_back(schedule);
        }
        controller.applySyncData(data, true, 9);
        app = bench::showWindow(scheduler, offline);
        app->contentView()->presenter().selectRoutine(1);
        QCoreApplication::processEvents();
        title = app->mainWindow().findChild<QLineEdit*>(QStringLiteral("routineTitleField"));
        title->setFocus();
        title->end(false);
        QCoreApplication::processEvents();
    }

    // One key in the title, typed or taken back, and the window brought up to date.
    void pressKey()
    {
        QTest::keyClick(title, typed ? Qt::Key_Backspace : Qt::Key_X);
        typed = !typed;
        QCoreApplication::processEvents();
    }

    ManualScheduler scheduler;
    bench::OfflineController offline { scheduler };
    TavrikBleCentral& controller = offline.controller;
    std::unique_ptr<TavrikLinkApplication> app;
    QLineEdit* title = nullptr;
    bool typed = false;
};

void BM_RoutineTitleKeyPress(benchmark::State& state)
{
    bench::ensureWidgetsApplication();
    EditWorld world(state.range(0));
    for (auto _ : state) {
        world.pressKey();
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_RoutineTitleKeyPress)->Arg(20)->Arg(800)->Arg(3'200)->Unit(benchmark::kMillisecond);

// A key press in a routine's title with 3,200 routines on the device against the same with 20, in
// one run. Budget: at most 1.5 times; a run over it reports an error.
void BM_RoutineTitleKeyPressRatio(benchmark::State& state)
{
    bench::ensureWidgetsApplication();
    constexpr std::array<std::int64_t, 2> sizes { 20, 3'200 };
    constexpr int rounds = 41;
    constexpr double budget = 1.5;
    std::array<double, sizes.size()> medianMs {};
    for (auto _ : state) {
        for (std::size_t size = 0; size < sizes.size(); ++size) {
            EditWorld world(sizes[size]);
            medianMs[size] = bench::medianMs(rounds, [&] { world.pressKey(); });
        }
    }
    const double ratio = medianMs[1] / medianMs[0];
    state.counters["ms20"] = medianMs[0];
    state.counters["ms3200"] = medianMs[1];
    state.counters["ratio"] = ratio;
    std::printf("routine title key press, median: %.3f ms with 20 routines, %.3f ms with 3,200, ratio %.2f "
                "(budget %.2f)\n",
        medianMs[0], medianMs[1], ratio, budget);
    if (ratio > budget) {
        const std::string message
            = "a key press in a routine title costs x" + std::to_string(ratio) + " with 3,200 routines against 20";
        state.SkipWithError(message.c_str());
    }
}
BENCHMARK(BM_RoutineTitleKeyPressRatio)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
