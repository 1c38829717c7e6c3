#include "BackupTestSupport.hpp"

#include "TavrikCore/Backup/SyncDataRoutineReader.hpp"

#include <gtest/gtest.h>

#include <exception>
#include <optional>
#include <string>

namespace tavrik {
namespace {

using test::backupFixture;

// What the whole-document road gives, or its error text.
std::string wholeRoad(const std::string& text, std::optional<BackupMigrationResult>& result)
{
    try {
        result = BackupMigrationPipeline::migrate(text);
    } catch (const std::exception& error) {
        return error.what();
    }
    return {};
}

TEST(SyncDataRoutineReaderTests, CurrentDocumentsReadAsTheWholeRoadReadsThemAndOlderOnesAreLeftToIt)
{
    const struct {
        const char* fixture;
        bool readInPieces;
    } cases[] = {
        { "v9.json", true },
        { "v9-group-mode.json", true },
        { "v9-group-time-limit.json", true },
        { "v9-start-tag-twice.json", true },
        { "v9-timeboxes.json", true },
        { "v9-without-groups.json", true },
        // Its fault lies outside the routines, where only the whole road reads.
        { "v9-undecodable.json", false },
        { "v8.json", false },
        { "v2-keyed.json", false },
        { "unversioned.json", false },
        { "v10.json", false },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.fixture);
        const std::string text = backupFixture(test.fixture);
        std::optional<BackupMigrationResult> expected;
        const std::string expectedError = wholeRoad(text, expected);

        std::optional<SyncDataRoutineReader> reader = SyncDataRoutineReader::start(text);
        if (!test.readInPieces) {
            EXPECT_FALSE(reader);
            continue;
        }
        ASSERT_TRUE(reader);
        EXPECT_FALSE(SyncDataRoutineReader::start(text, reader->routineCount() + 1)) << "fewer routines than asked";
        std::optional<BackupMigrationResult> read;
        try {
            while (reader->readNextRoutine()) { }
            EXPECT_EQ(reader->routinesRead(), reader->routineCount());
            read = reader->finish();
        } catch (const std::exception&) {
        }
        // A document the whole road refuses is refused here too; one it reads, reads the same.
        EXPECT_EQ(read.has_value(), expectedError.empty()) << expectedError;
        if (read && expected) {
            EXPECT_EQ(*read, *expected);
        }
    }
}

} // namespace
} // namespace tavrik
