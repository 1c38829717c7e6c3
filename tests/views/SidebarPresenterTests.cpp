#include "TavrikLink/Views/SidebarPresenter.hpp"
#include "tests/support/ManualClock.hpp"

#include <gtest/gtest.h>

namespace tavrik::test {
namespace {

using Kind = SidebarPresenter::RowKind;
using Pane = ContentViewPresenter::SidebarPane;

struct SidebarFixture : ::testing::Test {
    ManualClock clock;
    ContentViewPresenter window { {} };
    std::vector<std::string> calls;

    SidebarFixture()
    {
        ContentViewPresenter::ControllerState controller;
        controller.hasLoadedData = true;
        controller.routineSummaries
            = { RoutineSummary { 1, "Morning", 0, 0, 0 }, RoutineSummary { 2, "Evening", 0, 0, 0 } };
        ScheduledRoutine off;
        off.id = 5;
        off.routineId = 2;
        off.hour = 7;
        off.days = 127;
        controller.schedules = { off };
        controller.tags = { TagInfo { 3, "04 01", "Desk" }, TagInfo { 4, "04 02", "Door" } };
        window.observe(controller);
        window.actions().beginCreatingRoutine = [this] { calls.push_back("beginCreatingRoutine"); };
        window.actions().beginCreatingTag = [this] { calls.push_back("beginCreatingTag"); };
    }

    std::vector<SidebarPresenter::Row> rows() const { return SidebarPresenter::rows(window, clock); }

    std::vector<std::string> labels() const
    {
        std::vector<std::string> result;
        for (const auto& row : rows()) {
            result.push_back(row.label + (row.caption.empty() ? "" : " / " + row.caption) + (row.active ? " *" : ""));
        }
        return result;
    }

    SidebarPresenter::Row row(Kind kind, std::uint32_t id = 0) const
    {
        for (const auto& candidate : rows()) {
            if (candidate.kind == kind && candidate.id == id) {
                return candidate;
            }
        }
        ADD_FAILURE() << "no such row";
        return {};
    }
};

TEST_F(SidebarFixture, ListsBothGroupsWithTheirAddRowsThenFirmwareAndSettings)
{
    EXPECT_EQ(labels(),
        (std::vector<std::string> { "Routines", "Morning", "Evening / Schedules off", "Add Routine", "Tags", "Desk",
            "Door", "Add Tag", "Firmware", "Settings" }));
    const auto all = rows();
    EXPECT_TRUE(all[1].indented);
    EXPECT_TRUE(all[3].indented);
    EXPECT_FALSE(all[8].indented);
    EXPECT_EQ(all[0].symbol, "list.clipboard");
    EXPECT_EQ(all[4].symbol, "tag");
    EXPECT_EQ(all[8].symbol, "square.and.arrow.up");
    EXPECT_EQ(all[9].symbol, "gearshape");

    // Empty lists still offer the add rows; collapsed groups hide all their rows.
    window.observe({});
    EXPECT_EQ(
        labels(), (std::vector<std::string> { "Routines", "Add Routine", "Tags", "Add Tag", "Firmware", "Settings" }));
    SidebarPresenter::activate(window, row(Kind::routinesGroup));
    SidebarPresenter::activate(window, row(Kind::tagsGroup));
    EXPECT_EQ(labels(), (std::vector<std::string> { "Routines", "Tags", "Firmware", "Settings" }));
    EXPECT_FALSE(window.state().routinesExpanded);
}

TEST_F(SidebarFixture, ChoosingRowsMovesTheHighlightAndThePane)
{
    window.modify([](ContentViewPresenter::State& state) {
        state.routineDetailSnapshotSignature = 1;
        state.routineDetailMetadataSnapshotSignature = 2;
    });
    SidebarPresenter::activate(window, row(Kind::routine, 2));
    EXPECT_TRUE(row(Kind::routine, 2).active);
    EXPECT_FALSE(window.state().routineDetailSnapshotSignature) << "the editor takes a fresh copy";
    EXPECT_FALSE(window.state().routineDetailMetadataSnapshotSignature);

    // A tag chosen while routines are shown switches the pane first; the routine stays selected.
    SidebarPresenter::activate(window, row(Kind::tag, 4));
    EXPECT_EQ(window.state().selectedPane, Pane::tags);
    EXPECT_EQ(window.state().selectedTagId, 4u);
    EXPECT_EQ(window.state().selectedRoutineId, 2u);
    EXPECT_FALSE(row(Kind::routine, 2).active);
    EXPECT_TRUE(row(Kind::tag, 4).active);

    SidebarPresenter::activate(window, row(Kind::firmware));
    EXPECT_TRUE(row(Kind::firmware).active);
    EXPECT_FALSE(row(Kind::tag, 4).active);
    SidebarPresenter::activate(window, row(Kind::settings));
    EXPECT_EQ(window.state().selectedPane, Pane::settings);

    SidebarPresenter::activate(window, row(Kind::addRoutine));
    SidebarPresenter::activate(window, row(Kind::addTag));
    EXPECT_EQ(calls, (std::vector<std::string> { "beginCreatingRoutine", "beginCreatingTag" }));
}

TEST_F(SidebarFixture, TheRoutineBeingCreatedHasItsOwnRowWhileNoRoutineIsSelected)
{
    bool creating = true;
    window.actions().showingNewRoutineDraft = [&] { return creating; };
    EXPECT_EQ(labels(),
        (std::vector<std::string> { "Routines", "Morning", "Evening / Schedules off", "New Routine *", "Add Routine",
            "Tags", "Desk", "Door", "Add Tag", "Firmware", "Settings" }));
    window.modify([](ContentViewPresenter::State& state) { state.routineDetailDraft.label = "Bedtime"; });
    EXPECT_EQ(row(Kind::newRoutine).label, "Bedtime");

    SidebarPresenter::activate(window, row(Kind::routine, 1));
    EXPECT_FALSE(row(Kind::newRoutine).active) << "the row stays listed, the highlight moves";
    EXPECT_TRUE(row(Kind::routine, 1).active);
    creating = false;
    EXPECT_EQ(rows().size(), 10u);
}

} // namespace
} // namespace tavrik::test
