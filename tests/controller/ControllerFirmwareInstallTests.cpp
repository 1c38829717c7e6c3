#include "tests/controller/ControllerFirmwareFixture.hpp"

#include <algorithm>

namespace tavrik::test {
namespace {

using Phase = FirmwareUploadStatus::Phase;

class ControllerFirmwareInstallTest : public ControllerFirmwareTest {
protected:
    // A board on 1.4.0 that has been offered release 1.5.0.
    void offerUpdate(Release release = {})
    {
        loadAndLookUp(publish(release));
        ASSERT_TRUE(controller->availableFirmwareAsset());
    }

    Data imageBytes() const { return Data(image.begin(), image.end()); }

    bool transferEnded() const
    {
        const Phase phase = uploadStatus().phase;
        return phase == Phase::completed || phase == Phase::failed || phase == Phase::idle;
    }

    std::vector<FakeBlePeripheral::Write> firmwareWrites() const
    {
        std::vector<FakeBlePeripheral::Write> found;
        for (const FakeBlePeripheral::Write& write : device->peripheral()->writes) {
            if (write.characteristic.uuid == firmwareCharacteristicUUID(TavrikBleProtocolProfile::secureV2)) {
                found.push_back(write);
            }
        }
        return found;
    }
};

TEST_F(ControllerFirmwareInstallTest, AnInstallRunsFromTheManifestToTheBoard)
{
    offerUpdate();
    ASSERT_TRUE(controller->firmwareUpdateNotice());
    std::vector<Phase> phases;
    QObject::connect(controller.get(), &TavrikBleCentral::firmwareUploadChanged, [&] {
        if (phases.empty() || phases.back() != uploadStatus().phase) {
            phases.push_back(uploadStatus().phase);
        }
    });

    controller->startFirmwareInstall();
    EXPECT_EQ(uploadStatus(),
        (FirmwareUploadStatus { Phase::downloading, "Downloading firmware 1.5.0...", 0, image.size() }));
    ASSERT_TRUE(waitFor([&] { return device->firmwareInstalled() || uploadStatus().phase == Phase::failed; }))
        << uploadStatus().message;

    EXPECT_TRUE(device->firmwareInstalled()) << uploadStatus().message;
    EXPECT_EQ(device->firmwareImage(), imageBytes());
    const std::optional<Json> begin = device->lastReceived("firmware_begin");
    ASSERT_TRUE(begin);
    EXPECT_EQ(*begin,
        (Json { { "type", "firmware_begin" }, { "version", "1.5.0" }, { "fileName", "tavrik-m5stick-s3.bin" },
            { "size", image.size() }, { "hardwareTarget", "m5stick-s3" } }));
    EXPECT_TRUE(device->lastReceived("firmware_commit"));
    // Chunks go to the firmware characteristic without response, each within the write length.
    const auto writes = firmwareWrites();
    ASSERT_FALSE(writes.empty());
    for (const FakeBlePeripheral::Write& write : writes) {
        EXPECT_EQ(write.type, BleWriteType::withoutResponse);
        EXPECT_LE(static_cast<int>(write.data.size()), device->peripheral()->maximumWriteLength);
    }
    EXPECT_EQ(static_cast<std::int64_t>(writes.size()), device->firmwareChunksReceived());

    EXPECT_EQ(phases,
        (std::vector<Phase> { Phase::downloading, Phase::waitingForDevice, Phase::preparing, Phase::uploading,
            Phase::finalizing, Phase::completed, Phase::idle }));
    // The reported version is the installed one at once; the line and the notice are worked out again.
    EXPECT_EQ(controller->deviceFirmwareVersion(), "1.5.0");
    EXPECT_FALSE(controller->firmwareUpdateNotice());
    EXPECT_EQ(uploadStatus(),
        (FirmwareUploadStatus { Phase::idle, "Tavrik is already on firmware 1.5.0 for m5stick-s3.", 0, image.size() }));
    EXPECT_FALSE(controller->firmwareUpload().isActive());
}

TEST_F(ControllerFirmwareInstallTest, ChunksFitTheLinksWriteLength)
{
    for (const int writeLength : { 20, 185, 247 }) {
        SCOPED_TRACE(writeLength);
        controller.reset();
        offerUpdate();
        device->peripheral()->maximumWriteLength = writeLength;
        controller->startFirmwareInstall();
        ASSERT_TRUE(waitFor([&] { return transferEnded(); }));
        ASSERT_TRUE(device->firmwareInstalled()) << uploadStatus().message;
        EXPECT_EQ(device->firmwareImage(), imageBytes());
        const std::int64_t capacity = writeLength - 8;
        EXPECT_EQ(device->firmwareChunksReceived(), (image.size() + capacity - 1) / capacity);
        for (const FakeBlePeripheral::Write& write : firmwareWrites()) {
            EXPECT_LE(static_cast<int>(write.data.size()), writeLength);
        }
    }
}

TEST_F(ControllerFirmwareInstallTest, ChunksWaitWhileTheLinkCannotTakeWrites)
{
    offerUpdate();
    device->peripheral()->canSendWithoutResponse = false;
    controller->startFirmwareInstall();
    ASSERT_TRUE(waitFor([&] { return uploadStatus().message == "Tavrik is ready for the firmware upload."; }))
        << uploadStatus().message;
    EXPECT_TRUE(firmwareWrites().empty());
    EXPECT_EQ(device->firmwareChunksReceived(), 0);

    device->peripheral()->canSendWithoutResponse = true;
    device->peripheral()->announceReadyToSend();
    ASSERT_TRUE(waitFor([&] { return transferEnded(); }));
    EXPECT_TRUE(device->firmwareInstalled()) << uploadStatus().message;
    EXPECT_EQ(device->firmwareImage(), imageBytes());
}

TEST_F(ControllerFirmwareInstallTest, AnInstallWithoutAConnectionFindsTheBoardFirst)
{
    addDevice().data.hardwareTarget = "m5stick-c";
    device->takesFirmware = true;
    makeController();
    controller->setFirmwareChannelURL(publish({}));
    controller->refreshFirmwareAvailability();
    ASSERT_TRUE(waitFor([&] { return lookupFinished(); }));
    ASSERT_FALSE(controller->isConnected());
    ASSERT_TRUE(controller->availableFirmwareAsset());

    const int scans = central.scanCount;
    controller->startFirmwareInstall();
    ASSERT_TRUE(waitFor([&] { return transferEnded(); })) << uploadStatus().message;
    EXPECT_GT(central.scanCount, scans);
    EXPECT_TRUE(device->firmwareInstalled()) << uploadStatus().message;
    EXPECT_EQ(device->firmwareImage(), imageBytes());
    // Only the transfer ran on that connection: no sync session was started.
    EXPECT_FALSE(device->lastSyncStart());
    EXPECT_EQ(controller->deviceFirmwareVersion(), "1.5.0");
}

TEST_F(ControllerFirmwareInstallTest, ALinkLostMidTransferEndsTheInstallWithItsProgress)
{
    offerUpdate();
    device->onFirmwareChunk = [&](std::int64_t index) {
        if (index == 5) {
            device->silent = true;
            central.dropLink(device->peripheral(), BleError { "Link lost", 8 });
        }
    };
    const int scans = central.scanCount;
    controller->startFirmwareInstall();
    ASSERT_TRUE(waitFor([&] { return uploadStatus().phase == Phase::failed; })) << uploadStatus().message;

    // Four chunks were acknowledged before the link went.
    const std::int64_t acknowledged = 4 * (device->peripheral()->maximumWriteLength - 8);
    EXPECT_EQ(uploadStatus(),
        (FirmwareUploadStatus { Phase::failed,
            "Firmware update connection was interrupted at " + std::to_string(acknowledged) + " of "
                + std::to_string(image.size()) + " bytes. Activate Tavrik and try again.",
            acknowledged, image.size() }));
    EXPECT_EQ(controller->statusText(), "Firmware update interrupted");
    EXPECT_FALSE(controller->firmwareUpload().isActive());
    EXPECT_FALSE(device->firmwareInstalled());
    EXPECT_EQ(controller->deviceFirmwareVersion(), "1.4.0");
    EXPECT_EQ(central.scanCount, scans);
}

TEST_F(ControllerFirmwareInstallTest, CancelStopsTheTransferAndTellsTheBoard)
{
    offerUpdate();
    device->onFirmwareChunk = [&](std::int64_t index) {
        if (index == 2) {
            controller->cancelFirmwareInstall();
        }
    };
    controller->startFirmwareInstall();
    ASSERT_TRUE(waitFor([&] { return device->lastReceived("firmware_abort").has_value(); }));
    settle();

    EXPECT_EQ(uploadStatus(), (FirmwareUploadStatus { Phase::idle, "Firmware upload canceled.", 0, image.size() }));
    EXPECT_FALSE(controller->firmwareUpload().isActive());
    EXPECT_FALSE(device->firmwareInstalled());
    EXPECT_FALSE(device->lastReceived("firmware_commit"));
    EXPECT_EQ(controller->deviceFirmwareVersion(), "1.4.0");
    EXPECT_LE(device->firmwareChunksReceived(), 4);

    // A cancelled install may be started again and runs to the end.
    device->onFirmwareChunk = nullptr;
    controller->startFirmwareInstall();
    ASSERT_TRUE(waitFor([&] { return device->firmwareInstalled() || uploadStatus().phase == Phase::failed; }));
    EXPECT_EQ(device->firmwareImage(), imageBytes());
}

TEST_F(ControllerFirmwareInstallTest, CancelDuringTheDownloadSendsNothingToTheBoard)
{
    offerUpdate();
    server.route("/releases/tavrik-m5stick-s3.bin", { 200, {}, {}, LoopbackHttpServer::Response::Mode::stall });
    controller->startFirmwareInstall();
    ASSERT_TRUE(waitFor([&] {
        const auto& requests = server.requests();
        return std::find(requests.begin(), requests.end(), "/releases/tavrik-m5stick-s3.bin") != requests.end();
    }));
    controller->cancelFirmwareInstall();
    EXPECT_EQ(uploadStatus(), (FirmwareUploadStatus { Phase::idle, "Firmware upload canceled.", 0, image.size() }));

    // Long after the stalled download would have timed out, nothing more happens (the user stays
    // active, so the idle disconnect does not end the connection meanwhile).
    for (int step = 0; step < 4; ++step) {
        scheduler.advance(std::chrono::seconds(40));
        controller->recordUserInteraction();
    }
    QCoreApplication::processEvents();
    settle();
    EXPECT_EQ(uploadStatus().message, "Firmware upload canceled.");
    EXPECT_FALSE(device->lastReceived("firmware_begin"));
    EXPECT_FALSE(device->lastReceived("firmware_abort"));
}

TEST_F(ControllerFirmwareInstallTest, AnImageThatDoesNotMatchItsChecksumNeverReachesTheBoard)
{
    offerUpdate({ .sha256 = std::string(64, 'a') });
    controller->startFirmwareInstall();
    ASSERT_TRUE(waitFor([&] { return uploadStatus().phase == Phase::failed; }));
    EXPECT_EQ(uploadStatus().message,
        "Failed to download firmware: Firmware checksum did not match the manifest for tavrik-m5stick-s3.bin.");
    EXPECT_FALSE(device->lastReceived("firmware_begin"));
}

TEST_F(ControllerFirmwareInstallTest, RefusalsComeInOrderWithTheirTexts)
{
    // Nothing offered yet.
    makeController();
    controller->startFirmwareInstall();
    EXPECT_EQ(uploadStatus(), (FirmwareUploadStatus { Phase::failed, "No published firmware is available.", 0, 0 }));

    // A load in progress comes before everything about the image; the bar keeps its total.
    controller.reset();
    offerUpdate({ .minimumTavrikLinkVersion = "999999" });
    device->stopAfterReady = true;
    controller->beginSession(SyncMode::load);
    settle();
    ASSERT_TRUE(probe().sessionMode());
    const std::int64_t total = uploadStatus().totalBytes;
    EXPECT_EQ(total, image.size());
    controller->startFirmwareInstall();
    EXPECT_EQ(uploadStatus(),
        (FirmwareUploadStatus {
            Phase::failed, "Finish the current Bluetooth task before uploading firmware.", 0, total }));

    // With no session, an image this version may not install is refused before any download.
    controller.reset();
    device->stopAfterReady = false;
    offerUpdate({ .minimumTavrikLinkVersion = "999999" });
    const auto requests = server.requests().size();
    controller->startFirmwareInstall();
    EXPECT_EQ(uploadStatus(),
        (FirmwareUploadStatus { Phase::failed,
            "Firmware 1.5.0 needs Tavrik Link 999999 or newer for Bluetooth installation.", 0, image.size() }));
    settle();
    EXPECT_EQ(server.requests().size(), requests);
    EXPECT_FALSE(device->lastReceived("firmware_begin"));
}

TEST_F(ControllerFirmwareInstallTest, AnImageForAGoneBoardIsNoLongerOnOffer)
{
    offerUpdate();
    ASSERT_EQ(controller->availableFirmwareAsset()->target, FirmwareHardwareTarget::m5StickS3);
    // The link drops and the load that follows stalls: the board is unknown again.
    device->stopAfterReady = true;
    central.dropLink(device->peripheral(), BleError { "Connection timed out", 6 });
    settle();
    scheduler.advance(TavrikBleCentral::loadTimeout);
    settle();
    ASSERT_FALSE(probe().sessionMode());
    ASSERT_EQ(controller->deviceHardwareTarget(), FirmwareHardwareTarget::m5StickC);

    // Install would take the image of the board the program knows of, not the gone board's.
    ASSERT_TRUE(controller->availableFirmwareAsset());
    EXPECT_EQ(controller->availableFirmwareAsset()->target, FirmwareHardwareTarget::m5StickC);
    EXPECT_EQ(controller->availableFirmwareAsset()->url, url(server.url("/releases/tavrik-m5stick-c.bin")));
    EXPECT_FALSE(controller->firmwareUpdateNotice());
}

TEST_F(ControllerFirmwareInstallTest, ABoardWithoutTheFirmwareCharacteristicIsNeverReady)
{
    // Offered again, the service replaces the first one and lacks the firmware characteristic.
    addDevice().peripheral()->offerProfile(TavrikBleProtocolProfile::secureV2, true, false);
    loadFromDevice();
    ASSERT_TRUE(controller->isConnected());
    EXPECT_FALSE(probe().firmwareCharacteristic());
    controller->setFirmwareChannelURL(publish({}));
    controller->refreshFirmwareAvailability();
    ASSERT_TRUE(waitFor([&] { return lookupFinished(); }));

    controller->startFirmwareInstall();
    ASSERT_TRUE(waitFor([&] { return uploadStatus().phase == Phase::failed; })) << uploadStatus().message;
    // The engine looked for a connection that can carry the image instead of writing anywhere.
    EXPECT_EQ(uploadStatus().message, "Firmware channel unavailable.");
    EXPECT_FALSE(controller->firmwareUpload().isActive());
    EXPECT_FALSE(device->lastReceived("firmware_begin"));
    EXPECT_TRUE(firmwareWrites().empty());
}

TEST_F(ControllerFirmwareInstallTest, StatusMessagesWithoutAnOfferArePassedOnWithSizeZero)
{
    addDevice();
    loadFromDevice();
    ASSERT_FALSE(controller->availableFirmwareAsset());
    device->send({ { "type", "firmware_status" }, { "state", "error" }, { "message", "Flash write failed" } });
    settle();
    EXPECT_EQ(uploadStatus(), (FirmwareUploadStatus { Phase::failed, "Flash write failed", 0, 0 }));
}

} // namespace
} // namespace tavrik::test
