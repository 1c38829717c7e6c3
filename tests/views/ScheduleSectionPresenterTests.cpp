#include "TavrikLink/Views/ScheduleRowPresenter.hpp"
#include "TavrikLink/Views/ScheduleSectionPresenter.hpp"
#include "tests/controller/ControllerTestSupport.hpp"
#include "tests/support/ScheduleRecords.hpp"
#include "tests/views/PaneQuestionSupport.hpp"

namespace tavrik::test {
namespace {

// What a row hands to its actions.
struct RowRecorder {
    std::vector<ScheduleKind> kinds;
    std::vector<Moment> dates;
    std::vector<std::int64_t> hours;
    std::vector<std::int64_t> minutes;
    std::vector<std::set<int>> days;
    std::vector<bool> enabled;
    int deletes = 0;

    ScheduleRowPresenter::Actions actions()
    {
        return { [this](ScheduleKind kind) { kinds.push_back(kind); }, [this](Moment date) { dates.push_back(date); },
            [this](std::int64_t value) { hours.push_back(value); },
            [this](std::int64_t value) { minutes.push_back(value); },
            [this](const std::set<int>& value) { days.push_back(value); },
            [this](bool value) { enabled.push_back(value); }, [this] { ++deletes; } };
    }
};

TEST(ScheduleRowPresenter, TimeFieldsClampReadableNumbersAndIgnoreTheRest)
{
    ManualClock clock;
    clock.locale = "en_US";
    struct Case {
        std::string text;
        std::optional<std::int64_t> hour;
        std::optional<std::int64_t> minute;
    };
    const std::vector<Case> cases {
        { "7", 7, 7 },
        { " 12 ", 12, 12 },
        { "30", 23, 30 },
        { "75", 23, 59 },
        { "-1", 0, 0 },
        { "-5", 0, 0 },
        { "1,000", 23, 59 },
        { "abc", std::nullopt, std::nullopt },
        { "1.5", std::nullopt, std::nullopt },
        { "", std::nullopt, std::nullopt },
        { "8h", std::nullopt, std::nullopt },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE("'" + test.text + "'");
        RowRecorder recorder;
        const ScheduleRowPresenter row(recurringSchedule(1, 9, 8, 0, 127), recorder.actions(), clock);
        EXPECT_EQ(row.commitHour(test.text), test.hour.has_value());
        EXPECT_EQ(row.commitMinute(test.text), test.minute.has_value());
        EXPECT_EQ(recorder.hours, test.hour ? std::vector<std::int64_t> { *test.hour } : std::vector<std::int64_t> {});
        EXPECT_EQ(
            recorder.minutes, test.minute ? std::vector<std::int64_t> { *test.minute } : std::vector<std::int64_t> {});
    }
}

TEST(ScheduleRowPresenter, KindDecidesWhichControlsShowAndTheDaysFollowTheMask)
{
    ManualClock clock;
    ScheduledRoutine markedOnly = recurringSchedule(3, 9, 6, 30, 128);
    markedOnly.type.reset();
    struct Case {
        const char* name;
        ScheduledRoutine schedule;
        ScheduleKind kind;
        std::set<int> days;
        bool noDayMessage;
    };
    const std::vector<Case> cases {
        { "every day", recurringSchedule(1, 9, 8, 0, 127), ScheduleKind::recurring, { 0, 1, 2, 3, 4, 5, 6 }, false },
        { "mask 0 reads as every day", recurringSchedule(1, 9, 8, 0, 0), ScheduleKind::recurring,
            { 0, 1, 2, 3, 4, 5, 6 }, false },
        { "weekdays", recurringSchedule(1, 9, 8, 0, 62), ScheduleKind::recurring, { 1, 2, 3, 4, 5 }, false },
        { "no weekday bit", recurringSchedule(1, 9, 8, 0, 256), ScheduleKind::recurring, {}, true },
        { "one-time by type", oneTimeSchedule(2, 9), ScheduleKind::single, {}, false },
        { "one-time by mask 128 alone", markedOnly, ScheduleKind::single, {}, false },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const ScheduleRowPresenter row(test.schedule, {}, clock);
        EXPECT_EQ(row.kind(), test.kind);
        EXPECT_EQ(row.showsDatePicker(), test.kind == ScheduleKind::single);
        EXPECT_EQ(row.showsWeekdayPicker(), test.kind == ScheduleKind::recurring);
        if (test.kind == ScheduleKind::recurring) {
            EXPECT_EQ(row.selectedDays(), test.days);
        }
        EXPECT_EQ(row.showsNoDayMessage(), test.noDayMessage);
    }
}

TEST(ScheduleRowPresenter, PressingADayTogglesItInTheSetPassedOn)
{
    ManualClock clock;
    struct Case {
        std::int64_t mask;
        int pressed;
        std::set<int> passed;
    };
    const std::vector<Case> cases {
        { 62, 0, { 0, 1, 2, 3, 4, 5 } },
        { 62, 3, { 1, 2, 4, 5 } },
        { 2, 1, {} },
        { 256, 6, { 6 } },
        { 0, 0, { 1, 2, 3, 4, 5, 6 } },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(std::to_string(test.mask) + " pressing " + std::to_string(test.pressed));
        RowRecorder recorder;
        const ScheduleRowPresenter row(recurringSchedule(1, 9, 8, 0, test.mask), recorder.actions(), clock);
        row.toggleDay(test.pressed);
        EXPECT_EQ(recorder.days, std::vector<std::set<int>> { test.passed });
    }
}

TEST(ScheduleRowPresenter, APickedDayKeepsTheScheduleTimeOfDay)
{
    ManualClock clock;
    clock.zone = "Europe/Amsterdam";
    clock.locale = "en_US";
    RowRecorder recorder;
    const ScheduleRowPresenter row(oneTimeSchedule(2, 9), recorder.actions(), clock);
    EXPECT_EQ(row.date(), (ScheduleDateParts { 2026, 1, 5, 7, 45 }));
    row.chooseDate(2026, 3, 1);
    ASSERT_EQ(recorder.dates.size(), 1u);
    EXPECT_EQ(startsAtArgument(recorder.dates.front(), clock), "2026-03-01T07:45");
    row.setEnabled(false);
    row.chooseKind(ScheduleKind::recurring);
    row.requestDelete();
    EXPECT_EQ(recorder.enabled, std::vector<bool> { false });
    EXPECT_EQ(recorder.kinds, std::vector<ScheduleKind> { ScheduleKind::recurring });
    EXPECT_EQ(recorder.deletes, 1);
}

// A loaded device with two routines and their schedules; the section shows routine 9.
class ScheduleSectionTest : public ControllerTest {
protected:
    std::unique_ptr<ContentViewPresenter> window;
    std::unique_ptr<ScheduleSectionPresenter> section;

