#include "TavrikCore/Model/SyncPayloads.hpp"
#include "TavrikCore/Support/Json.hpp"
#include "TavrikLink/Controller/TavrikBleCentral.hpp"
#include "TavrikLink/Support/KeyValueStore.hpp"
#include "TavrikLink/Ui/TavrikLinkApplication.hpp"
#include "bench/OfflineWorld.hpp"
#include "bench/TurnScheduler.hpp"
#include "bench/WidgetsBench.hpp"
#include "tests/controller/ControllerProbe.hpp"
#include "tests/support/ManualClock.hpp"
#include "tests/support/ManualScheduler.hpp"
#include "tests/support/SequenceRandomSource.hpp"
#include "tests/support/qt/FakeBleCentral.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

using namespace tavrik;
using namespace tavrik::test;

// A "sync_data" message of `routineCount` routines of 20 steps each.
Data syncDataMessage(int routineCount)
{
    SyncDataEnvelope data;
    data.dataVersion = 9;
    for (std::uint32_t id = 1; id <= 8; ++id) {
        data.tags.push_back({ id, "04 A" + std::to_string(id), "Tag " + std::to_string(id) });
    }
    for (int index = 1; index <= routineCount; ++index) {
        RoutinePayload routine { static_cast<std::uint32_t>(index), "Routine " + std::to_string(index), {}, {}, {} };
        for (int step = 0; step < 20; ++step) {
            routine.steps.push_back({ static_cast<std::uint32_t>(step + 1), step, 0, std::to_string(step % 8 + 1), 60,
                "Step " + std::to_string(step), 0 });
        }
        data.routines.push_back(std::move(routine));
    }
    Json message = toJson(data);
    message["type"] = "sync_data";
    return dumpJsonData(message);
}

// The turns of the event loop in which a device's data message of 800 routines reaches the whole
// window (routing, reading, install and every view's update): the turn the message arrives in and
// each turn after it until the data are in. Budget: the longest of them fits one frame, 16 ms.
void BM_LoadOf800RoutinesLongestTurn(benchmark::State& state)
{
    bench::ensureWidgetsApplication();
    constexpr double budgetMs = 16.0;
    const Data payload = syncDataMessage(800);
    double longestMs = 0;
    std::size_t turns = 0;
    for (auto _ : state) {
        // The real clock, as the application's, so the load's own time budget applies.
        bench::TurnScheduler scheduler;
        // No Bluetooth takes part: the fake adapter's own time never moves.
        ManualScheduler adapterTime;
        bench::OfflineController offline { scheduler, adapterTime };
        TavrikBleCentral& controller = offline.controller;
        const auto window = bench::showWindow(scheduler, offline);
        Data message = payload;
        double longestHere = 0;
        turns = 0;
        // The link hands its message over, as the local link does.
        for (bool first = true; first || controller.routineSummaries().size() != 800; first = false) {
            const auto start = std::chrono::steady_clock::now();
            if (first) {
                ControllerProbe(controller).handleDataEnvelope(0, std::move(message));
            } else {
                scheduler.runTurn();
            }
            QCoreApplication::processEvents();
            const double turnMs
                = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            longestHere = std::max(longestHere, turnMs);
            ++turns;
        }
        longestMs = std::max(longestMs, longestHere);
        state.SetIterationTime(longestHere / 1000.0);
    }
    state.counters["turns"] = static_cast<double>(turns);
    state.counters["longestTurnMs"] = longestMs;
    state.counters["ratioToFrame"] = longestMs / budgetMs;
    std::printf("load of 800 routines: longest turn %.1f ms over %zu turns, %.2f times a 16 ms frame\n", longestMs,
        turns, longestMs / budgetMs);
    if (longestMs > budgetMs) {
        const std::string message = "a load of 800 routines holds one turn for " + std::to_string(longestMs) + " ms";
        state.SkipWithError(message.c_str());
    }
}
BENCHMARK(BM_LoadOf800RoutinesLongestTurn)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
