#include "tests/controller/ControllerFirmwareFixture.hpp"

#include <algorithm>

namespace tavrik::test {
namespace {

using namespace std::chrono_literals;
using Phase = FirmwareUploadStatus::Phase;

// An install on a desk: a slow download, a board that goes away, a board that cannot take an image.
class ControllerFirmwareLifeTest : public ControllerFirmwareTest {
protected:
    // The image download, held by the test: it ends when the test says so.
    FirmwareUploadService::DownloadCompletion download;
    bool downloadCancelled = false;

    // A board on 1.4.0 offered release 1.5.0, whose image is downloading.
    void startInstall()
    {
        controller = std::make_unique<TavrikBleCentral>(
            TavrikBleCentral::Environment { central, scheduler, clock, random, defaults, "/nonexistent/local-link",
                false, [this](const FirmwareAsset&, FirmwareUploadService::DownloadCompletion completion) {
                    download = std::move(completion);
                    downloadCancelled = false;
                    return [this] { downloadCancelled = true; };
                } });
        loadAndLookUp(publish({}));
        ASSERT_TRUE(controller->availableFirmwareAsset());
        controller->startFirmwareInstall();
        ASSERT_TRUE(download);
        ASSERT_EQ(uploadStatus().phase, Phase::downloading);
    }

    bool sent(const std::string& command) const
    {
        const auto all = device->receivedCommands();
        return std::find(all.begin(), all.end(), command) != all.end();
    }
};

TEST_F(ControllerFirmwareLifeTest, ADownloadHoldsTheIdleDisconnectOff)
{
    startInstall();
    scheduler.advance(90s);
    EXPECT_FALSE(sent("system:disconnect"));
    EXPECT_TRUE(controller->isConnected());
    EXPECT_EQ(uploadStatus(), (FirmwareUploadStatus { Phase::downloading, "Downloading firmware 1.5.0...", 0, 1500 }));

    // The image arrives at last and goes to the board over the same link.
    download({ Data(image.begin(), image.end()), {} });
    ASSERT_TRUE(waitFor([&] { return device->firmwareInstalled(); })) << uploadStatus().message;
}

TEST_F(ControllerFirmwareLifeTest, WhateverStopsADownloadClearsItsText)
{
    startInstall();
    central.removePeripheral(device->peripheral()); // told to go, the board stops offering the link
    controller->ejectTavrik();
    scheduler.advance(250ms);
    EXPECT_EQ(uploadStatus(), (FirmwareUploadStatus { Phase::idle, "Firmware upload canceled.", 0, 1500 }))
        << uploadStatus().message;

    // The board going away mid-download ends the install, like a transfer cut short.
    EXPECT_TRUE(downloadCancelled);
    controller.reset();
    startInstall();
    central.dropLink(device->peripheral(), std::nullopt);
    settle();
    EXPECT_TRUE(downloadCancelled);
    EXPECT_EQ(uploadStatus().phase, Phase::failed);
    EXPECT_EQ(uploadStatus().message, "Firmware update connection was interrupted. Activate Tavrik and try again.");
    EXPECT_EQ(controller->statusText(), "Firmware update interrupted");
}

TEST_F(ControllerFirmwareLifeTest, ABoardThatStopsAnsweringEndsTheUploadWithItsTextAndLetsTheLinkGo)
{
    struct Case {
        const char* road;
        // Chunks the board takes before it falls silent; none: it never answers "firmware_begin".
        std::optional<std::int64_t> chunksTaken;
        std::chrono::milliseconds bound;
        Phase waiting;
        std::string failure;
    };
    const std::vector<Case> cases {
        { "begin unanswered", std::nullopt, 30s, Phase::preparing,
            "Tavrik did not answer the firmware upload request. Reconnect and retry." },
        { "acknowledgements stop", 2, 15s, Phase::uploading, "Firmware transfer timed out. Reconnect and retry." },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.road);
        controller.reset();
        startInstall();
        if (!test.chunksTaken) {
            device->silent = true;
        }
        device->onFirmwareChunk = [this, &test](std::int64_t index) {
            if (test.chunksTaken && index + 1 >= *test.chunksTaken) {
                device->silent = true;
            }
        };
        download({ Data(image.begin(), image.end()), {} });
        settle();
        ASSERT_EQ(uploadStatus().phase, test.waiting) << uploadStatus().message;

        scheduler.advance(test.bound - 1s);
        EXPECT_EQ(uploadStatus().phase, test.waiting) << uploadStatus().message;
        scheduler.advance(1s);
        EXPECT_EQ(uploadStatus().phase, Phase::failed);
        EXPECT_EQ(uploadStatus().message, test.failure);
        EXPECT_FALSE(controller->firmwareUpload().isActive());
        EXPECT_TRUE(device->lastReceived("firmware_abort")) << "the board is told to leave its update mode";

        // Nothing holds the link any more: the idle minute lets it go.
        scheduler.advance(std::chrono::seconds(TavrikBleCentral::idleDisconnectTimeoutSeconds));
        EXPECT_TRUE(sent("system:disconnect"));
        device->silent = false;
        device->onFirmwareChunk = nullptr;
    }
}

TEST_F(ControllerFirmwareLifeTest, ABoardThatCannotTakeAnImageIsToldSoAndGetsNoNotice)
{
    const std::string unsupported
        = "Bluetooth connect is available, but this Tavrik firmware does not support OTA updates.";
    const Url channel = publish({});
    for (const bool lookUpFirst : { true, false }) {
        SCOPED_TRACE(lookUpFirst ? "release known before the load" : "release looked up after the load");
        controller.reset();
        addDevice().peripheral()->offerProfile(TavrikBleProtocolProfile::secureV2, true, false);
        makeController();
        controller->setFirmwareChannelURL(channel);
        if (lookUpFirst) {
            controller->refreshFirmwareAvailability();
            ASSERT_TRUE(waitFor([&] { return lookupFinished(); }));
        }
        loadFromDevice();
        if (!lookUpFirst) {
            controller->refreshFirmwareAvailability();
            ASSERT_TRUE(waitFor([&] { return lookupFinished(); }));
        }
        ASSERT_TRUE(controller->hasLoadedData());
        ASSERT_TRUE(controller->availableFirmwareAsset());
        EXPECT_FALSE(controller->firmwareUpdateNotice());
        EXPECT_EQ(uploadStatus().phase, Phase::idle);
        EXPECT_EQ(uploadStatus().message, unsupported);
    }
}

} // namespace
} // namespace tavrik::test
