#include "TavrikCore/Firmware/FirmwareManifestError.hpp"
#include "tests/controller/ControllerFirmwareFixture.hpp"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

namespace tavrik::test {
namespace {

using Phase = FirmwareUploadStatus::Phase;

TEST_F(ControllerFirmwareTest, LookupOverHttpOffersTheBoardsImageAndRaisesTheNotice)
{
    const Url channel = publish({});
    addDevice();
    loadFromDevice();
    controller->setFirmwareChannelURL(channel);
    controller->refreshFirmwareAvailability();

    EXPECT_EQ(uploadStatus(), (FirmwareUploadStatus { Phase::checking, "Checking published firmware...", 0, 0 }));
    EXPECT_EQ(controller->firmwareSourceDescription(), "Published HTTPS");
    EXPECT_EQ(controller->firmwareChannelDescription(), "stable");
    EXPECT_EQ(controller->firmwareManifestDescription(), "/channels/stable.json");
    EXPECT_FALSE(controller->availableFirmwareAsset());

    ASSERT_TRUE(waitFor([&] { return lookupFinished(); }));
    EXPECT_EQ(controller->firmwareManifestDescription(), "/releases/1.5.0.json");
    EXPECT_EQ(controller->firmwareAvailableVersion(), "1.5.0");
    ASSERT_TRUE(controller->availableFirmwareAsset());
    EXPECT_EQ(controller->availableFirmwareAsset()->target, FirmwareHardwareTarget::m5StickS3);
    EXPECT_EQ(controller->availableFirmwareAsset()->url, url(server.url("/releases/tavrik-m5stick-s3.bin")));
    EXPECT_EQ(uploadStatus(),
        (FirmwareUploadStatus { Phase::idle,
            "Firmware 1.5.0 is available from Published HTTPS for m5stick-s3. Tavrik is currently on 1.4.0.", 0,
            image.size() }));
    ASSERT_TRUE(controller->firmwareUpdateNotice());
    EXPECT_EQ(controller->firmwareUpdateNotice()->version, "1.5.0");
    EXPECT_EQ(controller->firmwareUpdateNotice()->message,
        "Firmware 1.5.0 is available for Tavrik. Current firmware: 1.4.0.");

    // Every raise is a new notice, so the window shows it again.
    const Uuid first = controller->firmwareUpdateNotice()->id;
    probe().updateFirmwareNoticeIfNeeded();
    ASSERT_TRUE(controller->firmwareUpdateNotice());
    EXPECT_NE(controller->firmwareUpdateNotice()->id, first);

    controller->dismissFirmwareUpdateNotice();
    EXPECT_FALSE(controller->firmwareUpdateNotice());
}

TEST_F(ControllerFirmwareTest, StatusLineAndNoticeFollowTheInstalledVersion)
{
    const std::string app = makeController().appVersion();
    struct Case {
        std::optional<std::string> installed;
        Release release;
        std::string status;
        bool notice;
    };
    const std::vector<Case> cases {
        { "1.9.2", { .version = "1.10.0" },
            "Firmware 1.10.0 is available from Published HTTPS for m5stick-s3. Tavrik is currently on 1.9.2.", true },
        { " DEV-1.2 ", { .version = "1.10.0" },
            "Tavrik is running development firmware  DEV-1.2  for m5stick-s3. Unsolicited update prompts are disabled.",
            false },
        { "1.3-dev\n", { .version = "1.10.0" },
            "Tavrik is running development firmware 1.3-dev\n for m5stick-s3. Unsolicited update prompts are disabled.",
            false },
        { "1.2.0", { .version = "1.2.0" }, "Tavrik is already on firmware 1.2.0 for m5stick-s3.", false },
        { "2.0.0", { .version = "1.2.0" }, "Tavrik is already on firmware 2.0.0 for m5stick-s3.", false },
        { std::nullopt, { .version = "1.2.0" },
            "Firmware 1.2.0 is available from Published HTTPS for m5stick-s3. Connect Tavrik to compare installed "
            "firmware.",
            false },
        { "1.0.0", { .version = "1.2.0", .minimumTavrikLinkVersion = "999999" },
            "Firmware 1.2.0 needs Tavrik Link 999999 or newer for Bluetooth installation.", false },
        { "1.0.0", { .version = "1.2.0", .maximumTavrikLinkVersion = "0" },
            "Firmware 1.2.0 is not marked compatible with Tavrik Link newer than 0.", false },
        // Equal versions pass both bounds.
        { "1.0.0", { .version = "1.2.0", .minimumTavrikLinkVersion = app, .maximumTavrikLinkVersion = app },
            "Firmware 1.2.0 is available from Published HTTPS for m5stick-s3. Tavrik is currently on 1.0.0.", true },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.status);
        controller.reset();
        loadAndLookUp(publish(test.release), test.installed);
        EXPECT_EQ(controller->deviceFirmwareVersion(), test.installed);
        EXPECT_EQ(uploadStatus(), (FirmwareUploadStatus { Phase::idle, test.status, 0, image.size() }));
        EXPECT_EQ(controller->firmwareUpdateNotice().has_value(), test.notice);
        ASSERT_TRUE(controller->availableFirmwareAsset());
        EXPECT_EQ(probe().firmwareStatusMessage(*controller->availableFirmwareAsset()), test.status);
    }
}

TEST_F(ControllerFirmwareTest, LocalBuildsAreComparedButNeverAnnounced)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const Data bytes(image.begin(), image.end());
    const Json release = { { "version", "9.0.0" },
        { "binaryAssets",
            { { "m5stick-s3",
                { { "url", "tavrik.bin" }, { "sizeBytes", image.size() },
                    { "sha256", FirmwareIntegrity::sha256(bytes) } } } } } };
    const auto write = [&](const QString& name, const QByteArray& content) {
        QFile file(QDir(folder.path()).filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    };
    write("release.json", QByteArray::fromStdString(release.dump()));
    write("dev.json", R"({"channel":"dev","manifestUrl":"release.json"})");
    write("tavrik.bin", image);
    const Url channel = url(QUrl::fromLocalFile(QDir(folder.path()).filePath("dev.json")).toString());

    addDevice();
    loadFromDevice();
    controller->setFirmwareChannelURL(channel);
    controller->refreshFirmwareAvailability();
    EXPECT_EQ(uploadStatus().message, "Checking local firmware...");
    EXPECT_EQ(controller->firmwareSourceDescription(), "Local builds");
    EXPECT_EQ(controller->firmwareChannelDescription(), "dev");
    EXPECT_EQ(controller->firmwareManifestDescription(), channel.path());

    ASSERT_TRUE(waitFor([&] { return lookupFinished(); }));
    EXPECT_EQ(controller->firmwareManifestDescription(), QDir(folder.path()).filePath("release.json").toStdString());
    EXPECT_EQ(uploadStatus().message,
        "Firmware 9.0.0 is available from Local builds for m5stick-s3. Tavrik is currently on 1.4.0.");
    EXPECT_FALSE(controller->firmwareUpdateNotice());
}

TEST_F(ControllerFirmwareTest, FailedLookupsClearTheOfferAndSayWhy)
{
    // The server does not know the channel.
    loadAndLookUp(url(server.url("/channels/missing.json")));
    EXPECT_EQ(uploadStatus(),
        (FirmwareUploadStatus { Phase::failed,
            "Firmware lookup failed: Firmware server returned HTTP 404 for "
                + server.url("/channels/missing.json").toStdString(),
            0, 0 }));
    EXPECT_FALSE(controller->availableFirmwareAsset());
    EXPECT_FALSE(controller->firmwareUpdateNotice());
    EXPECT_EQ(controller->firmwareManifestDescription(), "/channels/missing.json");

    // The release has no image for this board: the catalog and its version stay, the offer goes.
    controller.reset();
    loadAndLookUp(publish({ .version = "1.5.0", .targets = { "m5stick-c" } }));
    const std::string missing
        = FirmwareManifestError::missingTarget("m5stick-s3", url(server.url("/releases/1.5.0.json"))).what();
    EXPECT_EQ(uploadStatus(), (FirmwareUploadStatus { Phase::failed, "Firmware lookup failed: " + missing, 0, 0 }));
    EXPECT_FALSE(controller->availableFirmwareAsset());
    EXPECT_FALSE(controller->firmwareUpdateNotice());
    EXPECT_EQ(controller->firmwareAvailableVersion(), "1.5.0");
    EXPECT_EQ(controller->firmwareManifestDescription(), "/releases/1.5.0.json");

    // Choosing from the kept catalog reports the description alone.
    probe().selectFirmwareAssetForConnectedTarget();
    EXPECT_EQ(uploadStatus(), (FirmwareUploadStatus { Phase::failed, missing, 0, 0 }));
}

TEST_F(ControllerFirmwareTest, ANewerLookupSupersedesOneStillLoading)
{
    server.route("/channels/slow.json", { 200, {}, {}, LoopbackHttpServer::Response::Mode::stall });
    const Url fast = publish({ .version = "1.6.0" });
    addDevice();
    loadFromDevice();
    controller->setFirmwareChannelURL(url(server.url("/channels/slow.json")));
    controller->refreshFirmwareAvailability();
    ASSERT_TRUE(waitFor([&] { return server.requests().size() == 1; }));

    controller->setFirmwareChannelURL(fast);
    controller->refreshFirmwareAvailability();
    ASSERT_TRUE(waitFor([&] { return lookupFinished(); }));
    EXPECT_EQ(controller->firmwareAvailableVersion(), "1.6.0");
    const FirmwareUploadStatus settled = uploadStatus();

    // Long after the slow server would have timed out, nothing of the first lookup shows.
    scheduler.advance(std::chrono::minutes(5));
    QCoreApplication::processEvents();
    settle();
    EXPECT_EQ(uploadStatus(), settled);
    EXPECT_EQ(controller->firmwareAvailableVersion(), "1.6.0");
    EXPECT_TRUE(controller->availableFirmwareAsset());
}

TEST_F(ControllerFirmwareTest, TheGoneBoardsOfferEndsWithItsData)
{
    using namespace std::chrono_literals;
    struct Road {
        std::string name;
        std::function<void()> run;
    };
    const std::vector<Road> roads {
        { "eject", [this] { controller->ejectTavrik(); } },
        { "idle minute", [this] { scheduler.advance(60s); } },
        { "link lost", [this] { central.dropLink(device->peripheral(), std::nullopt); } },
    };
    for (const Road& road : roads) {
        SCOPED_TRACE(road.name);
        controller.reset();
        loadAndLookUp(publish({}));
        ASSERT_TRUE(controller->firmwareUpdateNotice());
        ASSERT_EQ(controller->availableFirmwareAsset()->target, FirmwareHardwareTarget::m5StickS3);

        // The board leaves; a load waits for whichever board comes next.
        central.removePeripheral(device->peripheral());
        road.run();
        scheduler.advance(1s);
        ASSERT_FALSE(controller->hasLoadedData());
        ASSERT_EQ(probe().sessionMode(), SyncMode::load);

        // What is offered now is what a program that never saw a board offers.
        EXPECT_FALSE(controller->firmwareUpdateNotice());
        ASSERT_TRUE(controller->availableFirmwareAsset());
        EXPECT_EQ(controller->availableFirmwareAsset()->target, controller->deviceHardwareTarget());
        EXPECT_EQ(uploadStatus(),
            (FirmwareUploadStatus { Phase::idle,
                "Firmware 1.5.0 is available from Published HTTPS for m5stick-c. Connect Tavrik to compare installed "
                "firmware.",
                0, image.size() }));
    }
}

TEST_F(ControllerFirmwareTest, ALegacyBoardIsOfferedTheUpgradeWithoutANotice)
{
    const Url channel = publish({});
    addDevice(TavrikBleProtocolProfile::legacyUnencryptedV1).data.hardwareTarget = "m5stick-c";
    loadFromDevice();
    ASSERT_TRUE(controller->legacyFirmwareUpgradeRequired());
    controller->setFirmwareChannelURL(channel);
    controller->refreshFirmwareAvailability();
    ASSERT_TRUE(waitFor([&] { return lookupFinished(); }));
    EXPECT_EQ(uploadStatus(),
        (FirmwareUploadStatus {
            Phase::idle, "Firmware 1.5.0 is ready to upgrade this legacy Tavrik over Bluetooth.", 0, image.size() }));
    EXPECT_FALSE(controller->firmwareUpdateNotice());
}

} // namespace
} // namespace tavrik::test
