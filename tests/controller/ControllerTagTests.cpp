#include "tests/controller/ControllerTestSupport.hpp"

namespace tavrik::test {
namespace {

using namespace std::chrono_literals;

RoutinePayload routine(
    std::uint32_t id, std::string label, std::vector<std::string> stepTags, std::vector<std::uint32_t> startTags = {})
{
    RoutinePayload payload { id, std::move(label), {}, {}, std::move(startTags) };
    std::uint32_t stepId = 1;
    for (std::string& tag : stepTags) {
        payload.steps.push_back({ stepId, static_cast<std::int64_t>(stepId - 1), 0, std::move(tag), 30, "Step", 0 });
        ++stepId;
    }
    return payload;
}

// A loaded device with a few saved tags.
class ControllerTagTest : public ControllerTest {
protected:
    void SetUp() override
    {
        addDevice();
        device->data.tags = {
            { 3, "04 1A 22 33 44 55 66", "Kitchen" },
            { 5, "04 AA BB CC DD EE FF ", "Desk" },
            { 7, "04 01 02 03 04 05 06", "Door" },
        };
        loadFromDevice();
        ASSERT_TRUE(controller->hasLoadedData());
    }

    std::vector<std::string> commands() const { return device->receivedCommands(); }

    std::size_t keepalives() const
    {
        const std::vector<std::string> sent = commands();
        return static_cast<std::size_t>(std::count(sent.begin(), sent.end(), "tag:keepalive"));
    }

    // Lets every debounce run out and the device read what was sent.
    void flush()
    {
        scheduler.advance(TavrikBleCentral::loadTimeout);
        settle();
    }

    void sendTagMessage(const Json& message)
    {
        device->send(message);
        settle();
    }

