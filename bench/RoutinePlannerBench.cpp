#include "TavrikCore/Routine/RoutineMutationPlanner.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <optional>
#include <string>

namespace {

using tavrik::RoutineDetailModel;
using tavrik::RoutineGroupMode;

// A routine of `stepCount` steps spread evenly over `groupCount` root groups.
RoutineDetailModel groupedRoutine(std::int64_t stepCount, std::int64_t groupCount)
{
    RoutineDetailModel detail;
    detail.id = 1;
    detail.label = "Bench";
    const std::int64_t perGroup = stepCount / groupCount;
    for (std::int64_t group = 0; group < groupCount; ++group) {
        const auto groupId = static_cast<std::uint32_t>(100000 + group);
        detail.groups.emplace_back(groupId, group, "Group " + std::to_string(group),
            group % 2 == 0 ? RoutineGroupMode::timebox : RoutineGroupMode::rotation, group % 2 == 0 ? 900 : 0);
        for (std::int64_t child = 0; child < perGroup; ++child) {
            const std::int64_t step = group * perGroup + child;
            detail.steps.emplace_back(static_cast<std::uint32_t>(step + 1), child, groupId,
                std::to_string(step % 40 + 1), 30 + step % 60, "Instruction " + std::to_string(step), step % 7 == 0);
        }
    }
    detail.expectedStepCount = static_cast<std::int64_t>(detail.steps.size());
    detail.expectedGroupCount = groupCount;
    detail.hasReceivedAllSteps = true;
    return detail;
}

// One step in ten changed: edited fields, moves into the next group, deletes and replacements.
RoutineDetailModel editedRoutine(const RoutineDetailModel& old)
{
    RoutineDetailModel edited = old;
    const std::size_t groupCount = edited.groups.size();
    for (std::size_t index = 0; index < edited.steps.size(); index += 10) {
        auto& step = edited.steps[index];
        switch ((index / 10) % 4) {
        case 0:
            step.instruction += " (edited)";
            step.seconds += 5;
            break;
        case 1:
            step.parentId = edited.groups[(index / 10) % groupCount].groupId;
            step.position = 1000;
            break;
        case 2:
            step.tagId = "99";
            step.unstoppable = !step.unstoppable;
            break;
        default:
            step.stepId += 1000000; // deleted, and a new step in its place
            break;
        }
    }
    return edited;
}

void BM_PlanRoutineUpdate(benchmark::State& state)
{
    const std::int64_t steps = state.range(0);
    const std::int64_t groups = state.range(1);
    const std::optional<RoutineDetailModel> old = groupedRoutine(steps, groups);
    const RoutineDetailModel edited = editedRoutine(*old);
    for (auto _ : state) {
        auto commands = tavrik::RoutineMutationPlanner::routineNodeMutationCommands(1, old, edited);
        benchmark::DoNotOptimize(commands);
    }
    state.SetComplexityN(steps);
}
BENCHMARK(BM_PlanRoutineUpdate)->Args({ 1000, 50 })->Args({ 10000, 500 })->Unit(benchmark::kMicrosecond)->Complexity();

// A save without edits: every node is compared to tell that nothing needs sending.
void BM_CompareUnchangedRoutine(benchmark::State& state)
{
    const std::optional<RoutineDetailModel> old = groupedRoutine(state.range(0), state.range(1));
    const RoutineDetailModel same = *old;
    for (auto _ : state) {
        benchmark::DoNotOptimize(tavrik::RoutineMutationPlanner::stepsAndGroupsUnchanged(*old, same));
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_CompareUnchangedRoutine)->Args({ 1000, 50 })->Args({ 10000, 500 })->Unit(benchmark::kMicrosecond)->Complexity();

} // namespace
