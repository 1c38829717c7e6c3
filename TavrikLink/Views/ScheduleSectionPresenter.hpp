#pragma once

#include "TavrikCore/Model/ScheduleModels.hpp"
#include "TavrikCore/Model/TagModels.hpp"
#include "TavrikCore/Support/Clock.hpp"
#include "TavrikLink/Views/ContentViewPresenter.hpp"
#include "TavrikLink/Views/PaneQuestions.hpp"
#include "TavrikLink/Views/ScheduleRowPresenter.hpp"

#include <QObject>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrik {

class TavrikBleCentral;

// The block under the routine editor: the routine's start tags and schedules with the buttons that
// add them, the controller's schedule error, and for a routine not saved yet a placeholder. It shows
// the schedules and the error it last observed; each row's changes go straight to the controller's
// schedule operations.
class ScheduleSectionPresenter : public QObject {
    Q_OBJECT
public:
    enum class Mode {
        // No routine is current: the pane shows nothing here.
        none,
        storedRoutine,
        newRoutineDraft,
    };

    // The routine shown, as the routine pane has it.
    struct Routine {
        std::uint32_t id = 0;
        std::string label;
        bool operator==(const Routine&) const = default;
    };

    // The routine pane's start-tag values and operations.
    struct StartTags {
        std::vector<TagInfo> assigned;
        // The tags the picker offers, asked for only when it opens.
        std::function<std::vector<TagInfo>()> available;
        bool canAdd = false;
        std::string addHelp;
        std::function<void(std::uint32_t)> add;
        // Asks the routine pane to confirm removing the tag from the routine.
        std::function<void(std::uint32_t)> requestRemove;
    };

    struct Question {
        std::string message;
        std::string informativeText;
        std::string confirmButton;
        std::string cancelButton;
        bool operator==(const Question&) const = default;
    };

    static constexpr std::string_view newRoutineTitle = "Schedules";
    static constexpr std::string_view newRoutineHint
        = "Save the routine with a runnable step before adding start tags or schedules.";
    static constexpr std::string_view startTagTitle = "Start when scanned";

    // What the section reads of the controller.
    struct Inputs {
        std::vector<ScheduledRoutine> schedules;
        std::optional<std::string> scheduleError;
        bool operator==(const Inputs&) const = default;
    };

    // Observes the controller's schedules and schedule error.
    ScheduleSectionPresenter(TavrikBleCentral& controller, ContentViewPresenter& window,
        const Clock& clock = systemClock(), QObject* parent = nullptr);

    static Inputs read(const TavrikBleCentral& controller);
    // The controller's schedules or error as they are now; the section redraws only when they changed.
    void observe(Inputs inputs);

    // What the section shows: a stored routine, the new-routine placeholder, or nothing.
    void showRoutine(std::optional<Routine> routine);
    void showNewRoutineDraft();
    void setStartTags(StartTags startTags);

    Mode mode() const { return shown; }
    const std::optional<Routine>& routine() const { return current; }
    const StartTags& startTags() const { return tags; }
    // "With no routine running, scan any of these tags to start <label>."
    std::string startTagIntro() const;
    static std::string removeStartTagHelp(const TagInfo& tag);
    const std::optional<std::string>& scheduleError() const;
    // The controller's schedules of this routine, in the controller's order.
    std::vector<ScheduledRoutine> routineSchedules() const;
    bool canAddSchedule() const { return shown == Mode::storedRoutine && current.has_value(); }

    // "Add Schedule": gives the new schedule's id, which becomes the window's current schedule.
    std::optional<std::uint32_t> addSchedule();
    // The row's actions for one schedule; its delete asks first (askToDeleteSchedule).
    ScheduleRowPresenter::Actions rowActions(std::uint32_t scheduleId);
    static Question deleteQuestion(const ScheduledRoutine& schedule);
    // Puts deleteQuestion to the user in the window's alert queue; only its confirm button deletes.
    // Nothing for a schedule the routine does not have.
    void askToDeleteSchedule(std::uint32_t scheduleId);
    // The user's answer to deleteQuestion.
    void confirmDeleteSchedule(std::uint32_t scheduleId, bool confirmed);
    const Clock& clock() const { return calendar; }

    // The window's current schedule after a change of the routine or its schedules: the one selected
    // if it is still the routine's, else the routine's first, else none.
    static std::optional<std::uint32_t> syncedSelection(
        std::optional<std::uint32_t> selected, const std::vector<ScheduledRoutine>& routineSchedules);
    static std::vector<ScheduledRoutine> schedulesOfRoutine(
        const std::vector<ScheduledRoutine>& schedules, std::optional<std::uint32_t> routineId);
    // The window's selection for the routine chosen in the sidebar, when its detail is loaded.
    static void syncScheduleSelection(TavrikBleCentral& controller, ContentViewPresenter& window);
    static void installWindowActions(ContentViewPresenter& window, TavrikBleCentral& controller);

signals:
    void changed();

private:
    void syncSelection();

    TavrikBleCentral& controller;
    ContentViewPresenter& window;
    const Clock& calendar;
    Mode shown = Mode::none;
    std::optional<Routine> current;
    StartTags tags;
    Inputs observed;
    PaneQuestions questions;
};

} // namespace tavrik
