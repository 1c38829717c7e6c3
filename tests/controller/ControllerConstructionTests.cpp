#include "tests/controller/ControllerTestSupport.hpp"

#include "TavrikCore/Firmware/FirmwareCatalogDecoder.hpp"
#include "TavrikLink/Support/AppVersion.hpp"

#include <QSignalSpy>

namespace tavrik::test {
namespace {

TEST_F(ControllerTest, FreshControllerStartsIdle)
{
    makeController();
    EXPECT_EQ(controller->statusText(), "Bluetooth idle");
    EXPECT_FALSE(probe().targetPeripheral());
    EXPECT_FALSE(probe().activeBleProfile());
    EXPECT_EQ(controller->syncStage(), SyncStage::idle());
    EXPECT_EQ(controller->tagScanState(), TagScanState::idle());
    EXPECT_EQ(controller->deviceHardwareTarget(), FirmwareHardwareTarget::m5StickC);
    EXPECT_EQ(controller->localLink().nextMessageId(), 50000);
    EXPECT_TRUE(Uuid::parse(controller->localLink().client()));
    EXPECT_EQ(controller->firmwareSourceDescription(), "Published HTTPS");
    EXPECT_EQ(controller->firmwareChannelDescription(), "stable");
    EXPECT_EQ(controller->firmwareManifestDescription(), FirmwareCatalogDecoder::publishedChannelURL().absoluteString());
    EXPECT_EQ(controller->appVersion(), tavrikAppVersion());
    EXPECT_EQ(controller->firmwareUpload().status().message, "Checking for firmware updates.");
    EXPECT_FALSE(controller->muteNonAlarmSounds());
    EXPECT_FALSE(controller->localLink().isPolling());
    EXPECT_EQ(controller->localLink().directory(), "/nonexistent/local-link");
    EXPECT_EQ(probe().nextLocalScheduleId(), 1u);
    EXPECT_EQ(probe().nextLocalTagId(), 1u);
    EXPECT_EQ(probe().nextLocalRoutineId(), 1u);
    EXPECT_TRUE(controller->logItems().empty());
    // Nothing scans until some work wants a device.
    settle();
    EXPECT_EQ(central.scanCount, 0);
}

TEST_F(ControllerTest, MuteSettingStartsFromTheUserDefaults)
{
    defaults.setBool(muteNonAlarmSoundsDefaultsKey, true);
    EXPECT_TRUE(makeController().muteNonAlarmSounds());
}

TEST_F(ControllerTest, ChangeSignalsFireOnlyOnRealChanges)
{
    makeController();
    QSignalSpy status(controller.get(), &TavrikBleCentral::statusTextChanged);
    probe().updateStatus("Bluetooth idle");
    EXPECT_EQ(status.count(), 0);
    probe().updateStatus("Scanning\u2026");
    probe().updateStatus("Scanning\u2026");
    EXPECT_EQ(status.count(), 1);

    QSignalSpy stage(controller.get(), &TavrikBleCentral::syncStageChanged);
    probe().sendSyncStart();
    probe().sendSyncStart();
    EXPECT_EQ(stage.count(), 1);
}

TEST_F(ControllerTest, UploadServiceChangesAreForwarded)
{
    makeController();
    QSignalSpy forwarded(controller.get(), &TavrikBleCentral::firmwareUploadChanged);
    controller->firmwareUpload().setFirmwareStatus(FirmwareUploadStatus::Phase::failed, "x");
    EXPECT_EQ(forwarded.count(), 1);
}

TEST_F(ControllerTest, DataChannelLinesReachTheLogWithDuplicates)
{
    makeController();
    probe().dataService().sendCommand("tag", "scan");
    probe().dataService().sendCommand("tag", "scan");
    const auto texts = logTexts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), std::string("[ble:data] send skipped (no peripheral)")), 2);
}

} // namespace
} // namespace tavrik::test
