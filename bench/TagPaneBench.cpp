#include "TavrikLink/Controller/TavrikBleCentral.hpp"
#include "TavrikLink/Views/ContentViewPresenter.hpp"
#include "TavrikLink/Views/TagPanePresenter.hpp"
#include "bench/OfflineWorld.hpp"
#include "bench/WidgetsBench.hpp"
#include "tests/support/ManualScheduler.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

namespace {

using namespace tavrik;
using namespace tavrik::test;

// A loaded controller with `tagCount` tags and the tag pane's presenter on the last of them.
struct TagWorld {
    explicit TagWorld(std::int64_t tagCount)
    {
        SyncDataEnvelope data;
        data.dataVersion = 9;
        for (std::int64_t index = 1; index <= tagCount; ++index) {
            data.tags.push_back({ static_cast<std::uint32_t>(index), "04 " + std::to_string(index),
                "Tag with a long name " + std::to_string(index) });
        }
        controller.applySyncData(data, true, 9);
        TagPanePresenter::installWindowActions(window, controller);
        window.actions().selectTag(controller.tags().back());
    }

    // One rename as the user types it in the pane, and what the pane then reads to draw its fields.
    void renameSelectedTag()
    {
        presenter.editName(flip ? "Back door" : "Front door");
        flip = !flip;
        benchmark::DoNotOptimize(presenter.nameValidationMessage());
        benchmark::DoNotOptimize(presenter.uidValidationMessage());
    }

    ManualScheduler scheduler;
    bench::OfflineController offline { scheduler };
    TavrikBleCentral& controller = offline.controller;
    ContentViewPresenter window { ContentViewPresenter::Actions {} };
    TagPanePresenter presenter { controller, window };
    bool flip = true;
};

// A rename in the tag pane: the controller's change, the presenter's refresh and its checks for a
// name or UID another tag already has. Budget: well under a second at 100,000 tags.
void BM_TagPaneRenameRefresh(benchmark::State& state)
{
    bench::ensureWidgetsApplication();
    TagWorld world(state.range(0));
    for (auto _ : state) {
        world.renameSelectedTag();
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_TagPaneRenameRefresh)
    ->Arg(1'000)
    ->Arg(10'000)
    ->Arg(100'000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

} // namespace
