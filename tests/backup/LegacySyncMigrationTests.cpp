#include "TavrikCore/Backup/LegacySyncMigration.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace tavrik {
namespace {

using nlohmann::ordered_json;

ordered_json tagJson(std::uint32_t id, const std::string& name, const std::string& uid = "")
{
    return { { "id", id }, { "uid", uid.empty() ? "04 00 " + std::to_string(id) : uid }, { "name", name } };
}

ordered_json stepJson(std::uint32_t id, const std::string& tag)
{
    return { { "id", id }, { "position", 0 }, { "tagId", tag }, { "seconds", 10 }, { "instruction", "Do" } };
}

ordered_json routineJson(std::uint32_t id, const std::string& label, std::vector<ordered_json> steps = {})
{
    return { { "id", id }, { "label", label }, { "steps", steps } };
}

LegacyKeyedBackupMigrationResult migrate(
    ordered_json tags, ordered_json routines, ordered_json schedules = ordered_json::array())
{
    const ordered_json document = {
        { "type", "sync_data" },
        { "dataVersion", 2 },
        { "tags", tags },
        { "routines", routines },
        { "schedules", schedules },
    };
    return LegacyKeyedBackupMigration::migrate(dataFromString(document.dump()));
}

std::vector<std::uint32_t> tagIds(const SyncDataEnvelope& envelope)
{
    std::vector<std::uint32_t> ids;
    for (const TagInfo& tag : envelope.tags) {
        ids.push_back(tag.id);
    }
    return ids;
}

std::string legacyErrorText(const ordered_json& tags, const ordered_json& routines)
{
    try {
        migrate(tags, routines);
    } catch (const LegacyKeyedBackupMigrationError& error) {
        return error.what();
    }
    return "(no LegacyKeyedBackupMigrationError)";
}

TEST(LegacyKeyedBackupMigration, RenumbersZeroAndRepeatedTagIdsWithoutTakingKeptOnes)
{
    struct Case {
        std::vector<std::uint32_t> ids;
        std::vector<std::uint32_t> expected;
    };
    const Case cases[] = {
        { { 3, 0, 3 }, { 3, 4, 5 } },
        // Tag 4 keeps its id; the zero-id tag goes above it.
        { { 3, 0, 4 }, { 3, 5, 4 } },
        { { 0, 1, 0 }, { 2, 1, 3 } },
        { { 4294967295, 0 }, { 4294967295, 1 } },
    };
    for (const Case& testCase : cases) {
        ordered_json tags = ordered_json::array();
        for (std::size_t index = 0; index < testCase.ids.size(); ++index) {
            tags.push_back(tagJson(testCase.ids[index], "Tag " + std::to_string(index)));
        }
        EXPECT_EQ(tagIds(migrate(tags, ordered_json::array()).envelope), testCase.expected) << tags.dump();
    }
}

TEST(LegacyKeyedBackupMigration, FindsTagsByIdUidAndNameIgnoringBlanksAndCase)
{
    const ordered_json tags = ordered_json::array({ tagJson(3, "Kitchen"),
        tagJson(0,
            "\xC3\x89"
            "cole",
            "04 AA BB"),
        tagJson(4, "Desk") });
    const std::vector<std::pair<std::string, std::string>> references = {
        { "3", "3" },
        { "4", "4" }, // the kept id, not the zero-id tag that was renumbered
        { "5", "5" }, // the renumbered tag's new id
        { " kITCHEN\n", "3" },
        { "\xC3\xA9"
          "COLE ",
            "5" }, // ICU lower-casing beyond ASCII
        { "E\xCC\x81"
          "cole",
            "5" }, // E with a combining accent is the same text as the precomposed one
        { "04 aa bb", "5" },
        { "desk\t", "4" },
    };
    std::vector<ordered_json> steps;
    for (std::size_t index = 0; index < references.size(); ++index) {
        steps.push_back(stepJson(static_cast<std::uint32_t>(index + 1), references[index].first));
    }
    const LegacyKeyedBackupMigrationResult result = migrate(tags, ordered_json::array({ routineJson(1, "R", steps) }));
    ASSERT_EQ(result.envelope.routines.size(), 1u);
    for (std::size_t index = 0; index < references.size(); ++index) {
        EXPECT_EQ(result.envelope.routines[0].steps[index].tagId, references[index].second) << references[index].first;
    }
    EXPECT_TRUE(result.warnings.empty());
    EXPECT_EQ(result.envelope.tags.size(), 3u);
}

TEST(LegacyKeyedBackupMigration, RecoversMissingTagsWithUniqueNamesAndUids)
{
    struct Case {
        std::string label;
        ordered_json tags;
        std::string reference;
        TagInfo recovered;
    };
    const Case cases[] = {
        { "plain", ordered_json::array({ tagJson(1, "Door") }), " Garage ",
            { 2, "LEGACY-UNLINKED-2", "Unlinked: Garage" } },
        { "empty reference", ordered_json::array({ tagJson(2, "Door") }), "",
            { 1, "LEGACY-UNLINKED-1", "Unlinked legacy tag" } },
        { "blank reference", ordered_json::array(), " \t ", { 1, "LEGACY-UNLINKED-1", "Unlinked legacy tag" } },
        { "name taken twice", { tagJson(1, "UNLINKED: garage"), tagJson(2, "unlinked: Garage 2") }, "Garage",
            { 3, "LEGACY-UNLINKED-3", "Unlinked: Garage 3" } },
        { "uid taken", ordered_json::array({ tagJson(5, "Door", "legacy-unlinked-1") }), "Garage",
            { 1, "LEGACY-UNLINKED-1-2", "Unlinked: Garage" } },
        // Cut to 23 bytes at a character boundary: the thumbs-up with its skin tone is one character.
        { "cut before a cluster", ordered_json::array(), "Kitchen s\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD shelf",
            { 1, "LEGACY-UNLINKED-1", "Unlinked: Kitchen s" } },
        { "cut to make room for the suffix", ordered_json::array({ tagJson(1, "Unlinked: Abcdefghijklm") }),
            "Abcdefghijklmnopqrstuvwxyz", { 2, "LEGACY-UNLINKED-2", "Unlinked: Abcdefghijk 2" } },
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.label);
        const LegacyKeyedBackupMigrationResult result = migrate(
            testCase.tags, ordered_json::array({ routineJson(9, "Chores", { stepJson(1, testCase.reference) }) }));
        ASSERT_EQ(result.envelope.tags.size(), testCase.tags.size() + 1);
        EXPECT_EQ(result.envelope.tags.back(), testCase.recovered);
        EXPECT_EQ(result.envelope.routines[0].steps[0].tagId, std::to_string(testCase.recovered.id));
        const std::string quoted = testCase.reference.empty() ? "(empty)" : testCase.reference;
        EXPECT_EQ(result.warnings,
            (std::vector<std::string> { "Routine Chores step 1 used missing tag '" + quoted + "'. It was preserved as '"
                + testCase.recovered.name + "'; reassign it after the upgrade." }));
    }
}

