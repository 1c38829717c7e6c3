#include "TavrikLink/Views/ScheduleSectionPresenter.hpp"

#include "TavrikLink/Controller/TavrikBleCentral.hpp"

#include <algorithm>

namespace tavrik {

ScheduleSectionPresenter::ScheduleSectionPresenter(
    TavrikBleCentral& controller, ContentViewPresenter& window, const Clock& clock, QObject* parent)
    : QObject(parent)
    , controller(controller)
    , window(window)
    , calendar(clock)
    , observed(read(controller))
    , questions(window.alerts())
{
    for (auto signal : { &TavrikBleCentral::schedulesChanged, &TavrikBleCentral::scheduleErrorChanged }) {
        connect(&controller, signal, this, [this] { observe(read(this->controller)); });
    }
}

ScheduleSectionPresenter::Inputs ScheduleSectionPresenter::read(const TavrikBleCentral& controller)
{
    return { controller.schedules(), controller.scheduleError() };
}

void ScheduleSectionPresenter::observe(Inputs inputs)
{
    if (inputs == observed) {
        return;
    }
    observed = std::move(inputs);
    emit changed();
}

void ScheduleSectionPresenter::showRoutine(std::optional<Routine> routine)
{
    shown = routine ? Mode::storedRoutine : Mode::none;
    current = std::move(routine);
    emit changed();
}

void ScheduleSectionPresenter::showNewRoutineDraft()
{
    shown = Mode::newRoutineDraft;
    current.reset();
    emit changed();
}

void ScheduleSectionPresenter::setStartTags(StartTags startTags)
{
    tags = std::move(startTags);
    emit changed();
}

std::string ScheduleSectionPresenter::startTagIntro() const
{
    return "With no routine running, scan any of these tags to start " + (current ? current->label : std::string()) + ".";
}

std::string ScheduleSectionPresenter::removeStartTagHelp(const TagInfo& tag)
{
    return "Stop using " + tag.name + " to start this routine";
}

const std::optional<std::string>& ScheduleSectionPresenter::scheduleError() const
{
    return observed.scheduleError;
}

std::vector<ScheduledRoutine> ScheduleSectionPresenter::schedulesOfRoutine(
    const std::vector<ScheduledRoutine>& schedules, std::optional<std::uint32_t> routineId)
{
    std::vector<ScheduledRoutine> result;
    if (!routineId) {
        return result;
    }
    std::copy_if(schedules.begin(), schedules.end(), std::back_inserter(result),
        [&](const ScheduledRoutine& schedule) { return schedule.routineId == *routineId; });
    return result;
}

std::vector<ScheduledRoutine> ScheduleSectionPresenter::routineSchedules() const
{
    if (shown != Mode::storedRoutine || !current) {
        return {};
    }
    return schedulesOfRoutine(observed.schedules, current->id);
}

std::optional<std::uint32_t> ScheduleSectionPresenter::addSchedule()
{
    if (!canAddSchedule()) {
        return std::nullopt;
    }
    const std::uint32_t id = controller.createSchedule(current->id);
    window.modify([&](ContentViewPresenter::State& state) { state.selectedScheduleId = id; });
    return id;
}

ScheduleRowPresenter::Actions ScheduleSectionPresenter::rowActions(std::uint32_t scheduleId)
{
    TavrikBleCentral* c = &controller;
    ScheduleRowPresenter::Actions actions;
    actions.onKindChange = [c, scheduleId](ScheduleKind kind) { c->setScheduleKind(scheduleId, kind); };
    actions.onStartsAtChange = [c, scheduleId](Moment date) { c->setScheduleStartsAt(scheduleId, date); };
    actions.onHourChange = [c, scheduleId](std::int64_t hour) { c->setScheduleHour(scheduleId, hour); };
    actions.onMinuteChange = [c, scheduleId](std::int64_t minute) { c->setScheduleMinute(scheduleId, minute); };
    actions.onDaysChange = [c, scheduleId](const std::set<int>& days) { c->setScheduleDays(scheduleId, days); };
    actions.onEnabledChange = [c, scheduleId](bool enabled) { c->setScheduleEnabled(scheduleId, enabled); };
    actions.onDelete = [this, scheduleId] { askToDeleteSchedule(scheduleId); };
    return actions;
}

ScheduleSectionPresenter::Question ScheduleSectionPresenter::deleteQuestion(const ScheduledRoutine& schedule)
{
    return { "Delete Schedule?", "Remove " + schedule.routineName() + " at " + schedule.timeText() + "?", "Delete",
        "Cancel" };
}

void ScheduleSectionPresenter::askToDeleteSchedule(std::uint32_t scheduleId)
{
    const auto schedules = routineSchedules();
    const auto found = std::find_if(schedules.begin(), schedules.end(),
        [&](const ScheduledRoutine& schedule) { return schedule.id == scheduleId; });
    if (found == schedules.end()) {
        return;
    }
    const Question question = deleteQuestion(*found);
    questions.askCarefully("deleteSchedule:" + std::to_string(scheduleId), question.message, question.informativeText,
        question.confirmButton, question.cancelButton, [this, scheduleId] { confirmDeleteSchedule(scheduleId, true); });
}

void ScheduleSectionPresenter::confirmDeleteSchedule(std::uint32_t scheduleId, bool confirmed)
{
    if (!confirmed) {
        return;
    }
    controller.deleteSchedule(scheduleId);
    window.modify([&](ContentViewPresenter::State& state) {
        if (state.selectedScheduleId == scheduleId) {
            state.selectedScheduleId.reset();
        }
    });
    syncSelection();
}

void ScheduleSectionPresenter::syncSelection()
{
    const std::vector<ScheduledRoutine> schedules = routineSchedules();
    const auto next = syncedSelection(window.state().selectedScheduleId, schedules);
    window.modify([&](ContentViewPresenter::State& state) { state.selectedScheduleId = next; });
}

std::optional<std::uint32_t> ScheduleSectionPresenter::syncedSelection(
    std::optional<std::uint32_t> selected, const std::vector<ScheduledRoutine>& routineSchedules)
{
    if (selected && std::any_of(routineSchedules.begin(), routineSchedules.end(), [&](const ScheduledRoutine& schedule) {
            return schedule.id == *selected;
        })) {
        return selected;
    }
    if (routineSchedules.empty()) {
        return std::nullopt;
    }
    return routineSchedules.front().id;
}

void ScheduleSectionPresenter::syncScheduleSelection(TavrikBleCentral& controller, ContentViewPresenter& window)
{
    std::optional<std::uint32_t> routineId = window.state().selectedRoutineId;
    if (routineId && !controller.routineDetails().contains(*routineId)) {
        routineId.reset();
    }
    const auto schedules = schedulesOfRoutine(controller.schedules(), routineId);
    const auto next = syncedSelection(window.state().selectedScheduleId, schedules);
    window.modify([&](ContentViewPresenter::State& state) { state.selectedScheduleId = next; });
}

void ScheduleSectionPresenter::installWindowActions(ContentViewPresenter& window, TavrikBleCentral& controller)
{
    if (!window.actions().syncScheduleSelection) {
        TavrikBleCentral* c = &controller;
        ContentViewPresenter* w = &window;
        window.actions().syncScheduleSelection = [c, w] { syncScheduleSelection(*c, *w); };
    }
}

} // namespace tavrik