    std::vector<std::uint32_t> ids() const
    {
        std::vector<std::uint32_t> result;
        for (const TagInfo& tag : controller->tags()) {
            result.push_back(tag.id);
        }
        return result;
    }
};

TEST_F(ControllerTagTest, CreateRefusesDuplicatesAndSendsTheNewTag)
{
    struct Case {
        std::string name;
        std::string uid;
        std::optional<std::string> error;
    };
    const std::vector<Case> refused {
        { " kitchen ", "04 99", "Tag name already exists" },
        { "KITCHEN\n", "04 99", "Tag name already exists" },
        { "Garage", " 04 1a 22 33 44 55 66\n", "Tag UID already exists" },
        { "Garage", "04 01 02 03 04 05 06", "Tag UID already exists" },
        // Stored as "04 AA BB CC DD EE FF " with a trailing blank: one tag for the device all the same.
        { "Garage", "04 aa bb cc dd ee ff", "Tag UID already exists" },
    };
    for (const Case& test : refused) {
        SCOPED_TRACE(test.name + "/" + test.uid);
        const std::vector<TagInfo> before = controller->tags();
        controller->createTag(test.name, test.uid);
        EXPECT_EQ(controller->tagError(), test.error);
        EXPECT_EQ(controller->tags(), before);
    }
    flush();
    EXPECT_TRUE(commands().empty());

    controller->createTag(" Garage \"2\"", "04 AA BB CC DD EE 00");
    EXPECT_EQ(controller->tags().back(), (TagInfo { 8, "04 AA BB CC DD EE 00", " Garage \"2\"" }));
    EXPECT_EQ(probe().nextLocalTagId(), 9u);
    // A create leaves an earlier error in place.
    EXPECT_EQ(controller->tagError(), "Tag UID already exists");
    settle();
    EXPECT_EQ(commands(),
        (std::vector<std::string> { "tag:create id=8 uid=\"04 AA BB CC DD EE 00\" name=\" Garage \\\"2\\\"\"" }));
    EXPECT_EQ(probe().baselineSnapshot()->tags, controller->tags());

    // Blank names and UIDs are not compared.
    controller->createTag("  ", "");
    controller->createTag("", " ");
    EXPECT_EQ(ids(), (std::vector<std::uint32_t> { 3, 5, 7, 8, 9, 10 }));
}

TEST_F(ControllerTagTest, RenameAndUidChangeExcludeTheTagItselfAndDebounce)
{
    controller->updateTag(3, "KITCHEN");
    controller->updateTag(3, "Kitchen 2");
    EXPECT_EQ(controller->tags()[0].name, "Kitchen 2");
    controller->updateTag(3, "desk");
    EXPECT_EQ(controller->tagError(), "Tag name already exists");
    EXPECT_EQ(controller->tags()[0].name, "Kitchen 2");

    controller->updateTagUid(5, "04 aa bb cc dd ee ff");
    controller->updateTagUid(5, "04 01 02 03 04 05 06");
    EXPECT_EQ(controller->tagError(), "Tag UID already exists");
    EXPECT_EQ(controller->tags()[1].uid, "04 aa bb cc dd ee ff");
    controller->updateTag(99, "Nowhere");

    scheduler.advance(199ms);
    settle();
    EXPECT_TRUE(commands().empty());
    flush();
    EXPECT_EQ(commands(),
        (std::vector<std::string> {
            "tag:update id=3 name=\"Kitchen 2\"", "tag:update id=5 uid=\"04 aa bb cc dd ee ff\"" }));
    EXPECT_EQ(probe().baselineSnapshot()->tags, controller->tags());
}

TEST_F(ControllerTagTest, EditThatChangesNothingSendsNothingAndKeepsTheError)
{
    controller->createTag("Door", "04 77");
    ASSERT_EQ(controller->tagError(), "Tag name already exists");
    controller->updateTag(3, "Kitchen");
    controller->updateTagUid(7, "04 01 02 03 04 05 06");
    EXPECT_EQ(controller->tagError(), "Tag name already exists");
    flush();
    EXPECT_TRUE(commands().empty());

    // A real change clears it.
    controller->updateTag(3, "Pantry");
    EXPECT_EQ(controller->tagError(), std::nullopt);
}

TEST_F(ControllerTagTest, DeleteRefusesATagThatRoutinesUse)
{
    controller.reset();
    device->data.routines = {
        routine(1, "B", {}, { 7 }),
        routine(2, "a", { "3", "7" }),
        routine(3, "Cleanup", { "5" }),
    };
    loadFromDevice();

    EXPECT_FALSE(controller->deleteTag(7));
    EXPECT_EQ(controller->tagError(),
        "Can't delete Door: it is used by routines \u201c"
        "a\u201d, \u201c"
        "B\u201d. Remove it from the routines first.");
    EXPECT_FALSE(controller->deleteTag(5));
    EXPECT_EQ(controller->tagError(),
        "Can't delete Desk: it is used by routine \u201c"
        "Cleanup\u201d. Remove it from the routine first.");
    EXPECT_FALSE(controller->deleteTag(42));
    EXPECT_EQ(controller->tags().size(), 3u);
    flush();
    EXPECT_TRUE(commands().empty());
}

TEST_F(ControllerTagTest, DeleteRemovesTheTagAndSendsAtOnce)
{
    controller->updateTag(7, "Front door");
    controller->createTag("", "04 55");
    EXPECT_TRUE(controller->deleteTag(7));
    EXPECT_EQ(ids(), (std::vector<std::uint32_t> { 3, 5, 8 }));
    EXPECT_EQ(controller->tagError(), std::nullopt);
    flush();
    // The pending rename of the deleted tag is dropped.
    EXPECT_EQ(commands(), (std::vector<std::string> { "tag:create id=8 uid=\"04 55\" name=\"\"", "tag:delete id=7" }));
    EXPECT_EQ(probe().baselineSnapshot()->tags, controller->tags());
}

TEST_F(ControllerTagTest, TagReferencesReadAsDecimalIds)
{
    const std::vector<std::pair<std::string, std::optional<std::uint32_t>>> cases {
        { "7", 7 },
        { "+7", 7 },
        { " 7\n", 7 },
        { "007", 7 },
        { "3", 3 },
        { "7a", std::nullopt },
        { "-7", std::nullopt },
        { "", std::nullopt },
        { "  ", std::nullopt },
        { "9", std::nullopt },
        { "4294967303", std::nullopt },
    };
    for (const auto& [reference, id] : cases) {
        SCOPED_TRACE(reference);
        const std::optional<TagInfo> tag = controller->tagForIdReference(reference);
        EXPECT_EQ(tag ? std::optional<std::uint32_t>(tag->id) : std::nullopt, id);
    }
}

TEST_F(ControllerTagTest, NormalisedTagsGetFreshIdsWithoutTakingKeptOnes)
{
    struct Case {
        std::string name;
        std::vector<TagInfo> tags;
        std::vector<std::uint32_t> ids;
    };
    const std::vector<Case> cases {
        { "repeated and missing ids", { { 3, "A", "a" }, { 3, "B", "b" }, { 0, "C", "c" } }, { 3, 1, 2 } },
        // The device knows both by their ids; a UID alone never renumbers a tag.
        { "same UID in other case with a blank", { { 4, "04 aa", "a" }, { 5, "04 AA ", "b" } }, { 4, 5 } },
        { "repeated id and UID", { { 4, "04 aa", "a" }, { 4, "04 aa", "a" } }, { 4, 1 } },
        // The second tag keeps its id 1, so the first does not take it.
        { "kept ids are reserved", { { 0, "A", "a" }, { 1, "B", "b" } }, { 2, 1 } },
    };
    probe().resetTagState();
    probe().updateNextLocalIds();
    ASSERT_EQ(probe().nextLocalTagId(), 1u);
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const std::vector<TagInfo> normalized = probe().normalizedTags(test.tags);
        std::vector<std::uint32_t> normalizedIds;
        for (std::size_t index = 0; index < normalized.size(); ++index) {
            normalizedIds.push_back(normalized[index].id);
            EXPECT_EQ(normalized[index].uid, test.tags[index].uid);
            EXPECT_EQ(normalized[index].name, test.tags[index].name);
        }
        EXPECT_EQ(normalizedIds, test.ids);
    }
}

TEST_F(ControllerTest, TagsWhoseUidsDifferOnlyInCaseKeepTheirIdsAcrossLoads)
{
    addDevice();
    device->data.tags = { { 1, "04 AA ", "Hall" }, { 6, "04 aa", "Porch" } };
    device->data.routines = { routine(2, "Evening", { "6" }, { 6 }) };
    loadFromDevice();
    const std::vector<TagInfo> loaded { { 1, "04 AA ", "Hall" }, { 6, "04 aa", "Porch" } };
    ASSERT_EQ(controller->tags(), loaded);

    // The same key refuses a third spelling of that UID, for a new tag and for a changed one.
    controller->createTag("Porch 2", " 04 Aa\n");
    EXPECT_EQ(controller->tagError(), "Tag UID already exists");
    controller->createTag("Garage", "04 bb");
    ASSERT_EQ(controller->tags().back(), (TagInfo { 7, "04 bb", "Garage" }));
    controller->updateTagUid(7, "04 AA");
    EXPECT_EQ(controller->tagError(), "Tag UID already exists");
    controller->updateTag(6, "Back porch");
    settle();
    scheduler.advance(200ms);
    settle();
    EXPECT_EQ(device->receivedCommands(),
        (std::vector<std::string> {
            "tag:create id=7 uid=\"04 bb\" name=\"Garage\"", "tag:update id=6 name=\"Back porch\"" }));

    // The device answers with its list; the next load shows the same ids, so routines, exports and
    // later edits still name the tags the device has.
    device->data.tags = { { 1, "04 AA ", "Hall" }, { 6, "04 aa", "Back porch" }, { 7, "04 bb", "Garage" } };
    Json list = Json::array();
    for (const TagInfo& tag : device->data.tags) {
        list.push_back(toJson(tag));
    }
    device->send({ { "type", "tags_state" }, { "tags", list } });
    settle();
    EXPECT_EQ(controller->tags(), device->data.tags);
    loadFromDevice();
    EXPECT_EQ(controller->tags(), device->data.tags);
    EXPECT_NO_THROW(controller->exportSyncData());
    controller->createTag("Shed", "04 cc");
    EXPECT_EQ(controller->tags().back().id, 8u);
}

TEST_F(ControllerTagTest, DeviceTagListReplacesTheLocalOne)
{
    controller->updateTag(3, "Pantry");
    controller->updateTag(3, "kitchen");
    controller->createTag("Kitchen", "04 99");
    ASSERT_EQ(controller->tagError(), "Tag name already exists");
    // The renames go out and their answers are past waiting for: nothing of the window's own waits.
    flush();
    sendTagMessage({ { "type", "tags_state" },
        { "tags", Json::array({ toJson(TagInfo { 9, "04 09", "Nine" }), toJson(TagInfo { 9, "04 10", "Ten" }) }) } });
    EXPECT_EQ(controller->tags(), (std::vector<TagInfo> { { 9, "04 09", "Nine" }, { 8, "04 10", "Ten" } }));
    EXPECT_EQ(controller->tagError(), std::nullopt);
    EXPECT_EQ(probe().nextLocalTagId(), 10u);
    EXPECT_EQ(probe().baselineSnapshot()->tags, controller->tags());

    // Without a list only the error is cleared.
    controller->createTag("nine", "04 77");
    sendTagMessage({ { "type", "tags_state" } });
    EXPECT_EQ(controller->tags().size(), 2u);
    EXPECT_EQ(controller->tagError(), std::nullopt);

    const std::string unknown = R"({"type":"tags_renamed"})";
    probe().handleTagPayload(Data(unknown.begin(), unknown.end()));
    EXPECT_TRUE(logContains("[ble:data] unhandled tag payload tags_renamed"));
}

TEST_F(ControllerTagTest, ScanMessagesDriveTheScanState)
{
    const std::string earlier = "Tag name already exists";
    struct Case {
        std::string name;
        Json message;
        TagScanState state;
        std::optional<std::string> error;
    };
    const std::vector<Case> cases {
        { "pending", { { "type", "scan_pending" } }, TagScanState::pending(), std::nullopt },
        { "result", { { "type", "scan_result" }, { "uid", "04 0A" } }, TagScanState::received(), std::nullopt },
        { "result without UID", { { "type", "scan_result" } }, TagScanState::failed("Scan result missing UID"), earlier },
        { "time-out", { { "type", "scan_timeout" }, { "message", "No tag seen" } }, TagScanState::failed("No tag seen"),
            "No tag seen" },
        { "time-out without text", { { "type", "scan_timeout" } }, TagScanState::failed("Kill switch scan timed out"),
            "Kill switch scan timed out" },
        { "device error", { { "type", "error" }, { "message", "Reader busy" } }, TagScanState::failed("Reader busy"),
            "Reader busy" },
        { "device error without text", { { "type", "error" } }, TagScanState::failed("Tag error"), "Tag error" },
        { "undecodable", { { "type", "scan_result" }, { "uid", 4 } }, TagScanState::failed("Invalid tag payload"),
            "Invalid tag payload" },
    };
    for (const TagScanPurpose purpose : allTagScanPurposes) {
        for (const Case& test : cases) {
            SCOPED_TRACE(test.name + (purpose == TagScanPurpose::killSwitch ? " (kill switch)" : ""));
            controller->beginTagScan(purpose);
            ASSERT_TRUE(controller->tagScanSessionActive());
            controller->createTag("Door", "04 77");
            ASSERT_EQ(controller->tagError(), earlier);
            sendTagMessage(test.message);
            EXPECT_EQ(controller->tagScanState(), test.state);
            EXPECT_EQ(controller->tagError(), test.error);
            // Failures end a kill-switch scan at once; a generic scan stays open for its view to end.
            const bool open = purpose == TagScanPurpose::generic || !test.state.isFailed();
            EXPECT_EQ(controller->tagScanSessionActive(), open);
            EXPECT_EQ(probe().tagScanPurpose(), open ? purpose : TagScanPurpose::generic);
            controller->endTagScanSession();
        }
    }
}

TEST_F(ControllerTagTest, ScanResultIsKeptUntilTheViewEndsTheSession)
{
    controller->beginTagScan(TagScanPurpose::killSwitch);
    EXPECT_EQ(controller->tagScanState(), TagScanState::requesting());
    EXPECT_FALSE(controller->tagScanCommandPending());
    sendTagMessage({ { "type", "scan_result" }, { "uid", "04 0A 0B" }, { "tagType", "NTAG215" }, { "name", "Fob" } });
    EXPECT_EQ(controller->tagScanResult(), (TagScanResult { "04 0A 0B", "NTAG215", "Fob" }));
    EXPECT_TRUE(controller->tagScanSessionActive());

    scheduler.advance(3s);
    settle();
    EXPECT_EQ(keepalives(), 1u);

    controller->endTagScanSession();
    EXPECT_EQ(controller->tagScanState(), TagScanState::idle());
    EXPECT_EQ(controller->tagScanResult(), std::nullopt);
    EXPECT_FALSE(controller->tagScanSessionActive());
    EXPECT_EQ(probe().tagScanPurpose(), TagScanPurpose::generic);
    scheduler.advance(10s);
    settle();
    EXPECT_EQ(keepalives(), 1u);
    // Loaded data keeps the connection.
    EXPECT_TRUE(controller->isConnected());
    EXPECT_EQ(central.cancelCount, 0);
}

TEST_F(ControllerTagTest, KeepaliveGoesOutEveryThreeSecondsWhileTheScanIsOpen)
{
    controller->beginTagScan(TagScanPurpose::generic);
    scheduler.advance(2999ms);
    settle();
    EXPECT_EQ(keepalives(), 0u);
    scheduler.advance(1ms);
    settle();
    EXPECT_EQ(keepalives(), 1u);
    scheduler.advance(6s);
    settle();
    EXPECT_EQ(keepalives(), 3u);

    // A new scan starts the count again.
    scheduler.advance(2s);
    controller->beginTagScan(TagScanPurpose::generic);
    scheduler.advance(2s);
    settle();
    EXPECT_EQ(keepalives(), 3u);
    scheduler.advance(1s);
    settle();
    EXPECT_EQ(keepalives(), 4u);
}

TEST_F(ControllerTagTest, RefusedKeepaliveFailsTheScanAndEndsAKillSwitchScan)
{
    for (const TagScanPurpose purpose : allTagScanPurposes) {
        SCOPED_TRACE(purpose == TagScanPurpose::killSwitch ? "kill switch" : "generic");
        device->peripheral()->maximumWriteLength = 185;
        controller->beginTagScan(purpose);
        settle();
        device->peripheral()->maximumWriteLength = 4;
        scheduler.advance(3s);
        settle();
        EXPECT_EQ(controller->tagScanState(), TagScanState::failed("Failed to send tag command"));
        EXPECT_EQ(controller->tagScanSessionActive(), purpose == TagScanPurpose::generic);
        controller->endTagScanSession();
    }
}

TEST_F(ControllerTagTest, ScanIsRefusedWhileASyncSessionRuns)
{
    device->stopAfterReady = true;
    controller->beginSession(SyncMode::load);
    settle();
    ASSERT_EQ(controller->syncStage(), SyncStage::transferring());
    controller->beginTagScan(TagScanPurpose::generic);
    EXPECT_EQ(controller->tagError(), "Finish connecting before scanning tags");
    EXPECT_FALSE(controller->tagScanSessionActive());
    EXPECT_EQ(controller->tagScanState(), TagScanState::idle());
    scheduler.advance(5s);
    settle();
    EXPECT_TRUE(commands().empty());
}

TEST_F(ControllerTest, ScanWithoutAConnectionWaitsForTheDeviceAndDropsTheLinkItMade)
{
    addDevice();
    makeController();
    controller->beginTagScan(TagScanPurpose::killSwitch);
    EXPECT_EQ(controller->tagScanState(), TagScanState::waitingForDevice());
    EXPECT_TRUE(controller->tagScanSessionActive());
    EXPECT_TRUE(controller->tagScanCommandPending());
    EXPECT_EQ(probe().tagScanPurpose(), TagScanPurpose::killSwitch);
    EXPECT_TRUE(central.isScanning());
    settle();
    EXPECT_TRUE(controller->isConnected());
    EXPECT_FALSE(controller->tagScanCommandPending());

    const int cancels = central.cancelCount;
    controller->endTagScanSession();
    EXPECT_EQ(central.cancelCount, cancels + 1);
    EXPECT_EQ(controller->tagScanState(), TagScanState::idle());
    EXPECT_FALSE(controller->tagScanSessionActive());
}

} // namespace
} // namespace tavrik::test
