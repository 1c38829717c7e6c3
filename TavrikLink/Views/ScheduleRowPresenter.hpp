#pragma once

#include "TavrikCore/Model/ClockModels.hpp"
#include "TavrikCore/Model/ScheduleCalendar.hpp"
#include "TavrikCore/Model/ScheduleModels.hpp"
#include "TavrikCore/Support/Clock.hpp"

#include <array>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <string_view>

namespace tavrik {

// One schedule's compact row and its editor. It keeps no copy to save: every control hands its
// value to its action at once, and the owner gives the row the schedule as the controller now
// holds it (setSchedule), so the row and an open editor redraw from there.
class ScheduleRowPresenter {
public:
    struct Actions {
        std::function<void(ScheduleKind)> onKindChange;
        std::function<void(Moment)> onStartsAtChange;
        // Already limited to 0...23 and 0...59.
        std::function<void(std::int64_t)> onHourChange;
        std::function<void(std::int64_t)> onMinuteChange;
        std::function<void(const std::set<int>&)> onDaysChange;
        std::function<void(bool)> onEnabledChange;
        std::function<void()> onDelete;
    };

    // By day index, the bit number in the days mask: the week starts on Sunday.
    static constexpr std::array<std::string_view, 7> weekDayNames { "Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat" };
    static constexpr std::string_view noDayMessage = "Select at least one day";
    static constexpr std::string_view hourPlaceholder = "08";
    static constexpr std::string_view minutePlaceholder = "00";

    ScheduleRowPresenter(ScheduledRoutine schedule, Actions actions, const Clock& clock = systemClock());

    const ScheduledRoutine& schedule() const { return current; }
    void setSchedule(ScheduledRoutine schedule) { current = std::move(schedule); }

    // The row.
    bool isEnabled() const { return current.enabled; }
    // The bell only shows the state; its tooltip says it in words.
    std::string_view bellHelp() const { return current.enabled ? "Alarm on" : "Alarm off"; }
    std::string timeText() const { return current.timeText(); }
    std::string daysDescription() const { return current.daysDescription(clock); }

    // The editor.
    ScheduleKind kind() const;
    bool showsDatePicker() const { return kind() == ScheduleKind::single; }
    bool showsWeekdayPicker() const { return kind() == ScheduleKind::recurring; }
    std::set<int> selectedDays() const { return current.daySet(); }
    bool showsNoDayMessage() const { return showsWeekdayPicker() && selectedDays().empty(); }
    // The calendar day the date picker shows.
    ScheduleDateParts date() const;
    // Hour and minute as the fields show them, in the locale's integer format.
    std::string hourText() const;
    std::string minuteText() const;

    void chooseKind(ScheduleKind kind) const;
    // A day picked in the date picker; the schedule keeps its time of day.
    void chooseDate(std::int64_t year, std::int64_t month, std::int64_t day) const;
    // A committed field text; text that is not a whole number changes nothing (false).
    bool commitHour(std::string_view text) const;
    bool commitMinute(std::string_view text) const;
    void toggleDay(int index) const;
    void setEnabled(bool enabled) const;
    void requestDelete() const;

    // A whole number in the locale's integer format (grouping allowed), or nothing.
    static std::optional<std::int64_t> parseWholeNumber(std::string_view text, const std::string& localeId);
    static std::string formatWholeNumber(std::int64_t value, const std::string& localeId);

private:
    template <class... Args, class Function>
    static void call(const Function& action, Args&&... args)
    {
        if (action) {
            action(std::forward<Args>(args)...);
        }
    }

    ScheduledRoutine current;
    Actions actions;
    const Clock& clock;
};

} // namespace tavrik
