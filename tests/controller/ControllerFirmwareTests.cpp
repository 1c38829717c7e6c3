#include "tests/controller/ControllerTestSupport.hpp"

namespace tavrik::test {
namespace {

TEST_F(ControllerTest, UploadConnectsAndADroppedLinkInterruptsIt)
{
    addDevice();
    const Data image(8192, 0x5A);
    controller = std::make_unique<TavrikBleCentral>(TavrikBleCentral::Environment { central, scheduler, clock, random,
        defaults, "/none", false, [this, image](const FirmwareAsset&, FirmwareUploadService::DownloadCompletion done) {
            scheduler.schedule(std::chrono::milliseconds(0), [done, image] { done({ image, {} }); });
            return std::function<void()>();
        } });
    FirmwareAsset asset;
    asset.version = "2.0.0";
    asset.fileName = "tavrik.bin";
    asset.target = FirmwareHardwareTarget::m5StickS3;
    asset.sizeBytes = 8192;
    controller->firmwareUpload().start(asset);
    settle();

    ASSERT_TRUE(controller->firmwareUpload().isActive());
    ASSERT_TRUE(device->lastReceived("firmware_begin"));
    EXPECT_FALSE(device->lastSyncStart());
    EXPECT_TRUE(probe().firmwareCharacteristic());

    const int scans = central.scanCount;
    central.dropLink(device->peripheral(), BleError { "Link lost", 8 });
    settle();
    EXPECT_EQ(controller->firmwareUpload().status().phase, FirmwareUploadStatus::Phase::failed);
    EXPECT_EQ(controller->firmwareUpload().status().message,
        "Firmware update connection was interrupted at 0 of 8192 bytes. Activate Tavrik and try again.");
    EXPECT_EQ(controller->statusText(), "Firmware update interrupted");
    EXPECT_FALSE(controller->firmwareUpload().isActive());
    EXPECT_EQ(central.scanCount, scans);
}

TEST_F(ControllerTest, FirmwareStatusMessagesReachTheUploadService)
{
    addDevice();
    loadFromDevice();
    device->send({ { "type", "firmware_status" }, { "state", "error" }, { "message", "Flash write failed" } });
    settle();
    EXPECT_FALSE(logContains("[ble:data] unhandled payload type firmware_status"));
    EXPECT_EQ(controller->firmwareUpload().status().phase, FirmwareUploadStatus::Phase::failed);
}

} // namespace
} // namespace tavrik::test