TEST(LegacyKeyedBackupMigration, StepsNamingTheSameMissingTagShareItAndEachWarn)
{
    const LegacyKeyedBackupMigrationResult result = migrate(ordered_json::array({ tagJson(1, "Door") }),
        ordered_json::array({ routineJson(1, "A", { stepJson(1, "Garage"), stepJson(2, "Door") }),
            routineJson(2, "B", { stepJson(1, "GARAGE ") }) }));
    EXPECT_EQ(tagIds(result.envelope), (std::vector<std::uint32_t> { 1, 2 }));
    EXPECT_EQ(result.envelope.routines[0].steps[0].tagId, "2");
    EXPECT_EQ(result.envelope.routines[1].steps[0].tagId, "2");
    EXPECT_EQ(result.warnings,
        (std::vector<std::string> {
            "Routine A step 1 used missing tag 'Garage'. It was preserved as 'Unlinked: Garage'; reassign it after the "
            "upgrade.",
            "Routine B step 1 used missing tag 'GARAGE '. It was preserved as 'Unlinked: Garage'; reassign it after "
            "the upgrade.",
        }));
}

TEST(LegacyKeyedBackupMigration, RecoversOnlyWhileTheTagListHasRoom)
{
    const auto tagsUpTo = [](std::uint32_t count) {
        ordered_json tags = ordered_json::array();
        for (std::uint32_t id = 1; id <= count; ++id) {
            tags.push_back(tagJson(id, "Tag " + std::to_string(id)));
        }
        return tags;
    };
    const ordered_json routines = ordered_json::array({ routineJson(1, "R", { stepJson(1, "Lost") }) });
    EXPECT_EQ(migrate(tagsUpTo(23), routines).envelope.tags.size(), 24u);
    EXPECT_EQ(legacyErrorText(tagsUpTo(24), routines), "Legacy data has missing tag references but the tag list is full");
    // A second missing reference would need a 25th tag.
    EXPECT_EQ(legacyErrorText(tagsUpTo(23),
                  ordered_json::array({ routineJson(1, "R", { stepJson(1, "Lost"), stepJson(2, "Gone") }) })),
        "Legacy data has missing tag references but the tag list is full");
}

TEST(LegacyKeyedBackupMigration, GivesStepsFreeNodeIdsAboveTheGroups)
{
    ordered_json routine
        = routineJson(1, "R", { stepJson(0, "1"), stepJson(2, "1"), stepJson(2, "1"), stepJson(9, "1") });
    routine["groups"]
        = { { { "id", 1 }, { "position", 0 }, { "label", "G" }, { "mode", "rotation" }, { "timeLimitSeconds", 0 } } };
    const LegacyKeyedBackupMigrationResult result
        = migrate(ordered_json::array({ tagJson(1, "T") }), ordered_json::array({ routine }));
    std::vector<std::uint32_t> ids;
    for (const RoutineStepPayload& step : result.envelope.routines[0].steps) {
        ids.push_back(step.id);
    }
    EXPECT_EQ(ids, (std::vector<std::uint32_t> { 2, 3, 4, 9 }));
    EXPECT_EQ(result.envelope.routines[0].groups[0].mode, RoutineGroupMode::rotation);
}

