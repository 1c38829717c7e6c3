#include "TavrikLink/Views/SidebarPresenter.hpp"

#include "TavrikCore/Support/Clock.hpp"

#include <algorithm>
#include <unordered_set>

namespace tavrik {

std::vector<SidebarPresenter::Row> SidebarPresenter::rows(const ContentViewPresenter& window, const Clock& clock)
{
    using Pane = ContentViewPresenter::SidebarPane;
    const auto& state = window.state();
    const auto& controller = window.controller();
    const auto& actions = window.actions();
    std::vector<Row> result;
    result.reserve(controller.routineSummaries.size() + controller.tags.size() + 8);
    // Only routines with schedules have a preview to work out.
    std::unordered_set<std::uint32_t> scheduled;
    for (const ScheduledRoutine& schedule : controller.schedules) {
        scheduled.insert(schedule.routineId);
    }

    result.push_back(
        { RowKind::routinesGroup, 0, "Routines", {}, "list.clipboard", false, false, state.routinesExpanded });
    if (state.routinesExpanded) {
        for (const RoutineSummary& routine : controller.routineSummaries) {
            result.push_back(routineRow(window, clock, routine, scheduled.contains(routine.id)));
        }
        if (actions.showingNewRoutineDraft && actions.showingNewRoutineDraft()) {
            const std::string& label = state.routineDetailDraft.label;
            result.push_back({ RowKind::newRoutine, 0, label.empty() ? std::string("New Routine") : label, {}, {},
                state.selectedPane == Pane::routines && !state.selectedRoutineId, true });
        }
        result.push_back({ RowKind::addRoutine, 0, "Add Routine", {}, "plus", false, true });
    }

    result.push_back({ RowKind::tagsGroup, 0, "Tags", {}, "tag", false, false, state.tagsExpanded });
    if (state.tagsExpanded) {
        for (const TagInfo& tag : controller.tags) {
            result.push_back({ RowKind::tag, tag.id, tag.name, {}, {},
                state.selectedPane == Pane::tags && state.selectedTagId == tag.id, true });
        }
        result.push_back({ RowKind::addTag, 0, "Add Tag", {}, "plus", false, true });
    }

    result.push_back(
        { RowKind::firmware, 0, "Firmware", {}, "square.and.arrow.up", state.selectedPane == Pane::firmware });
    result.push_back({ RowKind::settings, 0, "Settings", {}, "gearshape", state.selectedPane == Pane::settings });
    return result;
}

SidebarPresenter::Row SidebarPresenter::routineRow(
    const ContentViewPresenter& window, const Clock& clock, const RoutineSummary& routine, bool scheduled)
{
    const auto& state = window.state();
    Row row { RowKind::routine, routine.id, routine.label, {}, {},
        state.selectedPane == ContentViewPresenter::SidebarPane::routines && state.selectedRoutineId == routine.id,
        true };
    if (scheduled) {
        row.caption
            = RoutineSchedulePreview::text(routine.id, window.controller().schedules, clock).value_or(std::string());
    }
    return row;
}

void SidebarPresenter::activate(ContentViewPresenter& window, const Row& row)
{
    using Pane = ContentViewPresenter::SidebarPane;
    auto& actions = window.actions();
    switch (row.kind) {
    case RowKind::routinesGroup:
        window.setRoutinesExpanded(!window.state().routinesExpanded);
        break;
    case RowKind::tagsGroup:
        window.setTagsExpanded(!window.state().tagsExpanded);
        break;
    case RowKind::routine:
        window.selectRoutine(row.id);
        break;
    case RowKind::newRoutine:
        break;
    case RowKind::addRoutine:
        if (actions.beginCreatingRoutine) {
            actions.beginCreatingRoutine();
        }
        break;
    case RowKind::tag: {
        const auto& tags = window.controller().tags;
        const auto found = std::find_if(tags.begin(), tags.end(), [&](const TagInfo& tag) { return tag.id == row.id; });
        if (found != tags.end()) {
            window.selectTag(*found);
        }
        break;
    }
    case RowKind::addTag:
        if (actions.beginCreatingTag) {
            actions.beginCreatingTag();
        }
        break;
    case RowKind::firmware:
        window.selectPane(Pane::firmware);
        break;
    case RowKind::settings:
        window.selectPane(Pane::settings);
        break;
    }
}

} // namespace tavrik
