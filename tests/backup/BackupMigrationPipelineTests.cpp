#include "BackupTestSupport.hpp"

#include "TavrikCore/Backup/BackupMigrationPipeline.hpp"
#include "TavrikCore/Backup/BackupSchemaVersion.hpp"
#include "TavrikCore/Model/SyncImportError.hpp"
#include "tests/support/ManyMembers.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <stdexcept>
#include <string>
#include <vector>

namespace tavrik {
namespace {

using test::backupFixture;
using test::migrationErrorText;

// The arrow is U+2192, spelled as its UTF-8 bytes so the table does not depend on the compiler's charset.
const std::vector<std::string> allStepLabels = {
    "unversioned \xE2\x86\x92 v2",
    "v2 \xE2\x86\x92 v3: numeric routine and tag references",
    "v3 \xE2\x86\x92 v4: hardware and Wi-Fi capability metadata",
    "v4 \xE2\x86\x92 v5: kill-switch settings capability",
    "v5 \xE2\x86\x92 v6: routine hierarchy",
    "v6 \xE2\x86\x92 v7: device-store snapshots",
    "v7 \xE2\x86\x92 v8: routine start tags",
    "v8 \xE2\x86\x92 v9: groups with timebox mode",
};

std::vector<std::string> stepsFrom(std::size_t first)
{
    return { allStepLabels.begin() + static_cast<std::ptrdiff_t>(first), allStepLabels.end() };
}

std::string minimalDocument(const std::string& dataVersionMember)
{
    return R"({"type":"sync_data",)" + dataVersionMember + R"("tags":[],"routines":[],"schedules":[]})";
}

// Each refused fixture with its message: every refusal of the schema chain and of the version header
// has a document of its own.
const std::pair<const char*, const char*> refusedFixtures[] = {
    { "v1.json", "Tavrik backup schema v1 was never supported" },
    { "v10.json", "Tavrik backup schema v10 requires a newer Tavrik Link" },
    { "v2-full-tag-list.json",
        "Backup could not be decoded as schema v2: Legacy data has missing tag references but the tag list is full" },
    { "v2-repeated-routine-ids.json",
        "Backup could not be decoded as schema v2: Legacy routines contain an invalid or repeated id" },
    { "v2-undecodable.json", "Backup could not be decoded as schema v2: Missing value for \"instruction\"" },
    { "v6-subroutines.json", "Backup schema v6 uses the unsupported 'subroutines' field; expected 'timeboxes'" },
    { "v8-groups.json", "Backup schema v8 requires timeboxes; groups require schema v9" },
    { "v8-timeboxes-not-objects.json", "Legacy timeboxes must be an array of objects" },
    { "v8-timebox-without-limit.json", "Group timeLimitSeconds must be an integer" },
    { "v9-timeboxes.json", "Backup schema v9 requires groups, not timeboxes" },
    { "v9-without-groups.json", "Backup schema v9 requires a groups array of objects" },
    { "v9-group-mode.json", "Group mode must be timebox or rotation" },
    { "v9-group-time-limit.json", "Group timeLimitSeconds must be an integer" },
    { "v9-undecodable.json", "Backup could not be decoded as schema v9: Missing value for \"hour\"" },
    // The checks of the current envelope run last, after every step.
    { "v9-start-tag-twice.json", "Start tag id 7 is assigned to routines 1 and 2" },
};

// A one-routine document of the given version whose single routine carries `routineMembers`.
std::string routineDocument(int version, const std::string& routineMembers)
{
    return R"({"type":"sync_data","dataVersion":)" + std::to_string(version)
        + R"(,"tags":[],"schedules":[],"routines":[{"id":1,"label":"R","steps":[],"startTagIds":[],)" + routineMembers
        + "}]}";
}

TEST(BackupMigrationPipeline, MigratesEachSourceVersionToItsExpectedDocument)
{
    const std::string keyedWarnings[] = {
        "Routine Morning step 4 used missing tag 'Garage'. It was preserved as 'Unlinked: Garage'; reassign it after "
        "the upgrade.",
        "Routine Evening step 1 used missing tag ' garage'. It was preserved as 'Unlinked: Garage'; reassign it after "
        "the upgrade.",
        "Routine Evening step 2 used missing tag '(empty)'. It was preserved as 'Unlinked legacy tag'; reassign it "
        "after the upgrade.",
        "Schedule 3 referenced a missing routine and was omitted from the migration backup.",
    };
    struct Case {
        std::string input;
        std::string expected;
        BackupSchemaVersion source;
        std::vector<std::string> steps;
        std::vector<std::string> warnings;
    };
    const Case cases[] = {
        { "unversioned.json", "unversioned.expected.json", BackupSchemaVersion::unversioned, allStepLabels, {} },
        { "v2-keyed.json", "v2-keyed.expected.json", BackupSchemaVersion::v2, stepsFrom(1),
            { std::begin(keyedWarnings), std::end(keyedWarnings) } },
        { "v3.json", "v3.expected.json", BackupSchemaVersion::v3, stepsFrom(2), {} },
        { "v4.json", "v4.expected.json", BackupSchemaVersion::v4, stepsFrom(3), {} },
        { "v5.json", "v5.expected.json", BackupSchemaVersion::v5, stepsFrom(4), {} },
        { "v6.json", "v6.expected.json", BackupSchemaVersion::v6, stepsFrom(5), {} },
        { "v7.json", "v7.expected.json", BackupSchemaVersion::v7, stepsFrom(6), {} },
        { "v8.json", "v8.expected.json", BackupSchemaVersion::v8, stepsFrom(7), {} },
        { "v9.json", "v9.json", BackupSchemaVersion::v9, {}, {} },
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.input);
        const BackupMigrationResult result = BackupMigrationPipeline::migrate(backupFixture(testCase.input));
        EXPECT_EQ(result.sourceVersion, testCase.source);
        EXPECT_EQ(result.appliedSteps, testCase.steps);
        EXPECT_EQ(result.warnings, testCase.warnings);

        const Data written = BackupMigrationPipeline::encodeCurrent(result.envelope, true);
        const auto actual = nlohmann::json::parse(written.begin(), written.end());
        const auto expected = nlohmann::json::parse(backupFixture(testCase.expected));
        EXPECT_EQ(actual, expected) << nlohmann::json::diff(expected, actual).dump(2);

        // What was written is current data: it reads back unchanged and takes no step.
        const BackupMigrationResult again = BackupMigrationPipeline::migrate(written);
        EXPECT_EQ(again.envelope, result.envelope);
        EXPECT_EQ(again.sourceVersion, BackupSchemaVersion::v9);
        EXPECT_TRUE(again.appliedSteps.empty());
        EXPECT_TRUE(again.warnings.empty());
    }
}

TEST(BackupMigrationPipeline, ReadsTheDeclaredVersion)
{
    const std::pair<std::string, BackupSchemaVersion> cases[] = {
        { "", BackupSchemaVersion::unversioned },
        { R"("dataVersion":null,)", BackupSchemaVersion::unversioned },
        { R"("dataVersion":0,)", BackupSchemaVersion::unversioned },
        { R"("dataVersion":0.0,)", BackupSchemaVersion::unversioned },
        { R"("dataVersion":5,)", BackupSchemaVersion::v5 },
        { R"("dataVersion":9.0,)", BackupSchemaVersion::v9 },
    };
    for (const auto& [member, version] : cases) {
        SCOPED_TRACE(member);
        const BackupMigrationResult result = BackupMigrationPipeline::migrate(minimalDocument(member));
        EXPECT_EQ(result.sourceVersion, version);
        EXPECT_EQ(result.appliedSteps,
            version == BackupSchemaVersion::unversioned ? allStepLabels
                                                        : stepsFrom(static_cast<std::size_t>(rawValue(version)) - 1));
        EXPECT_EQ(result.envelope.dataVersion, 9);
    }
}

TEST(BackupMigrationPipeline, RefusesDocumentsItCannotRead)
{
    const std::string tooDeep = R"({"type":"sync_data","extra":)" + std::string(300, '[') + std::string(300, ']') + "}";
    const std::pair<std::string, std::string> cases[] = {
        { "", "Backup is not valid JSON: The file is empty" },
        { R"({"type":"sync_data",})", "Backup is not valid JSON (line 1, column 21)" },
        { "{\n  \"type\": \"sync_data\",\n  oops\n}", "Backup is not valid JSON (line 3, column 3)" },
        { "{\"type\":\"sync_data\",\"label\":\"\xC3\x28\"}", "Backup is not valid JSON (line 1, column 31)" },
        { tooDeep, "Backup is not valid JSON: The data is nested too deeply" },
        // Refused by depth alone: its syntax is never looked into, which would mean building the tree.
        { std::string(100000, '['), "Backup is not valid JSON: The data is nested too deeply" },
        { R"({"type":"sync_data","dataVersion":1e999})", "Backup is not valid JSON" },
        { "[]", "Backup root must be a JSON object" },
        { R"("sync_data")", "Backup root must be a JSON object" },
        { "{}", "Backup is not Tavrik sync data" },
        { R"({"type":5})", "Backup is not Tavrik sync data" },
        { R"({"type":"sync_state","dataVersion":9})", "Backup is not Tavrik sync data" },
        // The type is checked before the version.
        { R"({"dataVersion":1})", "Backup is not Tavrik sync data" },
        { minimalDocument(R"("dataVersion":-3,)"), "Tavrik backup schema v-3 was never supported" },
        { minimalDocument(R"("dataVersion":1e3,)"), "Tavrik backup schema v1000 requires a newer Tavrik Link" },
        { minimalDocument(R"("dataVersion":9223372036854775807,)"),
            "Tavrik backup schema v9223372036854775807 requires a newer Tavrik Link" },
        { minimalDocument(R"("dataVersion":"9",)"), "Backup dataVersion must be an integer" },
        { minimalDocument(R"("dataVersion":true,)"), "Backup dataVersion must be an integer" },
        { minimalDocument(R"("dataVersion":8.5,)"), "Backup dataVersion must be an integer" },
        { minimalDocument(R"("dataVersion":[9],)"), "Backup dataVersion must be an integer" },
        { minimalDocument(R"("dataVersion":{},)"), "Backup dataVersion must be an integer" },
        // Out of the 64-bit range: not an integer rather than a wrapped or saturated version.
        { minimalDocument(R"("dataVersion":1e300,)"), "Backup dataVersion must be an integer" },
        { minimalDocument(R"("dataVersion":9223372036854775808,)"), "Backup dataVersion must be an integer" },
        { minimalDocument(R"("dataVersion":-1e19,)"), "Backup dataVersion must be an integer" },
        { minimalDocument(R"("dataVersion":18446744073709551625,)"), "Backup dataVersion must be an integer" },
    };
    for (const auto& [document, message] : cases) {
        EXPECT_EQ(migrationErrorText(document), message) << document.substr(0, 80);
    }
}

TEST(BackupMigrationPipeline, VersionErrorsCarryTheirCaseAndNumber)
{
    const auto errorFor = [](const std::string& member) -> BackupMigrationError {
        try {
            BackupMigrationPipeline::migrate(minimalDocument(member));
        } catch (const BackupMigrationError& error) {
            return error;
        }
        return BackupMigrationError::invalid("(none)");
    };
    EXPECT_EQ(errorFor(R"("dataVersion":-3,)"), BackupMigrationError::unsupportedVersion(-3));
    EXPECT_EQ(errorFor(R"("dataVersion":12,)"), BackupMigrationError::newerVersion(12));
    EXPECT_EQ(errorFor(R"("dataVersion":12,)").version(), 12);
    EXPECT_EQ(errorFor(R"("dataVersion":"9",)"), BackupMigrationError::invalid("Backup dataVersion must be an integer"));
    EXPECT_NE(BackupMigrationError::unsupportedVersion(12), BackupMigrationError::newerVersion(12));
}

TEST(BackupMigrationPipeline, RefusesEachBrokenFixture)
{
    for (const auto& [fixture, message] : refusedFixtures) {
        const std::string document = backupFixture(fixture);
        EXPECT_EQ(migrationErrorText(document), message) << fixture;
    }
}

TEST(BackupMigrationPipeline, RefusesDocumentsTheSchemaStepsCannotCarry)
{
    const std::pair<std::string, std::string> cases[] = {
        // A v5 document runs the v6 check too; a null value still counts as a present key.
        { routineDocument(5, R"("subroutines":null)"),
            "Backup schema v6 uses the unsupported 'subroutines' field; expected 'timeboxes'" },
        { routineDocument(8, R"("groups":null)"), "Backup schema v8 requires timeboxes; groups require schema v9" },
        { routineDocument(8, R"("timeboxes":null)"), "Legacy timeboxes must be an array of objects" },
        { routineDocument(8, R"("timeboxes":[{"id":1,"position":0,"label":"A","timeLimitSeconds":true}])"),
            "Group timeLimitSeconds must be an integer" },
        { routineDocument(8, R"("timeboxes":[{"id":1,"position":0,"label":"A","timeLimitSeconds":60.5}])"),
            "Group timeLimitSeconds must be an integer" },
        { routineDocument(9, R"("timeboxes":[])"), "Backup schema v9 requires groups, not timeboxes" },
        { R"({"type":"sync_data","dataVersion":9,"tags":[],"schedules":[],"routines":[{}]})",
            "Backup schema v9 requires a groups array of objects" },
        { routineDocument(9, R"("groups":{})"), "Backup schema v9 requires a groups array of objects" },
        { routineDocument(9, R"("groups":[{"id":1,"position":0,"label":"A","timeLimitSeconds":60}])"),
            "Group mode must be timebox or rotation" },
        { routineDocument(9, R"("groups":[{"id":1,"position":0,"label":"A","mode":"Timebox","timeLimitSeconds":60}])"),
            "Group mode must be timebox or rotation" },
        // An unversioned document reaches the legacy migration too.
        { R"({"type":"sync_data","routines":[{"id":4,"label":"A"},{"id":0,"label":"B"}]})",
            "Backup could not be decoded as schema v2: Legacy routines contain an invalid or repeated id" },
        // Rules of the current envelope run at the end of every migration.
        { R"({"type":"sync_data","dataVersion":9,"schedules":[],"routines":[],
              "tags":[{"id":4,"uid":"A","name":"A"},{"id":4,"uid":"B","name":"B"}]})",
            "Backup contains invalid or repeated tag ids" },
    };
    for (const auto& [document, message] : cases) {
        EXPECT_EQ(migrationErrorText(document), message) << document;
    }
}

