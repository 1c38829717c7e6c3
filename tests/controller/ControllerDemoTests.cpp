#include "tests/controller/ControllerTestSupport.hpp"
#include "tests/support/qt/LocalLinkSimulator.hpp"

#include <QTemporaryDir>

namespace tavrik::test {
namespace {

using namespace std::chrono_literals;

class ControllerDemoTest : public ControllerTest {
protected:
    void SetUp() override
    {
        addDevice();
        loadFromDevice();
        ASSERT_TRUE(controller->hasLoadedData());
    }
};

TEST(ReviewDemoDataTest, TheSampleDataSetIsExactlyTheBuiltInOne)
{
    const Json expected = parseJson(R"({
        "type": "sync_data", "dataVersion": 9, "firmwareVersion": "0.4.0", "hardwareTarget": "t-embed-cc1101",
        "settings": {"muteNonAlarmSounds": 0, "killSwitchUid": "04 AA BB CC DD EE FF"},
        "wifi": {"supported": 1, "capacity": 3,
                 "credentials": [{"ssid": "Demo Wi-Fi", "verified": 0, "lastSuccessful": 0}]},
        "schedules": [
            {"id": 1, "routineId": 1, "hour": 8, "minute": 30, "days": 62, "enabled": 1, "label": "Morning reset"},
            {"id": 2, "routineId": 2, "hour": 20, "minute": 0, "days": 127, "enabled": 0, "label": "Evening reset"}],
        "tags": [
            {"id": 1, "uid": "04 11 22 33 44 55 66", "name": "Start"},
            {"id": 2, "uid": "04 21 22 33 44 55 66", "name": "Coffee"},
            {"id": 3, "uid": "04 31 22 33 44 55 66", "name": "Desk"},
            {"id": 4, "uid": "04 41 22 33 44 55 66", "name": "Keys"},
            {"id": 5, "uid": "04 51 22 33 44 55 66", "name": "Bookshelf"}],
        "routines": [
            {"id": 1, "label": "Morning reset",
             "steps": [
                {"id": 1, "position": 0, "parentId": 0, "tagId": "2", "seconds": 120,
                 "instruction": "Make a cup of coffee", "unstoppable": 0},
                {"id": 2, "position": 0, "parentId": 10, "tagId": "3", "seconds": 60,
                 "instruction": "Clear your desk", "unstoppable": 0},
                {"id": 3, "position": 1, "parentId": 10, "tagId": "4", "seconds": 30,
                 "instruction": "Put your keys by the door", "unstoppable": 0}],
             "groups": [{"id": 10, "position": 1, "label": "Quick tidy", "mode": "timebox", "timeLimitSeconds": 300}],
             "startTagIds": [1]},
            {"id": 2, "label": "Evening reset",
             "steps": [
                {"id": 1, "position": 0, "parentId": 10, "tagId": "3", "seconds": 120,
                 "instruction": "Tidy your desk", "unstoppable": 0},
                {"id": 2, "position": 1, "parentId": 10, "tagId": "5", "seconds": 120,
                 "instruction": "Put away a book", "unstoppable": 0}],
             "groups": [{"id": 10, "position": 0, "label": "One small task", "mode": "rotation", "timeLimitSeconds": 0}],
             "startTagIds": []}]
    })");
    EXPECT_EQ(syncDataEnvelopeFromJson(expected), TavrikBleCentral::reviewDemoData());
    EXPECT_FALSE(TavrikBleCentral::reviewDemoData().clock.has_value());
    EXPECT_FALSE(TavrikBleCentral::reviewDemoData().storeSnapshot.has_value());
}

TEST_F(ControllerDemoTest, EnteringDropsTheDeviceAndShowsTheSampleData)
{
    const int cancelsBefore = central.cancelCount;
    controller->beginReviewDemo();
    settle();
    EXPECT_TRUE(controller->isReviewDemo());
    EXPECT_GT(central.cancelCount, cancelsBefore);
    EXPECT_FALSE(controller->isConnected());
    EXPECT_EQ(controller->statusText(), "App Review demo \u00b7 no device");
    EXPECT_EQ(logTexts(),
        (std::vector<std::string> {
            "App Review demo: sample data only. Edits stay in this session; no device is connected." }));

    EXPECT_TRUE(controller->hasLoadedData());
    ASSERT_EQ(controller->tags().size(), 5U);
    EXPECT_EQ(controller->tags()[4].name, "Bookshelf");
    ASSERT_EQ(controller->schedules().size(), 2U);
    EXPECT_TRUE(controller->schedules()[0].enabled);
    EXPECT_FALSE(controller->schedules()[1].enabled);
    ASSERT_TRUE(controller->routineDetails().contains(1));
    EXPECT_EQ(controller->routineDetails().at(1).startTagIds, (std::vector<std::uint32_t> { 1 }));
    EXPECT_EQ(controller->deviceHardwareTarget(), FirmwareHardwareTarget::tEmbedCc1101);
    EXPECT_EQ(controller->deviceFirmwareVersion(), "0.4.0");
    EXPECT_EQ(controller->killSwitchUid(), "04 AA BB CC DD EE FF");
    EXPECT_TRUE(controller->wifiSupported());
    EXPECT_EQ(controller->idleDisconnectSecondsRemaining(), std::nullopt);
    EXPECT_FALSE(controller->availableFirmwareAsset().has_value());
}

TEST_F(ControllerDemoTest, NothingReachesTheDeviceInTheDemo)
{
    controller->beginReviewDemo();
    settle();
    const std::size_t received = device->receivedTexts().size();
    const int scans = central.scanCount;

    probe().persist(AtomicCommandChannel::tag, std::uint32_t { 2 }, { "update id=2 name=\"Tea\"" }, true, "name");
    probe().persist(AtomicCommandChannel::tag, std::uint32_t { 3 }, { "delete id=3" }, false, std::nullopt);
    probe().startRoutineControl("trigger id=1");
    probe().evaluateTimeSyncNeed(DeviceClockSnapshot { 0, 2000, 1, 1, 0, 0, 0 });
    probe().sendCurrentTimeToTavrik();
    probe().startCommandConnection();
    controller->beginSession(SyncMode::load);
    scheduler.advance(5min);

    EXPECT_EQ(device->receivedTexts().size(), received);
    EXPECT_EQ(central.scanCount, scans);
    EXPECT_FALSE(controller->isConnected());
    EXPECT_FALSE(controller->timeSyncNotice().has_value());
    EXPECT_FALSE(probe().pendingClockCommand().has_value());

    // Nor later: the real load after the demo brings none of the edits and has none to report unsaved.
    controller->endReviewDemo();
    settle();
    ASSERT_TRUE(controller->hasLoadedData());
    EXPECT_TRUE(device->receivedCommands().empty());
    EXPECT_FALSE(logContains("Failed to save tag change (not sent: tag:delete id=3)"));
}

TEST_F(ControllerDemoTest, NoLocalLinkTrafficInTheDemo)
{
    QTemporaryDir temporary;
    ASSERT_TRUE(temporary.isValid());
    const std::filesystem::path directory = temporary.path().toStdString();
    LocalLinkSimulator simulator(directory);
    simulator.advertise("S1", clock.now());
    controller = std::make_unique<TavrikBleCentral>(
        TavrikBleCentral::Environment { central, scheduler, clock, random, defaults, directory, true, {} });
    controller->beginReviewDemo();
    controller->beginSession(SyncMode::load);
    probe().persist(AtomicCommandChannel::tag, std::uint32_t { 2 }, { "delete id=2" }, false, std::nullopt);
    controller->beginTagScan(TagScanPurpose::generic);
    scheduler.advance(2s);
    EXPECT_FALSE(controller->virtualTavrikConnected());
    EXPECT_TRUE(simulator.pump().empty());
    EXPECT_EQ(std::filesystem::file_size(simulator.inboundFile()), 0U);
}

TEST_F(ControllerDemoTest, EditsStayInTheSessionAndALoadBringsFreshSampleData)
{
    controller->beginReviewDemo();
    probe().persist(AtomicCommandChannel::tag, std::uint32_t { 2 }, { "update id=2 name=\"Tea\"" }, true, "name");
    // Past its debounce it still goes nowhere.
    scheduler.advance(1s);
    EXPECT_TRUE(device->receivedCommands().empty());

    // Every way back to a load re-enters the demo.
    probe().disconnectAndReturnToLoad("disconnect", "Disconnecting Bluetooth after one minute idle");
    settle();
    EXPECT_TRUE(controller->isReviewDemo());
    EXPECT_EQ(probe().sessionMode(), std::nullopt);
    EXPECT_EQ(controller->statusText(), "App Review demo \u00b7 no device");
    EXPECT_EQ(controller->tags().size(), 5U);
}

TEST_F(ControllerDemoTest, EjectLeavesTheDemoForARealLoadWithTheStoredMuteSetting)
{
    defaults.setBool(muteNonAlarmSoundsDefaultsKey, true);
    controller->beginReviewDemo();
    controller->ejectTavrik();
    EXPECT_FALSE(controller->isReviewDemo());
    EXPECT_TRUE(controller->muteNonAlarmSounds());
    EXPECT_EQ(probe().sessionMode(), SyncMode::load);
    EXPECT_EQ(controller->syncStage(), SyncStage::waitingForDevice());
    EXPECT_FALSE(controller->hasLoadedData());
    EXPECT_TRUE(controller->tags().empty());

    // Bluetooth reaches the controller again: the device in range loads.
    settle();
    EXPECT_TRUE(controller->hasLoadedData());
    EXPECT_EQ(controller->deviceHardwareTarget(), FirmwareHardwareTarget::m5StickS3);
}

TEST_F(ControllerDemoTest, LeavingWhenNotInTheDemoDoesNothing)
{
    controller->endReviewDemo();
    EXPECT_TRUE(controller->hasLoadedData());
    EXPECT_TRUE(controller->isConnected());
}

} // namespace
} // namespace tavrik::test