TEST(LegacyKeyedBackupMigration, ResolvesSchedulesByIdThenKeyThenUniqueLabel)
{
    const ordered_json routines = {
        { { "id", 1 }, { "key", "wake" }, { "label", "Morning" } },
        { { "id", 2 }, { "key", "WAKE" }, { "label", "Twin" } },
        { { "id", 3 }, { "label", " twin" } },
        { { "id", 4 }, { "label", "Nap" } },
    };
    const auto scheduleJson = [](std::uint32_t id, ordered_json members) {
        members["id"] = id;
        members["hour"] = 7;
        members["minute"] = 0;
        return members;
    };
    const ordered_json schedules = {
        scheduleJson(1, { { "routineId", 4 }, { "key", "wake" } }),
        scheduleJson(2, { { "routineId", 99 }, { "key", " Wake" }, { "label", "Nap" } }), // the later routine with the key
        scheduleJson(3, { { "label", "NAP" } }), scheduleJson(4, { { "label", "Twin" } }), // label held twice
        scheduleJson(5, { { "routineId", 0 } }), scheduleJson(0, {}), // enabled by default: not empty
        { { "id", 0 }, { "hour", 0 }, { "minute", 0 }, { "enabled", 0 }, { "label", " " } }, // empty placeholder
    };
    const LegacyKeyedBackupMigrationResult result = migrate(ordered_json::array(), routines, schedules);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> kept;
    for (const ScheduledRoutine& schedule : result.envelope.schedules) {
        kept.emplace_back(schedule.id, schedule.routineId);
    }
    EXPECT_EQ(kept, (std::vector<std::pair<std::uint32_t, std::uint32_t>> { { 1, 4 }, { 2, 2 }, { 3, 4 } }));
    EXPECT_EQ(result.warnings,
        (std::vector<std::string> {
            "Schedule 4 referenced a missing routine and was omitted from the migration backup.",
            "Schedule 5 referenced a missing routine and was omitted from the migration backup.",
            "Schedule 0 referenced a missing routine and was omitted from the migration backup.",
        }));
}

TEST(LegacyKeyedBackupMigration, ReadsEnabledAsNumberOrBoolean)
{
    const ordered_json routines = ordered_json::array({ routineJson(1, "R") });
    const std::pair<ordered_json, bool> cases[] = {
        { 1, true },
        { 0, false },
        { 2, true },
        { true, true },
        { false, false },
        { nullptr, true },
    };
    for (const auto& [enabled, expected] : cases) {
        const ordered_json schedules = ordered_json::array(
            { { { "id", 1 }, { "routineId", 1 }, { "hour", 7 }, { "minute", 0 }, { "enabled", enabled } } });
        const LegacyKeyedBackupMigrationResult result = migrate(ordered_json::array(), routines, schedules);
        ASSERT_EQ(result.envelope.schedules.size(), 1u);
        EXPECT_EQ(result.envelope.schedules[0].enabled, expected) << enabled.dump();
    }
    const ordered_json wrong = ordered_json::array(
        { { { "id", 1 }, { "routineId", 1 }, { "hour", 7 }, { "minute", 0 }, { "enabled", "yes" } } });
    EXPECT_THROW(migrate(ordered_json::array(), routines, wrong), JsonDecodeError);
}

TEST(LegacyKeyedBackupMigration, RefusesWhatItCannotConvert)
{
    EXPECT_EQ(legacyErrorText(ordered_json::array(), ordered_json::array({ routineJson(0, "A") })),
        "Legacy routines contain an invalid or repeated id");
    EXPECT_EQ(legacyErrorText(ordered_json::array(), { routineJson(3, "A"), routineJson(3, "B") }),
        "Legacy routines contain an invalid or repeated id");
    try {
        LegacyKeyedBackupMigration::migrate(dataFromString(R"({"type":"sync_state"})"));
        ADD_FAILURE() << "accepted another message type";
    } catch (const LegacyKeyedBackupMigrationError& error) {
        EXPECT_EQ(error, LegacyKeyedBackupMigrationError::invalid("Legacy backup is not Tavrik sync data"));
    }
    EXPECT_THROW(LegacyKeyedBackupMigration::migrate(dataFromString(R"({"tags":[]})")), JsonDecodeError);
    EXPECT_THROW(LegacyKeyedBackupMigration::migrate(dataFromString("not json")), JsonDecodeError);
}

} // namespace
} // namespace tavrik