TEST(BackupMigrationPipeline, ReportsDecodingFailuresWithTheSchemaTheyHappenedIn)
{
    const std::pair<std::string, std::string> cases[] = {
        // A non-list "routines" passes every step; the typed decoding refuses it.
        { R"({"type":"sync_data","dataVersion":5,"tags":[],"schedules":[],"routines":{"id":1}})",
            "Backup could not be decoded as schema v9: " },
        { R"({"type":"sync_data","dataVersion":9,"routines":[],"schedules":[]})",
            "Backup could not be decoded as schema v9: " },
        { routineDocument(9, R"("groups":[],"steps":[{"id":1,"position":0,"tagId":"1"}])"),
            "Backup could not be decoded as schema v9: " },
        { R"({"type":"sync_data","dataVersion":2,"tags":{}})", "Backup could not be decoded as schema v2: " },
        { R"({"type":"sync_data","schedules":[{"id":1,"hour":7,"minute":0,"enabled":"yes"}]})",
            "Backup could not be decoded as schema v2: " },
    };
    for (const auto& [document, prefix] : cases) {
        const std::string message = migrationErrorText(document);
        EXPECT_EQ(message.rfind(prefix, 0), 0u) << message;
        EXPECT_GT(message.size(), prefix.size()) << "the decoder's own description follows";
    }
}

