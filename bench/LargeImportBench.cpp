#include "TavrikLink/Controller/TavrikBleCentral.hpp"
#include "TavrikLink/Views/ContentViewPresenter.hpp"
#include "TavrikLink/Views/RoutinePanePresenter.hpp"
#include "bench/OfflineWorld.hpp"
#include "bench/WidgetsBench.hpp"
#include "tests/support/ManualScheduler.hpp"

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

namespace {

using namespace tavrik;
using namespace tavrik::test;

constexpr int largeStepCount = 900'000;

// A current backup of one routine of 900,000 steps (about 65 MB), written by hand: building it
// as a tree would take longer than what is measured.
const std::string& largeBackup()
{
    static const std::string text = [] {
        std::string result = R"({"type":"sync_data","dataVersion":9,"tags":[{"id":1,"uid":"04 A1","name":"Door"}],)"
                             R"("schedules":[],"routines":[{"id":1,"label":"Everything","groups":[],)"
                             R"("startTagIds":[],"steps":[)";
        result.reserve(std::size_t { 76 } * largeStepCount + result.size());
        for (int step = 0; step < largeStepCount; ++step) {
            const std::string number = std::to_string(step);
            result += (step == 0 ? "" : ",");
            result += R"({"id":)" + std::to_string(step + 1) + R"(,"position":)" + number
                + R"(,"tagId":"1","seconds":60,"instruction":"Go"})";
        }
        result += "]}]}";
        return result;
    }();
    return text;
}

// The worker's part of an import of the large backup: its migration and the conversion of its routines.
void BM_LargeBackupPreparation(benchmark::State& state)
{
    const Data bytes = dataFromString(largeBackup());
    ManualScheduler scheduler;
    bench::OfflineController offline { scheduler };
    const TavrikBleCentral::BackupPreparation prepare = offline.controller.backupPreparation();
    for (auto _ : state) {
        benchmark::DoNotOptimize(prepare(bytes));
    }
    state.counters["documentBytes"] = static_cast<double>(bytes.size());
}
BENCHMARK(BM_LargeBackupPreparation)->Iterations(1)->Unit(benchmark::kMillisecond);

// What the window's thread is left with once the worker is done: the controller takes the prepared
// data in and the routine pane refreshes over it.
void BM_LargeBackupInstallOnTheWindowsThread(benchmark::State& state)
{
    bench::ensureWidgetsApplication();
    ManualScheduler scheduler;
    bench::OfflineController offline { scheduler };
    ContentViewPresenter window { ContentViewPresenter::Actions {} };
    window.selectRoutine(1);
    const std::unique_ptr<RoutinePanePresenter> pane = RoutinePanePresenter::following(offline.controller, window);
    PreparedBackup prepared = offline.controller.backupPreparation()(dataFromString(largeBackup()));
    for (auto _ : state) {
        offline.controller.applySyncData(prepared.migration.envelope, false, std::nullopt,
            TavrikBleCentral::ReceivedRoutines { std::move(prepared.summaries), std::move(prepared.details) });
        benchmark::DoNotOptimize(pane->canAddRoutineStartTag());
        benchmark::DoNotOptimize(pane->addRoutineStartTagHelp());
    }
}
BENCHMARK(BM_LargeBackupInstallOnTheWindowsThread)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