    void SetUp() override
    {
        clock.zone = "Europe/Amsterdam";
        clock.locale = "en_US";
        addDevice();
        device->data.routines = { { 9, "Morning", {}, {}, {} }, { 4, "Evening", {}, {}, {} } };
        device->data.schedules = { recurringSchedule(1, 9, 8, 0, 127), oneTimeSchedule(2, 9),
            recurringSchedule(3, 4, 6, 0, 62), recurringSchedule(5, 9, 7, 0, 62) };
        loadFromDevice();
        ASSERT_TRUE(controller->hasLoadedData());
        device->answerCommand = [](const std::string&, const std::string&) { return std::vector<Json> {}; };
        window = std::make_unique<ContentViewPresenter>(ContentViewPresenter::Actions {});
        section = std::make_unique<ScheduleSectionPresenter>(*controller, *window, clock);
        section->showRoutine(ScheduleSectionPresenter::Routine { 9, "Morning" });
    }

    void TearDown() override
    {
        section.reset();
        window.reset();
    }

    std::vector<std::string> sentCommands()
    {
        scheduler.advance(std::chrono::milliseconds(500));
        settle();
        return device->receivedCommands();
    }

    std::vector<std::uint32_t> shownIds() const
    {
        std::vector<std::uint32_t> ids;
        for (const auto& schedule : section->routineSchedules()) {
            ids.push_back(schedule.id);
        }
        return ids;
    }
};

TEST_F(ScheduleSectionTest, ShowsTheRoutineSchedulesInTheControllerOrder)
{
    EXPECT_EQ(section->mode(), ScheduleSectionPresenter::Mode::storedRoutine);
    std::vector<std::uint32_t> expected;
    for (const auto& schedule : controller->schedules()) {
        if (schedule.routineId == 9) {
            expected.push_back(schedule.id);
        }
    }
    EXPECT_EQ(shownIds(), expected) << "the controller's order";
    EXPECT_EQ(expected.size(), 3u);
    section->showRoutine(ScheduleSectionPresenter::Routine { 4, "Evening" });
    EXPECT_EQ(shownIds(), (std::vector<std::uint32_t> { 3 }));
    EXPECT_EQ(section->startTagIntro(), "With no routine running, scan any of these tags to start Evening.");

    section->showNewRoutineDraft();
    EXPECT_EQ(section->mode(), ScheduleSectionPresenter::Mode::newRoutineDraft);
    EXPECT_FALSE(section->canAddSchedule());
    EXPECT_FALSE(section->addSchedule().has_value());
    EXPECT_TRUE(section->routineSchedules().empty());
    section->showRoutine(std::nullopt);
    EXPECT_EQ(section->mode(), ScheduleSectionPresenter::Mode::none);
}

TEST_F(ScheduleSectionTest, RedrawsOnlyWhenTheSchedulesOrTheErrorItShowsChange)
{
    int redraws = 0;
    QObject::connect(section.get(), &ScheduleSectionPresenter::changed, [&] { ++redraws; });
    ScheduleSectionPresenter::Inputs now = ScheduleSectionPresenter::read(*controller);
    section->observe(now);
    EXPECT_EQ(redraws, 0) << "the same reading is no change";

    now.scheduleError = "Tavrik refused the schedule.";
    now.schedules.erase(std::find_if(
        now.schedules.begin(), now.schedules.end(), [](const ScheduledRoutine& schedule) { return schedule.id == 1; }));
    section->observe(now);
    EXPECT_EQ(redraws, 1);
    EXPECT_EQ(section->scheduleError(), now.scheduleError);
    auto shownNow = shownIds();
    std::sort(shownNow.begin(), shownNow.end());
    EXPECT_EQ(shownNow, (std::vector<std::uint32_t> { 2, 5 })) << "what it observed, not the controller's";

    // A schedule the controller adds reaches the section through its signal.
    section->observe(ScheduleSectionPresenter::read(*controller));
    const auto id = section->addSchedule();
    ASSERT_TRUE(id);
    const auto shown = shownIds();
    EXPECT_NE(std::find(shown.begin(), shown.end(), *id), shown.end());
}

TEST_F(ScheduleSectionTest, AddScheduleSelectsTheNewOneAndNamesTheRoutine)
{
    const auto id = section->addSchedule();
    ASSERT_TRUE(id.has_value());
    EXPECT_EQ(window->state().selectedScheduleId, id);
    const auto shown = shownIds();
    EXPECT_EQ(shown.size(), 4u);
    EXPECT_NE(std::find(shown.begin(), shown.end(), *id), shown.end());
    EXPECT_EQ(sentCommands(),
        (std::vector<std::string> { "schedule:create routineId=9 type=recurring hour=8 minute=0 days=127 enabled=1" }));
}

TEST_F(ScheduleSectionTest, RowChangesReachTheControllerAsTheirAttributes)
{
    struct Case {
        const char* name;
        std::uint32_t id;
        std::function<void(const ScheduleRowPresenter&)> act;
        std::string command;
    };
    const std::vector<Case> cases {
        { "hour of a repeating schedule", 1, [](const ScheduleRowPresenter& row) { row.commitHour("25"); },
            "schedule:update id=1 hour=23" },
        { "minute above range", 1, [](const ScheduleRowPresenter& row) { row.commitMinute("75"); },
            "schedule:update id=1 minute=59" },
        { "hour of a one-time schedule moves its moment", 2, [](const ScheduleRowPresenter& row) { row.commitHour("9"); },
            "schedule:update id=2 startsAt=2026-01-05T09:45" },
        { "a day removed", 5, [](const ScheduleRowPresenter& row) { row.toggleDay(1); }, "schedule:update id=5 days=60" },
        { "enabled", 1, [](const ScheduleRowPresenter& row) { row.setEnabled(false); }, "schedule:update id=1 enabled=0" },
        { "kind", 1, [](const ScheduleRowPresenter& row) { row.chooseKind(ScheduleKind::single); },
            "schedule:update id=1 type=single" },
        { "unreadable text", 1, [](const ScheduleRowPresenter& row) { row.commitHour("soon"); }, "" },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const std::size_t before = device->receivedCommands().size();
        const auto schedules = section->routineSchedules();
        const auto found = std::find_if(schedules.begin(), schedules.end(),
            [&](const ScheduledRoutine& schedule) { return schedule.id == test.id; });
        ASSERT_NE(found, schedules.end());
        // The row reads the controller's copy afresh before each change, as a redrawn row would.
        const ScheduleRowPresenter row(*found, section->rowActions(test.id), clock);
        test.act(row);
        const auto sent = sentCommands();
        const std::vector<std::string> fresh(sent.begin() + static_cast<std::ptrdiff_t>(before), sent.end());
        EXPECT_EQ(fresh, test.command.empty() ? std::vector<std::string> {} : std::vector<std::string> { test.command });
    }
}

TEST_F(ScheduleSectionTest, QuickChangesKeepTheLastValueOfEachAttribute)
{
    controller->setScheduleDays(5, { 4 });
    sentCommands();
    const std::size_t before = device->receivedCommands().size();
    auto rowOf = [&](std::uint32_t id) {
        const auto schedules = section->routineSchedules();
        return ScheduleRowPresenter(*std::find_if(schedules.begin(), schedules.end(),
                                        [&](const ScheduledRoutine& schedule) { return schedule.id == id; }),
            section->rowActions(id), clock);
    };
    rowOf(5).toggleDay(4);
    EXPECT_EQ(rowOf(5).selectedDays(), (std::set<int> { 0, 1, 2, 3, 4, 5, 6 })) << "an empty set reads as every day";
    EXPECT_FALSE(rowOf(5).showsNoDayMessage());
    rowOf(1).commitHour("6");
    rowOf(1).commitHour("7");
    rowOf(1).commitMinute("15");
    const auto sent = sentCommands();
    std::vector<std::string> fresh(sent.begin() + static_cast<std::ptrdiff_t>(before), sent.end());
    std::sort(fresh.begin(), fresh.end());
    EXPECT_EQ(fresh,
        (std::vector<std::string> {
            "schedule:update id=1 hour=7", "schedule:update id=1 minute=15", "schedule:update id=5 days=0" }));
}

TEST_F(ScheduleSectionTest, ARowsDeleteAsksInTheWindowsQueue)
{
    const test::AskedQuestion question { "Delete Schedule?", "Remove Morning at 07:45?", "Delete", "Cancel" };
    const std::vector<std::uint32_t> before = shownIds();
    section->rowActions(2).onDelete();
    expectAsked(window->alerts(), question);
    section->askToDeleteSchedule(2);
    EXPECT_EQ(window->alerts().keys().size(), 1u) << "asked once";
    window->alerts().dismiss();
    section->askToDeleteSchedule(2);
    answerWith(window->alerts(), "Cancel");
    EXPECT_EQ(shownIds(), before);
    EXPECT_TRUE(sentCommands().empty());

    section->askToDeleteSchedule(3);
    EXPECT_EQ(window->alerts().current(), nullptr) << "no question for another routine's schedule";
    section->askToDeleteSchedule(2);
    answerWith(window->alerts(), "Delete");
    EXPECT_EQ(sentCommands(), std::vector<std::string> { "schedule:delete id=2" });

    // A section that goes away takes its question back.
    section->askToDeleteSchedule(5);
    ASSERT_NE(window->alerts().current(), nullptr);
    section.reset();
    EXPECT_EQ(window->alerts().current(), nullptr);
}

TEST_F(ScheduleSectionTest, DeletingAsksAndTheSelectionFollows)
{
    window->modify([](ContentViewPresenter::State& state) { state.selectedScheduleId = 2; });
    const auto question = ScheduleSectionPresenter::deleteQuestion(oneTimeSchedule(2, 9));
    EXPECT_EQ(question,
        (ScheduleSectionPresenter::Question { "Delete Schedule?", "Remove Routine 9 at 07:45?", "Delete", "Cancel" }));
    ScheduledRoutine labelled = recurringSchedule(1, 9, 8, 0, 127);
    labelled.label = "Morning";
    EXPECT_EQ(ScheduleSectionPresenter::deleteQuestion(labelled).informativeText, "Remove Morning at 08:00?");

    const std::vector<std::uint32_t> before = shownIds();
    section->confirmDeleteSchedule(2, false);
    EXPECT_EQ(shownIds(), before);
    EXPECT_TRUE(sentCommands().empty());

    section->confirmDeleteSchedule(2, true);
    const std::uint32_t first = shownIds().front();
    EXPECT_EQ(window->state().selectedScheduleId, first) << "the routine's first remaining schedule";
    const std::uint32_t other = shownIds().back();
    section->confirmDeleteSchedule(other, true);
    EXPECT_EQ(window->state().selectedScheduleId, first) << "another schedule's deletion keeps the selection";
    section->confirmDeleteSchedule(first, true);
    EXPECT_FALSE(window->state().selectedScheduleId.has_value());
    EXPECT_EQ(sentCommands(),
        (std::vector<std::string> { "schedule:delete id=2", "schedule:delete id=" + std::to_string(other),
            "schedule:delete id=" + std::to_string(first) }));
}

TEST_F(ScheduleSectionTest, WindowSelectionFollowsTheRoutineChosenInTheSidebar)
{
    struct Case {
        const char* name;
        std::optional<std::uint32_t> routine;
        std::optional<std::uint32_t> selectedBefore;
        std::optional<std::uint32_t> selectedAfter;
    };
    const std::vector<Case> cases {
        { "the routine's first", 9, std::nullopt, section->routineSchedules().front().id },
        { "a selection of the routine stays", 9, 1, 1 },
        { "another routine's schedule moves", 4, 1, 3 },
        { "no routine", std::nullopt, 3, std::nullopt },
        { "a routine without detail counts as none", 77, 3, std::nullopt },
    };
    ScheduleSectionPresenter::installWindowActions(*window, *controller);
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        window->modify([&](ContentViewPresenter::State& state) {
            state.selectedRoutineId = test.routine;
            state.selectedScheduleId = test.selectedBefore;
        });
        window->actions().syncScheduleSelection();
        EXPECT_EQ(window->state().selectedScheduleId, test.selectedAfter);
    }
}

} // namespace
} // namespace tavrik::test