TEST(BackupMigrationPipeline, PassesStoreSnapshotErrorsThroughUnchanged)
{
    const std::string document = R"({"type":"sync_data","dataVersion":9,"tags":[],"routines":[],"schedules":[],
        "storeSnapshot":{"schemaVersion":2,"entries":[]}})";
    EXPECT_THROW(BackupMigrationPipeline::migrate(document), SyncImportError);
}

TEST(BackupMigrationPipeline, LeavesMembersOutsideTheRoutinesAlone)
{
    // A v3 document that already names its hardware keeps it; the other steps only touch routines.
    const BackupMigrationResult result = BackupMigrationPipeline::migrate(
        R"({"type":"sync_data","dataVersion":3,"hardwareTarget":"t-embed-cc1101","firmwareVersion":"1.0",
            "tags":[],"routines":[],"schedules":[]})");
    EXPECT_EQ(result.envelope.hardwareTarget, "t-embed-cc1101");
    EXPECT_EQ(result.envelope.firmwareVersion, "1.0");
}

TEST(BackupMigrationPipeline, EncodesWithSortedKeys)
{
    const BackupMigrationResult result = BackupMigrationPipeline::migrate(backupFixture("v9.json"));

    const std::string pretty = stringFromData(BackupMigrationPipeline::encodeCurrent(result.envelope, true));
    EXPECT_EQ(pretty.rfind("{\n  \"clock\": {", 0), 0u) << pretty.substr(0, 40);
    EXPECT_LT(pretty.find("\"startTagIds\""), pretty.find("\"steps\""));
    EXPECT_LT(pretty.find("\n  \"schedules\""), pretty.find("\n  \"settings\""));
    EXPECT_LT(pretty.find("\n  \"tags\""), pretty.find("\n  \"type\""));

    const std::string compact = stringFromData(BackupMigrationPipeline::encodeCurrent(result.envelope, false));
    EXPECT_EQ(compact.find('\n'), std::string::npos);
    EXPECT_EQ(compact.rfind(R"({"clock":{"day":14,"hour":9,"message":"synced",)", 0), 0u) << compact.substr(0, 60);
    EXPECT_EQ(nlohmann::json::parse(compact), nlohmann::json::parse(pretty));
}

