#include "TavrikLink/Views/RoutineDetailEditorPresenter.hpp"
#include "TavrikLink/Views/RoutineHierarchyModel.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

namespace {

using tavrik::RoutineDraft;
using tavrik::RoutineGroupDraft;
using tavrik::RoutineGroupMode;
using tavrik::RoutineHierarchyModel;
using tavrik::RoutineStepDraft;

constexpr std::uint32_t firstGroupId = 100000;

// `stepCount` steps in groups of 20, as an editor holds them.
RoutineDraft groupedDraft(std::int64_t stepCount)
{
    const std::int64_t groupCount = stepCount / 20;
    std::vector<RoutineStepDraft> steps;
    std::vector<RoutineGroupDraft> groups;
    for (std::int64_t group = 0; group < groupCount; ++group) {
        const auto groupId = static_cast<std::uint32_t>(firstGroupId + group);
        groups.emplace_back(
            tavrik::Uuid::make(), groupId, group, "Group " + std::to_string(group), RoutineGroupMode::timebox, 900);
        for (std::int64_t child = 0; child < 20; ++child) {
            RoutineStepDraft step;
            step.stepId = static_cast<std::uint32_t>(group * 20 + child + 1);
            step.parentId = groupId;
            step.position = child;
            step.seconds = 30 + child;
            step.tagId = std::to_string(child + 1);
            step.instruction = "Instruction " + std::to_string(step.stepId);
            steps.push_back(std::move(step));
        }
    }
    return RoutineDraft(1, "Bench", {}, std::move(steps), std::move(groups));
}

// Loading a routine (or a reload whose rows differ): every row is built again.
void BM_RoutineHierarchyRebuild(benchmark::State& state)
{
    const RoutineDraft full = groupedDraft(state.range(0));
    RoutineDraft shorter = full;
    shorter.steps.pop_back();
    RoutineHierarchyModel model;
    model.setTags({ { 1, "04A1", "Kitchen" } });
    bool flip = false;
    for (auto _ : state) {
        model.setDraft(flip ? shorter : full);
        flip = !flip;
        benchmark::DoNotOptimize(model.rowCount());
    }
}
BENCHMARK(BM_RoutineHierarchyRebuild)->Arg(100)->Arg(1000);

// One hover of a drag: the dragged step moves between the first and the last group.
void BM_RoutineHierarchyPreviewMove(benchmark::State& state)
{
    RoutineHierarchyModel model;
    model.setDraft(groupedDraft(state.range(0)));
    const auto lastGroupId = static_cast<std::uint32_t>(firstGroupId + state.range(0) / 20 - 1);
    const tavrik::Uuid dragged = model.draft().steps.front().id;
    model.beginDrag(dragged);
    bool flip = false;
    for (auto _ : state) {
        model.previewDraggedStep(dragged, flip ? firstGroupId : lastGroupId, flip ? 0 : 10);
        flip = !flip;
    }
    model.cancelDrag();
}
BENCHMARK(BM_RoutineHierarchyPreviewMove)->Arg(100)->Arg(1000);

// The same hover through the routine editor, whose host keeps a copy of every previewed draft.
void BM_RoutineEditorPreviewMove(benchmark::State& state)
{
    RoutineDraft hostDraft = groupedDraft(state.range(0));
    tavrik::RoutineDetailEditorPresenter::Host host;
    host.draft = [&]() -> const RoutineDraft& { return hostDraft; };
    host.setDraft = [&](RoutineDraft next) { hostDraft = std::move(next); };
    tavrik::RoutineDetailEditorPresenter editor(std::move(host));
    RoutineHierarchyModel& model = editor.hierarchy();
    const auto lastGroupId = static_cast<std::uint32_t>(firstGroupId + state.range(0) / 20 - 1);
    const tavrik::Uuid dragged = model.draft().steps.front().id;
    model.beginDrag(dragged);
    bool flip = false;
    for (auto _ : state) {
        model.previewDraggedStep(dragged, flip ? firstGroupId : lastGroupId, flip ? 0 : 10);
        flip = !flip;
    }
    model.cancelDrag();
}
BENCHMARK(BM_RoutineEditorPreviewMove)->Arg(100)->Arg(1000);

} // namespace
