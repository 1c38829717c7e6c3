#include "TavrikCore/Routine/RoutineTagReferences.hpp"

#include "TavrikCore/Model/SyncImportError.hpp"

#include <gtest/gtest.h>

#include <functional>

namespace tavrik {
namespace {

RoutineDetailModel routine(std::uint32_t id, std::vector<std::string> stepTags, std::vector<std::uint32_t> startTags = {})
{
    RoutineDetailModel detail;
    detail.id = id;
    detail.label = "Routine";
    std::uint32_t stepId = 1;
    for (std::string& tag : stepTags) {
        detail.steps.emplace_back(stepId++, 0, 0, std::move(tag), 30, "", false);
    }
    detail.startTagIds = std::move(startTags);
    return detail;
}

const std::vector<TagInfo> savedTags { { 7, "04 01", "Desk" }, { 9, "04 02", "Door" }, { 12, "04 03", "Bed" } };

std::string refusal(const std::map<std::uint32_t, RoutineDetailModel>& stored,
    const std::vector<RoutineDetailModel>& details, const std::vector<TagInfo>& tags = savedTags)
{
    try {
        validateRoutineTagReferences(stored, details, tags);
    } catch (const SyncImportError& error) {
        return error.what();
    }
    return "";
}

TEST(RoutineTagIdReference, ReadsDecimalIdsOnly)
{
    const std::vector<std::pair<std::string, std::optional<std::uint32_t>>> cases {
        { "12", 12 }, { " 12 ", 12 }, { "\n12\t", 12 }, { "+12", 12 }, { "0012", 12 }, { "4294967295", 4294967295U },
        { "0", 0 }, { "4294967296", std::nullopt }, { "A1", std::nullopt }, { "1 2", std::nullopt },
        { "-1", std::nullopt }, { "", std::nullopt }, { "  ", std::nullopt }, { "+", std::nullopt },
        { "١٢", std::nullopt },
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(routineTagIdReference(text), expected) << '"' << text << '"';
    }
}

TEST(RoutineTagReferences, EachBrokenReferenceIsNamed)
{
    const std::vector<std::pair<std::vector<RoutineDetailModel>, std::string>> cases {
        { { routine(4, { "12", " 12 ", "7" }, { 9 }) }, "" },
        { { routine(4, { "7", "0" }) }, "Routine 4 step 2 must reference a numeric tag id" },
        { { routine(4, { "A1" }) }, "Routine 4 step 1 must reference a numeric tag id" },
        { { routine(4, { "" }) }, "Routine 4 step 1 must reference a numeric tag id" },
        { { routine(4, { "7", "7", "13" }) }, "Routine 4 step 3 references missing tag id 13" },
        { { routine(3, {}, { 7, 7 }) }, "Routine 3 contains repeated or invalid start tags" },
        { { routine(3, {}, { 0 }) }, "Routine 3 contains repeated or invalid start tags" },
        { { routine(3, {}, { 7, 8 }) }, "Routine 3 references missing start tag id 8" },
        { { routine(5, {}, { 9 }), routine(2, {}, { 7, 9 }) }, "Start tag id 9 is assigned to routines 2 and 5" },
        // Steps come before start tags, routines by ascending id.
        { { routine(6, { "1" }), routine(2, { "7" }, { 1 }) }, "Routine 2 references missing start tag id 1" },
    };
    for (const auto& [details, expected] : cases) {
        EXPECT_EQ(refusal({}, details), expected) << expected;
    }
}

TEST(RoutineTagReferences, WithoutSavedTagsTheFirstStepFails)
{
    EXPECT_EQ(refusal({}, { routine(1, { "12" }) }, {}), "Routine 1 step 1 references missing tag id 12");
}

TEST(RoutineTagReferences, EveryStoredRoutineIsCheckedWithTheGivenOnesInTheirPlace)
{
    const std::map<std::uint32_t, RoutineDetailModel> stored { { 1, routine(1, { "7" }, { 9 }) },
        { 8, routine(8, { "99" }) } };
    // A broken reference in another stored routine refuses the save.
    EXPECT_EQ(refusal(stored, { routine(3, { "12" }) }), "Routine 8 step 1 references missing tag id 99");
    // The given routine replaces the stored one of its id.
    EXPECT_EQ(refusal(stored, { routine(8, { "12" }) }), "");
    EXPECT_EQ(refusal(stored, { routine(8, { "12" }, { 9 }) }), "Start tag id 9 is assigned to routines 1 and 8");
    EXPECT_EQ(refusal(stored, { routine(8, {}), routine(1, { "7" }, { 12 }), routine(4, {}, { 12 }) }),
        "Start tag id 12 is assigned to routines 1 and 4");
}

} // namespace
} // namespace tavrik
