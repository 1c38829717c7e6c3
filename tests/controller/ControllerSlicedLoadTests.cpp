#include "tests/controller/ControllerTestSupport.hpp"

#include "TavrikCore/Backup/BackupMigrationPipeline.hpp"

#include <QByteArrayView>
#include <QSignalSpy>

namespace tavrik::test {
namespace {

// Loads with more routines than one turn reads: they are read over several turns.
class ControllerSlicedLoadTest : public ControllerTest {
protected:
    static constexpr std::size_t routineCount = 3 * TavrikBleCentral::loadSlice.steps + 5;

    void SetUp() override
    {
        FakeTavrik& tavrik = addDevice();
        tavrik.data.tags = { { 1, "01", "Before" } };
        tavrik.data.routines = { { 1, "Earlier", {}, {}, {} } };
        loadFromDevice();
        ASSERT_TRUE(controller->hasLoadedData());
    }

    static Json largeData()
    {
        SyncDataEnvelope data;
        data.dataVersion = 9;
        data.tags = { { 1, "01", "Loaded" } };
        for (std::uint32_t id = 1; id <= routineCount; ++id) {
            data.routines.push_back({ id, "Routine " + std::to_string(id), { { 1, 0, 0, "1", 30, "Step", 0 } }, {}, {} });
        }
        Json message = toJson(data);
        message["type"] = "sync_data";
        return message;
    }

