#include "TavrikCore/Model/RoutineTagReferences.hpp"
#include "TavrikCore/Model/ScheduleResolution.hpp"
#include "TavrikCore/Model/SyncImportError.hpp"
#include "TavrikCore/Model/TagReference.hpp"

#include <gtest/gtest.h>

#include <map>

namespace tavrik::test {
namespace {

RoutineDetailModel detail(std::uint32_t id, std::vector<std::string> stepTags, std::vector<std::uint32_t> startTags = {})
{
    RoutineDetailModel routine;
    routine.id = id;
    routine.label = "Routine";
    routine.startTagIds = std::move(startTags);
    std::uint32_t stepId = 1;
    for (std::string& tag : stepTags) {
        routine.steps.emplace_back(stepId, stepId - 1, 0, std::move(tag), 30, "Step", false);
        ++stepId;
    }
    return routine;
}

template <class Run>
std::string importErrorText(Run&& run)
{
    try {
        run();
    } catch (const SyncImportError& error) {
        return error.what();
    }
    return "(no SyncImportError)";
}

TEST(TagReferenceTests, ReadsDecimalIdsWithAnOptionalSign)
{
    const std::vector<std::pair<std::string, std::optional<std::uint32_t>>> cases {
        { "12", 12 },
        { "+12", 12 },
        { "0012", 12 },
        { "-0", 0 },
        { "4294967295", 4294967295u },
        { "4294967296", std::nullopt },
        { "-1", std::nullopt },
        { " 12", std::nullopt },
        { "A1", std::nullopt },
        { "", std::nullopt },
        { "+", std::nullopt },
        { "1 2", std::nullopt },
    };
    for (const auto& [text, id] : cases) {
        EXPECT_EQ(tagIdFromReference(text), id) << '"' << text << '"';
    }
}

TEST(RoutineTagReferenceTests, FirstBrokenReferenceIsNamed)
{
    const std::vector<TagInfo> tags { { 7, "04 07", "Seven" }, { 9, "04 09", "Nine" }, { 12, "04 12", "Twelve" } };
    struct Case {
        std::string name;
        std::vector<RoutineDetailModel> routines;
        std::vector<TagInfo> tags;
        std::string error;
    };
    const std::string none = "(no SyncImportError)";
    const std::vector<Case> cases {
        { "numeric references, trimmed", { detail(1, { "12", " 12\n", "+7" }, { 9 }) }, tags, none },
        { "zero", { detail(1, { "12", "0" }) }, tags, "Routine 1 step 2 must reference a numeric tag id" },
        { "not a number", { detail(4, { "A1" }) }, tags, "Routine 4 step 1 must reference a numeric tag id" },
        { "blank", { detail(4, { "" }) }, tags, "Routine 4 step 1 must reference a numeric tag id" },
        { "no saved tags", { detail(2, { "12" }) }, {}, "Routine 2 step 1 references missing tag id 12" },
        { "repeated start tag", { detail(3, {}, { 7, 7 }) }, tags, "Routine 3 contains repeated or invalid start tags" },
        { "start tag 0", { detail(3, {}, { 0 }) }, tags, "Routine 3 contains repeated or invalid start tags" },
        { "missing start tag", { detail(3, {}, { 9, 8 }) }, tags, "Routine 3 references missing start tag id 8" },
        { "shared start tag, in id order", { detail(5, {}, { 9 }), detail(2, {}, { 9 }) }, tags,
            "Start tag id 9 is assigned to routines 2 and 5" },
        { "routines in id order", { detail(6, { "5" }), detail(3, { "6" }) }, tags,
            "Routine 3 step 1 references missing tag id 6" },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        std::map<std::uint32_t, RoutineDetailModel> routines;
        for (const RoutineDetailModel& routine : test.routines) {
            routines.emplace(routine.id, routine);
        }
        EXPECT_EQ(importErrorText([&] { checkRoutineTagReferences(test.tags, routines); }), test.error);
    }
}

// Stored routines that pass on their own, with one of them replaced (or one added): the check
// that looks only at the replacement names the same first fault as the check of them all.
TEST(RoutineTagReferenceTests, OneReplacedRoutineIsNamedAsTheWholeCheckNamesIt)
{
    const std::vector<TagInfo> tags { { 7, "04 07", "Seven" }, { 9, "04 09", "Nine" }, { 12, "04 12", "Twelve" },
        { 14, "04 14", "Fourteen" } };
    std::map<std::uint32_t, RoutineDetailModel> stored;
    for (const RoutineDetailModel& routine :
        { detail(2, { "7" }, { 9 }), detail(4, { "12" }), detail(6, { "7", "9" }, { 12, 14 }), detail(8, {}) }) {
        stored.emplace(routine.id, routine);
    }
    ASSERT_EQ(importErrorText([&] { checkRoutineTagReferences(tags, stored); }), "(no SyncImportError)");
    const std::vector<std::pair<std::string, RoutineDetailModel>> cases {
        { "unchanged", stored.at(4) },
        { "own start tag kept", detail(2, { "12" }, { 9 }) },
        { "new routine without faults", detail(10, { "9" }, { 7 }) },
        { "step not a number", detail(4, { "12", "x" }) },
        { "step names a missing tag", detail(6, { "3" }, { 12 }) },
        { "repeated start tag", detail(4, {}, { 7, 7 }) },
        { "missing start tag before a shared one", detail(4, {}, { 5, 9 }) },
        { "start tag of an earlier routine", detail(4, {}, { 7, 9 }) },
        { "start tag of a later routine", detail(4, {}, { 14 }) },
        { "start tags of two later routines", detail(1, {}, { 12, 9 }) },
        { "start tag of a later routine, step fault first", detail(1, { "0" }, { 12 }) },
        { "new routine taking an earlier routine's tag", detail(10, {}, { 12 }) },
        { "tag given up by the routine it replaces", detail(6, { "7" }, { 14 }) },
    };
    for (const auto& [name, replacement] : cases) {
        SCOPED_TRACE(name);
        std::map<std::uint32_t, RoutineDetailModel> replaced = stored;
        replaced.insert_or_assign(replacement.id, replacement);
        EXPECT_EQ(importErrorText([&] { checkRoutineTagReferencesWithOneReplaced(tags, stored, replacement); }),
            importErrorText([&] { checkRoutineTagReferences(tags, replaced); }));
    }
}

TEST(ScheduleResolutionTests, SchedulesTakeTheirRoutinesLabelsAndBlanksAreDropped)
{
    const std::vector<RoutineSummary> routines { { 1, "Old", 0, 0, 0 }, { 2, "Evening", 0, 0, 0 },
        { 1, "Morning", 0, 0, 0 } };
    const std::vector<ScheduledRoutine> schedules {
        { .id = 5, .routineId = 1, .hour = 7, .days = 62, .enabled = true, .label = "stale" },
        {},
        { .id = 6, .routineId = 2, .hour = 21, .days = 127 },
    };
    const std::vector<ScheduledRoutine> resolved = schedulesResolvedForBackup(schedules, routines);
    ASSERT_EQ(resolved.size(), 2u);
    EXPECT_EQ(resolved[0].label, "Morning");
    EXPECT_EQ(resolved[0].hour, 7);
    EXPECT_EQ(resolved[1].label, "Evening");

    struct Case {
        ScheduledRoutine schedule;
        std::string error;
    };
    const std::vector<Case> refused {
        { { .id = 4, .routineId = 99, .label = " Nap\n" },
            "Schedule 4 label=Nap does not reference a routine in this export" },
        { { .id = 4, .routineId = 0, .hour = 3, .label = "  " },
            "Schedule 4 does not reference a routine in this export" },
        { { .id = 0, .routineId = 2, .hour = 3 }, "Schedule 0 does not have a valid schedule id" },
        // Only an empty record counts as blank.
        { { .lastRun = 5 }, "Schedule 0 does not reference a routine in this export" },
    };
    for (const Case& test : refused) {
        SCOPED_TRACE(test.error);
        EXPECT_EQ(importErrorText([&] { schedulesResolvedForBackup({ test.schedule }, routines); }), test.error);
    }
}

} // namespace
} // namespace tavrik::test
