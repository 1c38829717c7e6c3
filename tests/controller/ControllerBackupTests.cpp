#include "tests/backup/BackupTestSupport.hpp"
#include "tests/controller/ControllerTestSupport.hpp"

#include "TavrikCore/Model/SyncImportError.hpp"

namespace tavrik::test {
namespace {

Data bytes(const std::string& text)
{
    return Data(text.begin(), text.end());
}

// The text of whatever `run` throws, or a note that it threw nothing.
template <class Run>
std::string errorText(Run&& run)
{
    try {
        run();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "(nothing thrown)";
}

// A device loaded with a full current document: groups, start tags, a schedule, a kill-switch tag
// and a device-store snapshot.
class ControllerBackupTest : public ControllerTest {
protected:
    void SetUp() override
    {
        addDevice();
        device->data = BackupMigrationPipeline::migrate(backupFixture("v9.json")).envelope;
        device->data.wifi = WifiCapabilityPayload { 1, 8, { { "Home", 1, 1 } } };
        loadFromDevice();
        ASSERT_TRUE(controller->hasLoadedData());
        ASSERT_EQ(controller->deviceSyncDataVersion(), 9);
    }
};

TEST_F(ControllerBackupTest, ExportAfterLoadWritesTheLoadedDataAsCurrentSchema)
{
    const Data exported = controller->exportSyncData();
    const Json document = parseJson(exported);
    EXPECT_EQ(document["type"], "sync_data");
    EXPECT_EQ(document["dataVersion"], 9);
    EXPECT_FALSE(document.contains("wifi"));
    EXPECT_FALSE(document.contains("clock"));
    EXPECT_EQ(document["firmwareVersion"], "3.0.1");
    EXPECT_EQ(document["hardwareTarget"], "t-embed-cc1101");
    EXPECT_EQ(document["settings"], Json::parse(R"({"killSwitchUid":"04 AB CD EF 01 02 03","muteNonAlarmSounds":1})"));

    const BackupMigrationResult read = BackupMigrationPipeline::migrate(exported);
    EXPECT_TRUE(read.appliedSteps.empty());
    EXPECT_EQ(read.envelope.routines, device->data.routines);
    EXPECT_EQ(read.envelope.tags, device->data.tags);
    EXPECT_EQ(read.envelope.schedules, device->data.schedules);
    EXPECT_EQ(read.envelope.storeSnapshot, device->data.storeSnapshot);
}

TEST_F(ControllerTest, ExportLeavesOutTheKillSwitchOfADeviceWithoutOne)
{
    addDevice();
    device->data.settings = SyncSettingsPayload(false, std::nullopt);
    loadFromDevice();
    const Json document = parseJson(controller->exportSyncData());
    EXPECT_EQ(document["settings"], Json::parse(R"({"muteNonAlarmSounds":0})"));
    EXPECT_EQ(document["hardwareTarget"], "m5stick-s3");
    EXPECT_EQ(document["routines"], Json::array());
}

TEST_F(ControllerBackupTest, ExportRefusesDataThatWouldNotRestore)
{
    struct Case {
        std::string name;
        Json message;
        std::string error;
    };
    const std::vector<Case> cases {
        { "step names a deleted tag",
            { { "type", "tags_state" }, { "tags", Json::array({ toJson(TagInfo { 1, "04 10", "Hallway" }) }) } },
            "Routine 5 step 1 references missing tag id 2" },
        { "tag of a later step was deleted",
            { { "type", "tags_state" }, { "tags", Json::array({ toJson(TagInfo { 2, "04 20", "Sink" }) }) } },
            "Routine 5 step 3 references missing tag id 1" },
        { "schedule of an unknown routine",
            { { "type", "state" },
                { "schedules",
                    Json::array({ toJson(
                        ScheduledRoutine { .id = 4, .routineId = 99, .hour = 7, .days = 127, .enabled = true }) }) } },
            "Schedule 4 does not reference a routine in this export" },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        loadFromDevice();
        device->send(test.message);
        settle();
        EXPECT_EQ(errorText([&] { controller->exportSyncData(); }), test.error);
    }
}

TEST_F(ControllerBackupTest, ImportInstallsTheMigratedDataAndRestoresIt)
{
    struct Case {
        std::string file;
        std::size_t steps;
        std::size_t warnings;
    };
    const std::vector<Case> cases {
        { "unversioned.json", 8, 0 },
        { "v2-keyed.json", 7, 4 },
        { "v9.json", 0, 0 },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.file);
        loadFromDevice();
        const std::string text = backupFixture(test.file);
        const BackupMigrationResult expected = BackupMigrationPipeline::migrate(text);
        ASSERT_EQ(expected.appliedSteps.size(), test.steps);
        ASSERT_EQ(expected.warnings.size(), test.warnings);
        const std::size_t logStart = logTexts().size();

        controller->importSyncData(bytes(text));

        std::vector<std::string> lines;
        for (const std::string& step : expected.appliedSteps) {
            lines.push_back("[backup migration] " + step);
        }
        for (const std::string& warning : expected.warnings) {
            lines.push_back("[backup migration] Warning: " + warning);
        }
        lines.push_back("Imported data from file");
        const std::vector<std::string> all = logTexts();
        std::vector<std::string> added;
        for (std::size_t index = logStart; index < all.size(); ++index) {
            if (all[index].starts_with("[backup migration] ") || all[index] == "Imported data from file") {
                added.push_back(all[index]);
            }
        }
        EXPECT_EQ(added, lines);
        EXPECT_EQ(controller->backupMigrationWarnings(), expected.warnings);
        EXPECT_EQ(controller->tags(), expected.envelope.tags);
        EXPECT_EQ(controller->syncMode(), SyncMode::restore);
        // The device keeps what it reported of itself.
        EXPECT_EQ(controller->deviceSyncDataVersion(), 9);
        EXPECT_EQ(controller->deviceFirmwareVersion(), "3.0.1");
        EXPECT_EQ(controller->deviceHardwareTarget(), FirmwareHardwareTarget::tEmbedCc1101);

        settle();
        ASSERT_TRUE(device->lastRestore());
        EXPECT_EQ(device->lastRestore()->tags, expected.envelope.tags);
        EXPECT_EQ(device->lastRestore()->schedules, controller->schedules());
        EXPECT_EQ(device->lastRestore()->routines.size(), expected.envelope.routines.size());
        EXPECT_EQ(controller->syncStage(), SyncStage::completed());
        EXPECT_EQ(controller->statusText(), "Imported data saved");
    }
}

TEST_F(ControllerBackupTest, RefusedImportChangesNothing)
{
    std::string unknownTarget = backupFixture("v9.json");
    unknownTarget.replace(unknownTarget.find("t-embed-cc1101"), 14, "esp-mystery");
    struct Case {
        std::string name;
        std::string text;
        std::string error;
    };
    const std::vector<Case> cases {
        { "not JSON", "{\"type\":", "Backup is not valid JSON (line 1, column 9)" },
        { "schema v1", backupFixture("v1.json"), "Tavrik backup schema v1 was never supported" },
        { "schema v10", backupFixture("v10.json"), "Tavrik backup schema v10 requires a newer Tavrik Link" },
        // The file is at fault, not the device.
        { "unknown hardware", unknownTarget, "Backup is for unsupported hardware target 'esp-mystery'." },
        { "start tag held twice", backupFixture("v9-start-tag-twice.json"), "Start tag id " },
    };
    // A warning of an earlier import stays until the next import that gets through.
    controller->importSyncData(bytes(backupFixture("v2-keyed.json")));
    settle();
    const std::vector<std::string> warnings = controller->backupMigrationWarnings();
    ASSERT_FALSE(warnings.empty());
    // An edit still waiting out its debounce is the window's unsaved work.
    const std::uint32_t renamed = controller->tags().front().id;
    controller->updateTag(renamed, "Renamed");
    const std::vector<TagInfo> tags = controller->tags();
    const auto details = controller->routineDetails();
    const std::optional<SyncSnapshot> baseline = probe().baselineSnapshot();
    const SyncStage stage = controller->syncStage();
    const std::size_t received = device->receivedTexts().size();

    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const std::size_t logSize = logTexts().size();
        const std::string error = errorText([&] { controller->importSyncData(bytes(test.text)); });
        EXPECT_TRUE(error.starts_with(test.error)) << error;
        EXPECT_EQ(controller->tags(), tags);
        EXPECT_EQ(controller->routineDetails(), details);
        EXPECT_EQ(probe().baselineSnapshot(), baseline);
        EXPECT_EQ(controller->backupMigrationWarnings(), warnings);
        EXPECT_EQ(controller->syncMode(), std::nullopt);
        EXPECT_EQ(controller->syncStage(), stage);
        EXPECT_EQ(logTexts().size(), logSize);
        EXPECT_EQ(controller->firmwareUpload().status().phase, FirmwareUploadStatus::Phase::idle);
        EXPECT_EQ(device->receivedTexts().size(), received);
    }
    // The edit outlived every refused file: it goes out as it would have, and nothing else does.
    scheduler.advance(std::chrono::milliseconds(200));
    settle();
    EXPECT_EQ(device->receivedCommands().back(), "tag:update id=" + std::to_string(renamed) + " name=\"Renamed\"");
    EXPECT_EQ(device->receivedTexts().size(), received + 1);
}

TEST_F(ControllerBackupTest, BackupWithTagsDifferingOnlyInCaseImportsWithItsOwnIds)
{
    // Steps name tag 2, whose UID repeats tag 1's but for letter case: both keep their ids, so the
    // references hold and the device is given exactly the file's tags.
    Json document = Json::parse(backupFixture("v9.json"));
    document["tags"]
        = Json::parse(R"([{"id":1,"name":"Hallway","uid":"04 AA 10"},{"id":2,"name":"Sink","uid":"04 aa 10 "}])");
    const std::vector<TagInfo> fileTags { { 1, "04 AA 10", "Hallway" }, { 2, "04 aa 10 ", "Sink" } };

    controller->importSyncData(bytes(document.dump()));
    EXPECT_EQ(controller->tags(), fileTags);
    EXPECT_EQ(controller->syncMode(), SyncMode::restore);
    settle();
    ASSERT_TRUE(device->lastRestore());
    EXPECT_EQ(device->lastRestore()->tags, fileTags);
    EXPECT_EQ(controller->statusText(), "Imported data saved");
    EXPECT_NO_THROW(controller->exportSyncData());
}

TEST_F(ControllerBackupTest, ARestoreTheDeviceRefusesBringsTheDevicesDataBack)
{
    const std::vector<TagInfo> deviceTags = controller->tags();
    Json document = Json::parse(backupFixture("v9.json"));
    document["tags"]
        = Json::parse(R"([{"id":1,"name":"Hallway","uid":"04 AA 10"},{"id":2,"name":"Sink","uid":"04 BB"}])");
    device->answerRestore = false;
    controller->importSyncData(bytes(document.dump()));
    settle();
    ASSERT_TRUE(device->lastRestore());
    ASSERT_NE(controller->tags(), deviceTags);
    const auto starts = [&] {
        const auto all = device->receivedJson();
        return std::count_if(all.begin(), all.end(), [](const Json& m) { return m.value("type", "") == "sync_start"; });
    };
    const auto startsBefore = starts();

    device->send({ { "type", "sync_error" }, { "code", device->lastRestore()->code }, { "mode", "restore" },
        { "message", "Restore rejected" } });
    settle();
    EXPECT_TRUE(logContains("Restore refused: Restore rejected"));
    EXPECT_NE(controller->statusText(), "Restoring data");
    EXPECT_EQ(starts(), startsBefore + 1) << "the device's data are loaded again";
    EXPECT_EQ(controller->tags(), deviceTags);
    EXPECT_TRUE(controller->hasLoadedData());
    EXPECT_FALSE(controller->syncMode());
}

TEST_F(ControllerBackupTest, ImportKeepsTheDevicesWifi)
{
    const std::vector<WifiCredentialSummary> networks { { "Home", 1, 1 } };
    ASSERT_EQ(controller->savedWifiCredentials(), networks);
    // One file without Wi-Fi, as exports are, and one that names other networks.
    Json other = Json::parse(backupFixture("v9.json"));
    other["wifi"] = Json::parse(
        R"({"supported":1,"capacity":2,"credentials":[{"ssid":"Elsewhere","verified":1,"lastSuccessful":0}]})");
    const Data exported = controller->exportSyncData();
    for (const std::string& text : { std::string(exported.begin(), exported.end()), other.dump() }) {
        controller->importSyncData(bytes(text));
        settle();
        EXPECT_EQ(controller->syncStage(), SyncStage::completed());
        EXPECT_TRUE(controller->wifiSupported());
        EXPECT_EQ(controller->wifiCredentialCapacity(), 8);
        EXPECT_EQ(controller->savedWifiCredentials(), networks);
    }
}

TEST_F(ControllerTest, ImportNeedsADeviceOfDataVersionNine)
{
    const std::string text = backupFixture("unversioned.json");
    makeController();
    EXPECT_EQ(errorText([&] { controller->importSyncData(bytes(text)); }),
        "Update Tavrik firmware before restoring schema v9 backups.");

    addDevice();
    device->data.dataVersion = 8;
    loadFromDevice();
    ASSERT_EQ(controller->deviceSyncDataVersion(), 8);
    const std::vector<TagInfo> tags = controller->tags();
    EXPECT_EQ(errorText([&] { controller->importSyncData(bytes(text)); }),
        "Update Tavrik firmware before restoring schema v9 backups.");
    EXPECT_EQ(controller->tags(), tags);
    EXPECT_FALSE(logContains("[backup migration] unversioned \xE2\x86\x92 v2"));
}

} // namespace
} // namespace tavrik::test
