#include "TavrikCore/Model/RoutineGroupMode.hpp"

#include <gtest/gtest.h>

namespace tavrik {
namespace {

TEST(RoutineGroupMode, CasesInPickerOrderWithTitles)
{
    ASSERT_EQ(allRoutineGroupModes.size(), 2u);
    EXPECT_EQ(allRoutineGroupModes[0], RoutineGroupMode::timebox);
    EXPECT_EQ(allRoutineGroupModes[1], RoutineGroupMode::rotation);
    EXPECT_EQ(rawValue(RoutineGroupMode::timebox), "timebox");
    EXPECT_EQ(rawValue(RoutineGroupMode::rotation), "rotation");
    EXPECT_EQ(label(RoutineGroupMode::timebox), "Timebox");
    EXPECT_EQ(label(RoutineGroupMode::rotation), "Rotation");
    EXPECT_EQ(explanation(RoutineGroupMode::timebox),
        "Tavrik repeats the least-recently-completed steps within the time limit. When time is up, the current "
        "step finishes normally before the routine continues.");
    EXPECT_EQ(explanation(RoutineGroupMode::rotation),
        "Tavrik picks the next step in rotation: the least-recently-completed step. After that step finishes, "
        "the routine continues outside this group.");
}

TEST(RoutineGroupMode, RawValuesAreExactAndCaseSensitive)
{
    for (const RoutineGroupMode mode : allRoutineGroupModes) {
        EXPECT_EQ(routineGroupModeFromRawValue(rawValue(mode)), mode);
    }
    for (const char* text : { "Timebox", "", "timeboxes", "rotation ", "ROTATION" }) {
        EXPECT_EQ(routineGroupModeFromRawValue(text), std::nullopt) << text;
    }
}

TEST(RoutineGroupMode, TimeLimitRules)
{
    struct Case {
        RoutineGroupMode mode;
        std::int64_t seconds;
        bool valid;
        std::int64_t canonical;
    };
    const Case cases[] = {
        { RoutineGroupMode::timebox, 0, false, 0 },
        { RoutineGroupMode::timebox, 1, true, 1 },
        { RoutineGroupMode::timebox, 900, true, 900 },
        { RoutineGroupMode::timebox, 86400, true, 86400 },
        { RoutineGroupMode::timebox, 86401, false, 86401 },
        { RoutineGroupMode::timebox, 100000, false, 100000 },
        { RoutineGroupMode::timebox, -1, false, -1 },
        { RoutineGroupMode::rotation, 0, true, 0 },
        { RoutineGroupMode::rotation, 1, false, 0 },
        { RoutineGroupMode::rotation, 900, false, 0 },
        { RoutineGroupMode::rotation, -5, false, 0 },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(validTimeLimit(c.mode, c.seconds), c.valid) << rawValue(c.mode) << " " << c.seconds;
        EXPECT_EQ(canonicalTimeLimit(c.mode, c.seconds), c.canonical) << rawValue(c.mode) << " " << c.seconds;
    }
}

TEST(RoutineGroupMode, JsonIsThePlainRawValue)
{
    EXPECT_EQ(dumpJson(toJson(RoutineGroupMode::rotation)), "\"rotation\"");
    EXPECT_EQ(routineGroupModeFromJson(Json("timebox")), RoutineGroupMode::timebox);
    EXPECT_EQ(routineGroupModeFromJson(Json("rotation")), RoutineGroupMode::rotation);
    for (const Json& bad : { Json("timeboxes"), Json("Rotation"), Json(""), Json(1), Json(true), Json::array() }) {
        EXPECT_THROW(routineGroupModeFromJson(bad), JsonDecodeError) << bad.dump();
    }
}

} // namespace
} // namespace tavrik