    static Data tagsMessage(const std::string& name)
    {
        return dumpJsonData({ { "type", "tags_state" }, { "tags", Json::array({ toJson(TagInfo { 1, "01", name }) }) } });
    }
};

TEST_F(ControllerSlicedLoadTest, TheDataLandAtOnceAndLaterMessagesFollowInOrder)
{
    QSignalSpy summaries(controller.get(), &TavrikBleCentral::routineSummariesChanged);
    probe().handleDataEnvelope(1, dumpJsonData(largeData()));
    ASSERT_TRUE(probe().isReadingLoadInSlices());
    // Two messages come while the load is read: they wait for it and then follow it in order.
    probe().handleDataEnvelope(2, tagsMessage("First after"));
    probe().handleDataEnvelope(3, tagsMessage("Second after"));
    EXPECT_EQ(controller->routineSummaries().size(), 1u);
    EXPECT_EQ(controller->tags()[0].name, "Before");
    EXPECT_EQ(summaries.count(), 0);

    settle();
    EXPECT_FALSE(probe().isReadingLoadInSlices());
    ASSERT_EQ(controller->routineSummaries().size(), routineCount);
    EXPECT_EQ(controller->routineSummaries().back().label, "Routine " + std::to_string(routineCount));
    EXPECT_EQ(controller->routineDetails().size(), routineCount);
    EXPECT_EQ(summaries.count(), 1) << "the routines appear in one change";
    EXPECT_EQ(controller->tags()[0].name, "Second after");
    EXPECT_EQ(controller->syncStage(), SyncStage::idle());
}

TEST_F(ControllerSlicedLoadTest, ADisconnectOrResetDuringTheLoadCancelsItAndWhatWaitedForIt)
{
    const struct {
        const char* what;
        std::function<void(ControllerProbe)> interrupt;
        std::size_t routinesAfter;
    } cases[] = {
        { "the link drops", [](ControllerProbe probe) { probe.handleDisconnect(std::nullopt); }, 1 },
        { "the data are reset", [](ControllerProbe probe) { probe.resetLocalData(false); }, 0 },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        SetUp();
        probe().handleDataEnvelope(1, dumpJsonData(largeData()));
        probe().handleDataEnvelope(2, tagsMessage("Held"));
        // The interruption comes between two turns of reading.
        bool interruptedWhileReading = false;
        scheduler.schedule(std::chrono::milliseconds(0), [&] {
            interruptedWhileReading = probe().isReadingLoadInSlices();
            test.interrupt(probe());
            EXPECT_FALSE(probe().isReadingLoadInSlices());
        });
        settle();
        EXPECT_TRUE(interruptedWhileReading);
        EXPECT_EQ(controller->routineSummaries().size(), test.routinesAfter);
        for (const RoutineSummary& routine : controller->routineSummaries()) {
            EXPECT_EQ(routine.label, "Earlier");
        }
        for (const TagInfo& tag : controller->tags()) {
            EXPECT_EQ(tag.name, "Before");
        }

        // The next data are read as usual.
        probe().handleDataEnvelope(3, dumpJsonData(largeData()));
        settle();
        EXPECT_EQ(controller->routineSummaries().size(), routineCount);
        EXPECT_EQ(controller->tags()[0].name, "Loaded");
    }
}

// The user edits while the arrived data are still read: the edit applies to those data, as it would
// had they been taken in at once, and the window shows what the device is sent.
TEST_F(ControllerSlicedLoadTest, AnEditMadeWhileTheDataAreReadAppliesToThemAndStays)
{
    const struct {
        const char* what;
        std::function<void(TavrikBleCentral&)> edit;
        std::function<void(const TavrikBleCentral&)> check;
        std::string command;
    } cases[] = {
        { "a tag renamed", [](TavrikBleCentral& c) { c.updateTag(1, "Edited"); },
            [](const TavrikBleCentral& c) {
                ASSERT_EQ(c.tags().size(), 1u);
                EXPECT_EQ(c.tags()[0].name, "Edited");
            },
            "tag:update id=1 name=\"Edited\"" },
        { "a routine deleted", [](TavrikBleCentral& c) { c.deleteRoutine(1); },
            [](const TavrikBleCentral& c) {
                EXPECT_EQ(c.routineSummaries().size(), routineCount - 1);
                EXPECT_FALSE(c.routineDetails().contains(1));
            },
            "routine:delete id=1" },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        SetUp();
        probe().handleDataEnvelope(1, dumpJsonData(largeData()));
        ASSERT_TRUE(probe().isReadingLoadInSlices());
        // The edit comes between two turns of reading, as a key press does.
        scheduler.schedule(std::chrono::milliseconds(0), [&] { test.edit(*controller); });
        settle();
        scheduler.advance(std::chrono::seconds(1));
        EXPECT_FALSE(probe().isReadingLoadInSlices());
        test.check(*controller);
        const auto commands = device->receivedCommands();
        EXPECT_NE(std::find(commands.begin(), commands.end(), test.command), commands.end())
            << "the device is sent the same edit";
        EXPECT_EQ(controller->routineSummaries().back().label, "Routine " + std::to_string(routineCount))
            << "the rest of the data landed";
    }
}

// A fault in a routine read in a later turn is named as the whole-message road always named it,
// and nothing of the message is taken in.
// A long message is checked as text and cut apart in the load's own turns, never in the turn that
// brought it, and ends as reading it at once would: loaded, read whole, or refused as no text.
TEST_F(ControllerSlicedLoadTest, ALongMessageIsCheckedAndCutInTheLoadsOwnTurns)
{
    constexpr std::size_t piece = 262144;
    // A long note of three-byte characters, moved so that one of them runs across the first piece's end.
    const auto longText = [](Json message) {
        std::string note;
        for (int index = 0; index < 120000; ++index) {
            note += "\xE2\x98\x95";
        }
        message["note"] = note;
        std::string text = dumpJson(message);
        while ((static_cast<std::uint8_t>(text[piece]) & 0xC0) != 0x80) {
            text.insert(0, " ");
        }
        return text;
    };
    const std::string load = longText(largeData());
    Json fewRoutines = largeData();
    fewRoutines["routines"].erase(fewRoutines["routines"].begin() + 3, fewRoutines["routines"].end());
    const std::string few = longText(fewRoutines);
    const auto changed = [](std::string text, std::size_t at, const std::string& bytes) {
        text.replace(at, bytes.size(), bytes);
        return text;
    };
    const struct {
        const char* what;
        std::string text;
        // Routines after the load; none when refused as no text.
        std::optional<std::size_t> routines;
    } cases[] = {
        { "a load", load, routineCount },
        { "a load of few routines, read whole", few, 3 },
        { "a byte that is no text at the end", load + "\xFF", std::nullopt },
        { "a run of continuation bytes across a piece's end", changed(load, piece - 2, "\x80\x80\x80\x80\x80"),
            std::nullopt },
        { "a character cut short before a piece's end", changed(load, piece - 1, "\xE2 "), std::nullopt },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        ASSERT_GT(test.text.size(), piece + 1000);
        ASSERT_EQ(QByteArrayView(test.text).isValidUtf8(), test.routines.has_value());
        const std::size_t logged = controller->logItems().size();
        probe().handleDataEnvelope(1, dataFromString(test.text));
        EXPECT_TRUE(probe().isReadingLoadInSlices());
        EXPECT_EQ(controller->logItems().size(), logged);
        probe().handleDataEnvelope(2, tagsMessage("After"));
        settle();
        EXPECT_FALSE(probe().isReadingLoadInSlices());
        if (test.routines) {
            EXPECT_EQ(controller->routineSummaries().size(), *test.routines);
        } else {
            ASSERT_GT(controller->logItems().size(), logged);
            EXPECT_EQ(controller->logItems()[logged].text, "[ble:data] binary payload not supported");
        }
        EXPECT_EQ(controller->tags()[0].name, "After") << "what came after is handled after it";
    }
}

TEST_F(ControllerSlicedLoadTest, AFaultInALateRoutineIsNamedAsBefore)
{
    const auto lateRoutine = [](const std::function<void(Json&)>& change) {
        Json message = largeData();
        change(message["routines"][routineCount - 2]);
        return dumpJson(message);
    };
    const std::string wrongType = lateRoutine([](Json& routine) { routine["label"] = 5; });
    const std::string noGroups = lateRoutine([](Json& routine) { routine.erase("groups"); });
    const std::string missingTag = lateRoutine([](Json& routine) { routine["steps"][0]["tagId"] = "7"; });
    std::string badNumber = lateRoutine([](Json& routine) { routine["steps"][0]["seconds"] = 12345; });
    badNumber.replace(badNumber.find("12345"), 5, "123x5");

    const auto migrationError = [](const std::string& text) {
        try {
            BackupMigrationPipeline::migrate(text);
        } catch (const std::exception& error) {
            return "Sync data decode failed: " + std::string(error.what());
        }
        return std::string("no fault");
    };
    const auto syntaxError = [](const std::string& text) {
        try {
            parseJson(text);
        } catch (const std::exception& error) {
            return "[ble:data] invalid JSON: " + std::string(error.what());
        }
        return std::string("no fault");
    };
    const struct {
        const char* what;
        std::string text;
        std::string log;
    } cases[] = {
        { "a field of the wrong type", wrongType, migrationError(wrongType) },
        { "a routine without groups", noGroups, migrationError(noGroups) },
        { "a step naming a missing tag", missingTag, migrationError(missingTag) },
        { "a number that is no number", badNumber, syntaxError(badNumber) },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        ASSERT_NE(test.log, "no fault");
        probe().handleDataEnvelope(1, dataFromString(test.text));
        ASSERT_TRUE(probe().isReadingLoadInSlices());
        settle();
        EXPECT_EQ(controller->logItems().back().text, test.log);
        EXPECT_EQ(controller->routineSummaries().size(), 1u);
        EXPECT_EQ(controller->tags()[0].name, "Before");
    }
}

} // namespace
} // namespace tavrik::test
