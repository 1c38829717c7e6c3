#include "tests/controller/ControllerTestSupport.hpp"

namespace tavrik::test {
namespace {

SyncDataEnvelope envelopeWith(std::optional<std::string> target)
{
    SyncDataEnvelope envelope;
    envelope.dataVersion = 9;
    envelope.hardwareTarget = std::move(target);
    return envelope;
}

TEST_F(ControllerTest, UnknownHardwareTargetIsRefusedBeforeAnythingIsInstalled)
{
    FakeTavrik& tavrik = addDevice();
    tavrik.data.tags = { { 1, "01", "Kept" } };
    loadFromDevice();
    const SyncSnapshot before = probe().currentSnapshot();

    Json mystery = toJson(tavrik.data);
    mystery["hardwareTarget"] = "esp-mystery";
    mystery["tags"] = Json::array({ { { "id", 9 }, { "uid", "09" }, { "name", "New" } } });
    tavrik.send(mystery);
    settle();

    EXPECT_EQ(probe().currentSnapshot(), before);
    EXPECT_EQ(controller->tags()[0].name, "Kept");
    EXPECT_EQ(controller->deviceHardwareTarget(), FirmwareHardwareTarget::m5StickS3);
    EXPECT_EQ(controller->firmwareUpload().status().phase, FirmwareUploadStatus::Phase::failed);
    EXPECT_EQ(controller->firmwareUpload().status().message,
        "Connected Tavrik reports unsupported hardware target 'esp-mystery'.");

    SyncDataEnvelope imported = envelopeWith("esp-mystery");
    imported.schedules = { ScheduledRoutine {} };
    EXPECT_FALSE(controller->applySyncData(imported, false, std::nullopt));
    EXPECT_TRUE(controller->schedules().empty());
}

TEST_F(ControllerTest, UnknownTargetLeavesARunningLoadAlone)
{
    FakeTavrik& tavrik = addDevice();
    tavrik.syncDataJson = toJson(tavrik.data);
    (*tavrik.syncDataJson)["hardwareTarget"] = "esp-mystery";
    tavrik.stopAfterReady = true;
    loadFromDevice();
    tavrik.send(*tavrik.syncDataJson);
    settle();
    EXPECT_FALSE(controller->hasLoadedData());
    EXPECT_EQ(probe().sessionMode(), SyncMode::load);
    // It still runs under its bound: a device that sends nothing usable ends it.
    scheduler.advance(TavrikBleCentral::loadTimeout);
    EXPECT_EQ(controller->syncStage().kind(), SyncStage::Kind::failed);
    EXPECT_FALSE(probe().sessionMode());
}

TEST_F(ControllerTest, DeviceIdentityAndDataVersion)
{
    makeController();
    EXPECT_TRUE(controller->applySyncData(envelopeWith(std::nullopt), true, 8));
    EXPECT_EQ(controller->deviceHardwareTarget(), FirmwareHardwareTarget::m5StickC);
    EXPECT_EQ(controller->deviceSyncDataVersion(), 8);
    EXPECT_TRUE(controller->routineStartTagsSupported());

    EXPECT_TRUE(controller->applySyncData(envelopeWith("t-embed-cc1101"), true, 7));
    EXPECT_EQ(controller->deviceHardwareTarget(), FirmwareHardwareTarget::tEmbedCc1101);
    EXPECT_FALSE(controller->routineStartTagsSupported());

    SyncDataEnvelope fromEnvelope = envelopeWith("m5stick-c");
    fromEnvelope.dataVersion = 9;
    EXPECT_TRUE(controller->applySyncData(fromEnvelope, true, std::nullopt));
    EXPECT_EQ(controller->deviceSyncDataVersion(), 9);
    EXPECT_TRUE(controller->hasLoadedData());
    EXPECT_EQ(controller->syncStage(), SyncStage::idle());
}

TEST_F(ControllerTest, ImportTakesIdentityOnlyWhileDisconnected)
{
    addDevice();
    loadFromDevice();
    SyncDataEnvelope backup = envelopeWith("m5stick-c");
    backup.firmwareVersion = "0.9.0";
    EXPECT_TRUE(controller->applySyncData(backup, false, std::nullopt));
    EXPECT_EQ(controller->deviceHardwareTarget(), FirmwareHardwareTarget::m5StickS3);
    EXPECT_EQ(controller->deviceFirmwareVersion(), "1.4.0");
    EXPECT_EQ(controller->deviceSyncDataVersion(), 9);

    controller.reset();
    makeController();
    EXPECT_TRUE(controller->applySyncData(backup, false, std::nullopt));
    EXPECT_EQ(controller->deviceHardwareTarget(), FirmwareHardwareTarget::m5StickC);
    EXPECT_EQ(controller->deviceFirmwareVersion(), "0.9.0");
    EXPECT_FALSE(controller->deviceSyncDataVersion());
}

TEST_F(ControllerTest, TagsAreNormalisedWhenInstalled)
{
    makeController();
    SyncDataEnvelope envelope = envelopeWith("m5stick-c");
    envelope.tags
        = { { 4, "aa 01", "First" }, { 4, "BB", "Same id" }, { 6, " AA 01\n", "Same UID" }, { 0, "CC", "No id" } };
    ASSERT_TRUE(controller->applySyncData(envelope, true, 9));
    std::vector<std::uint32_t> ids;
    for (const TagInfo& tag : controller->tags()) {
        ids.push_back(tag.id);
    }
    // Only missing and repeated ids are replaced; a repeated UID keeps its tag's id.
    EXPECT_EQ(ids, (std::vector<std::uint32_t> { 4, 1, 6, 2 }));
    EXPECT_EQ(controller->tags()[2].uid, " AA 01\n");
    EXPECT_EQ(probe().nextLocalTagId(), 7u);
}

TEST_F(ControllerTest, LocalIdCountersNeverGiveZero)
{
    makeController();
    SyncDataEnvelope envelope = envelopeWith("m5stick-c");
    ScheduledRoutine top;
    top.id = 4294967295u;
    ScheduledRoutine low;
    low.id = 1;
    envelope.schedules = { top, low };
    envelope.tags = { { 4294967295u, "01", "Top" } };
    ASSERT_TRUE(controller->applySyncData(envelope, true, 9));
    EXPECT_EQ(probe().nextLocalScheduleId(), 2u);
    EXPECT_EQ(probe().nextLocalTagId(), 1u);
    EXPECT_EQ(probe().nextLocalRoutineId(), 1u);

    envelope.schedules = { low };
    envelope.tags = {};
    ASSERT_TRUE(controller->applySyncData(envelope, true, 9));
    EXPECT_EQ(probe().nextLocalScheduleId(), 2u);
    EXPECT_EQ(probe().nextLocalTagId(), 1u);
}

TEST_F(ControllerTest, SettingsAndWifiAreInstalled)
{
    makeController();
    SyncDataEnvelope envelope = envelopeWith("m5stick-c");
    envelope.settings = SyncSettingsPayload(true, std::string("04 11"));
    envelope.wifi
        = WifiCapabilityPayload { 1, 8, { { "zeta", 1, 0 }, { "Alpha", 1, 0 }, { "home", 1, 1 }, { "beta", 0, 0 } } };
    ASSERT_TRUE(controller->applySyncData(envelope, true, 9));
    EXPECT_TRUE(controller->muteNonAlarmSounds());
    EXPECT_EQ(defaults.boolValue(muteNonAlarmSoundsDefaultsKey), true);
    EXPECT_TRUE(controller->killSwitchSupported());
    EXPECT_EQ(controller->killSwitchUid(), "04 11");
    EXPECT_TRUE(controller->wifiSupported());
    EXPECT_EQ(controller->wifiCredentialCapacity(), 8);
    std::vector<std::string> order;
    for (const WifiCredentialSummary& credential : controller->savedWifiCredentials()) {
        order.push_back(credential.ssid);
    }
    EXPECT_EQ(order, (std::vector<std::string> { "home", "Alpha", "beta", "zeta" }));

    // An import never gives a kill-switch tag to a device without the feature.
    envelope.settings = SyncSettingsPayload(false, std::nullopt);
    ASSERT_TRUE(controller->applySyncData(envelope, true, 9));
    EXPECT_FALSE(controller->killSwitchSupported());
    envelope.settings = SyncSettingsPayload(false, std::string("99"));
    ASSERT_TRUE(controller->applySyncData(envelope, false, std::nullopt));
    EXPECT_EQ(controller->killSwitchUid(), "");
}

TEST_F(ControllerTest, RoutinesBecomeSummariesDetailsAndTheBaseline)
{
    makeController();
    SyncDataEnvelope envelope = envelopeWith("m5stick-c");
    RoutinePayload later { 9, "Evening", { { 1, 0, 0, "", 60, "Read", 0 } }, {}, { 4 } };
    RoutinePayload earlier { 2, "Morning", { { 3, 0, 0, "", 30, "Stretch", 1 }, { 5, 1, 0, "", 45, "Shower", 0 } },
        { { 7, 2, "Block", RoutineGroupMode::timebox, 600 } }, {} };
    envelope.routines = { later, earlier };
    ASSERT_TRUE(controller->applySyncData(envelope, true, 9));
    ASSERT_EQ(controller->routineSummaries().size(), 2u);
    EXPECT_EQ(controller->routineSummaries()[0], (RoutineSummary { 9, "Evening", 1, 0, 1 }));
    EXPECT_EQ(controller->routineSummaries()[1], (RoutineSummary { 2, "Morning", 2, 1, 0 }));
    EXPECT_EQ(controller->routineDetails().at(2).steps.size(), 2u);
    EXPECT_TRUE(controller->routineDetails().at(2).hasReceivedAllSteps);
    EXPECT_EQ(controller->routines().size(), 2u);
    EXPECT_EQ(probe().nextLocalRoutineId(), 10u);
    ASSERT_TRUE(probe().baselineSnapshot());
    EXPECT_EQ(probe().baselineSnapshot()->routines, (std::vector<RoutinePayload> { earlier, later }));
}

} // namespace
} // namespace tavrik::test