TEST(BackupMigrationPipeline, EncodesNothingForAnEnvelopeThatBreaksARule)
{
    SyncDataEnvelope envelope = BackupMigrationPipeline::migrate(backupFixture("v9.json")).envelope;
    envelope.dataVersion = 8;
    EXPECT_EQ(migrationErrorText([&] { BackupMigrationPipeline::encodeCurrent(envelope, true); }),
        "Backup migration pipeline is not aligned with the current schema");
    envelope.dataVersion.reset();
    EXPECT_EQ(migrationErrorText([&] { BackupMigrationPipeline::encodeCurrent(envelope, false); }),
        "Backup migration pipeline is not aligned with the current schema");

    // A name that is not UTF-8 is refused, not written with replacement characters, and the error is
    // an ordinary runtime error that callers show like any other.
    envelope.dataVersion = 9;
    envelope.tags[0].name = "Hall\xC3";
    try {
        BackupMigrationPipeline::encodeCurrent(envelope, true);
        ADD_FAILURE() << "wrote a name that is not UTF-8";
    } catch (const BackupMigrationError& error) {
        ADD_FAILURE() << "not a migration refusal: " << error.what();
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "The data couldn\u2019t be written because it isn\u2019t in the correct format.");
    }
}

TEST(BackupSchemaVersion, RawValues)
{
    EXPECT_EQ(supportedSourceVersions(), (std::vector<int> { 0, 2, 3, 4, 5, 6, 7, 8, 9 }));
    EXPECT_EQ(currentBackupSchemaVersion, BackupSchemaVersion::v9);
    for (const BackupSchemaVersion version : allBackupSchemaVersions()) {
        EXPECT_EQ(backupSchemaVersionFromRawValue(rawValue(version)), version);
    }
    for (const std::int64_t raw : { -1, 1, 10 }) {
        EXPECT_EQ(backupSchemaVersionFromRawValue(raw), std::nullopt) << raw;
    }
}

// Keys the schema does not know are left out, however many one object holds; a parser whose cost
// grows with the square of an object's keys would take minutes here.
TEST(BackupMigrationPipeline, AnObjectOfManyKeysMigratesLikeTheDocumentWithoutThem)
{
    struct Case {
        const char* label;
        const char* fixture;
        const char* objectStart;
        bool repeated;
    };
    const Case cases[] = {
        { "root", "v9.json", "{", false },
        { "one key repeated in the root", "v9.json", "{", true },
        { "settings", "v9.json", "{ \"killSwitchUid\"", false },
        { "a step of a legacy routine", "v2-keyed.json", "{ \"id\": 0, \"position\": 0", false },
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.label);
        const std::string plain = backupFixture(testCase.fixture);
        const std::string crowded
            = test::withMembers(plain, testCase.objectStart, test::manyMembers(200'000, testCase.repeated));
        ASSERT_FALSE(crowded.empty());
        EXPECT_EQ(BackupMigrationPipeline::migrate(crowded), BackupMigrationPipeline::migrate(plain));
    }
}

} // namespace
} // namespace tavrik
