#include "TavrikLink/Controller/TavrikBleCentral.hpp"
#include "TavrikLink/Support/KeyValueStore.hpp"
#include "TavrikLink/Ui/RoutinePane.hpp"
#include "TavrikLink/Views/ContentViewPresenter.hpp"
#include "TavrikLink/Views/RoutinePanePresenter.hpp"
#include "TavrikLink/Views/ScheduleSectionPresenter.hpp"
#include "bench/OfflineWorld.hpp"
#include "bench/WidgetsBench.hpp"
#include "tests/support/ManualClock.hpp"
#include "tests/support/ManualScheduler.hpp"
#include "tests/support/SequenceRandomSource.hpp"
#include "tests/support/qt/FakeBleCentral.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace tavrik;
using namespace tavrik::test;

// A loaded controller with `tagCount` tags and the routine pane showing a routine of 20 steps that
// use some of them, two of them as start tags, and three schedules.
struct PaneWorld {
    explicit PaneWorld(std::int64_t tagCount)
    {
        SyncDataEnvelope data;
        data.dataVersion = 9;
        for (std::int64_t index = 1; index <= tagCount; ++index) {
            data.tags.push_back({ static_cast<std::uint32_t>(index), "04 " + std::to_string(index),
                "Tag with a long name " + std::to_string(index) });
        }
        RoutinePayload routine { 1, "Morning", {}, {}, { 1, 2 } };
        for (std::int64_t step = 0; step < 20; ++step) {
            routine.steps.push_back({ static_cast<std::uint32_t>(step + 1), step, 0,
                std::to_string(step % tagCount + 1), 60, "Step " + std::to_string(step), 0 });
        }
        data.routines = { routine };
        for (std::uint32_t id = 1; id <= 3; ++id) {
            ScheduledRoutine schedule;
            schedule.id = id;
            schedule.routineId = 1;
            schedule.hour = 6 + id;
            schedule.days = 62;
            schedule.enabled = true;
            schedule.type = "recurring";
            data.schedules.push_back(schedule);
        }
        controller.applySyncData(data, true, 9);
        window.selectRoutine(1);
        pane = std::make_unique<RoutinePane>(RoutinePanePresenter::following(controller, window),
            new ScheduleSectionPresenter(controller, window), window);
        pane->resize(700, 600);
        pane->show();
        QCoreApplication::processEvents();
    }

    // A tag's name changes (as a rename in the tag pane does) and the pane redraws.
    void renameLastTag()
    {
        const TagInfo& last = controller.tags().back();
        controller.updateTag(last.id, flip ? last.name + " renamed" : last.name.substr(0, last.name.size() - 8));
        flip = !flip;
    }

    ManualScheduler scheduler;
    bench::OfflineController offline { scheduler };
    TavrikBleCentral& controller = offline.controller;
    ContentViewPresenter window { ContentViewPresenter::Actions {} };
    std::unique_ptr<RoutinePane> pane;
    bool flip = true;
};

// One tag edit while the routine pane is shown: the controller's change and the pane's whole refresh.
void BM_RoutinePaneRefreshOnTagEdit(benchmark::State& state)
{
    bench::ensureWidgetsApplication();
    PaneWorld world(state.range(0));
    for (auto _ : state) {
        world.renameLastTag();
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_RoutinePaneRefreshOnTagEdit)
    ->Arg(100)
    ->Arg(1'000)
    ->Arg(10'000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

// The same refresh at 100, 1,000 and 10,000 tags in one run. Budget: ten times the tags take at most
// twelve times the time (no step grows worse than linearly); a run over it reports an error.
void BM_RoutinePaneRefreshGrowth(benchmark::State& state)
{
    bench::ensureWidgetsApplication();
    constexpr std::array<std::int64_t, 3> sizes { 100, 1'000, 10'000 };
    constexpr int rounds = 15;
    std::array<double, sizes.size()> medianMs {};
    for (auto _ : state) {
        for (std::size_t size = 0; size < sizes.size(); ++size) {
            PaneWorld world(sizes[size]);
            medianMs[size] = bench::medianMs(rounds, [&] { world.renameLastTag(); });
        }
    }
    const double growth1k = medianMs[1] / medianMs[0];
    const double growth10k = medianMs[2] / medianMs[1];
    state.counters["ms100"] = medianMs[0];
    state.counters["ms1000"] = medianMs[1];
    state.counters["ms10000"] = medianMs[2];
    state.counters["ratio1000to100"] = growth1k;
    state.counters["ratio10000to1000"] = growth10k;
    if (std::max(growth1k, growth10k) > 12.0) {
        const std::string message = "the routine pane's refresh grows worse than linearly with the tags: x"
            + std::to_string(growth1k) + " from 100 to 1,000, x" + std::to_string(growth10k) + " from 1,000 to 10,000";
        state.SkipWithError(message.c_str());
    }
}
BENCHMARK(BM_RoutinePaneRefreshGrowth)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
