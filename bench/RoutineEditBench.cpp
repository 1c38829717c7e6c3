#include "TavrikLink/Controller/TavrikBleCentral.hpp"
#include "TavrikLink/Support/KeyValueStore.hpp"
#include "TavrikLink/Ui/ContentView.hpp"
#include "TavrikLink/Ui/TavrikLinkApplication.hpp"
#include "TavrikLink/Ui/TavrikLinkMainWindow.hpp"
#include "TavrikLink/Views/ContentViewPresenter.hpp"
#include "bench/AttachedWorld.hpp"
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
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace tavrik;
using namespace tavrik::test;

// A device of `routineCount` routines of 20 steps each, attached over the local link and loaded
// into the whole window, which shows the first routine with the cursor in its title. Each key press
// is delivered to the device at once, as a title edit is not held back.
struct EditWorld {
    explicit EditWorld(std::int64_t routineCount)
    {
        Json message = toJson(bench::largeDeviceData(routineCount));
        message["type"] = "sync_data";
        app = attached.showWindow();
        attached.connect();
        attached.load(attached.linkLine(dumpJsonData(message)), static_cast<std::size_t>(routineCount));
        app->contentView()->presenter().selectRoutine(1);
        QCoreApplication::processEvents();
        title = app->mainWindow().findChild<QLineEdit*>(QStringLiteral("routineTitleField"));
        title->setFocus();
        title->end(false);
        QCoreApplication::processEvents();
    }

    // What the key presses wrote to the device so far.
    std::uintmax_t deliveredBytes() const { return std::filesystem::file_size(attached.directory / "to-device.jsonl"); }

    // One key in the title, typed or taken back, and the window brought up to date.
    void pressKey()
    {
        QTest::keyClick(title, typed ? Qt::Key_Backspace : Qt::Key_X);
        typed = !typed;
        QCoreApplication::processEvents();
    }

    bench::AttachedController attached;
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

// A key press in a routine's title with 3,200 routines on the attached device against the same with
// 20, in one run. Budget: at most 1.5 times; a run over it reports an error.
void BM_RoutineTitleKeyPressRatio(benchmark::State& state)
{
    bench::ensureWidgetsApplication();
    constexpr std::array<std::int64_t, 2> sizes { 20, 3'200 };
    constexpr int rounds = 101;
    constexpr double budget = 1.5;
    std::array<double, sizes.size()> medianMs {};
    for (auto _ : state) {
        EditWorld small(sizes[0]);
        EditWorld large(sizes[1]);
        const std::array<EditWorld*, 2> worlds { &small, &large };
        const std::array<std::uintmax_t, 2> before { small.deliveredBytes(), large.deliveredBytes() };
        // The two worlds take turns, key by key, so a machine busy with other work slows both alike.
        std::array<std::vector<double>, 2> times;
        for (int round = 0; round < rounds; ++round) {
            for (std::size_t size = 0; size < worlds.size(); ++size) {
                times[size].push_back(bench::medianMs(1, [&] { worlds[size]->pressKey(); }));
            }
        }
        for (std::size_t size = 0; size < worlds.size(); ++size) {
            if (worlds[size]->deliveredBytes() == before[size]) {
                state.SkipWithError("the key presses did not reach the device");
                return;
            }
            std::nth_element(times[size].begin(), times[size].begin() + rounds / 2, times[size].end());
            medianMs[size] = times[size][rounds / 2];
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
