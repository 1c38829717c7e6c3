#include "tests/session/SessionFirmwareTestSupport.hpp"

namespace tavrik::test {
namespace {

using SessionTransferStateTest = SessionFirmwareTest;

TEST_F(SessionTransferStateTest, ADisconnectDuringAnInstallationEndsItWithANotice)
{
    const std::string interrupted = "Firmware update interrupted by disconnect. Reconnect and retry.";

    offerFirmware();
    installImage();
    ASSERT_TRUE(firmwareState().at("active").get<bool>());
    ASSERT_GT(firmwareState().at("totalBytes").get<int>(), 0);
    EXPECT_EQ(dispatch("interact").error(), "") << "still answering while busy";
    EXPECT_EQ(dispatch("restore").error(), "Connect and finish loading Tavrik first");

    const SessionResponse dropped = dispatch("disconnect");
    EXPECT_EQ(dropped.state().at("disconnectNotice"), interrupted);
    EXPECT_EQ(dropped.state().at("firmware"),
        sortedJson({ { "active", false }, { "phase", "failed" }, { "message", interrupted }, { "progress", 0.0 },
            { "totalBytes", 0 }, { "bytesTransferred", 0 } }));
    EXPECT_FALSE(dropped.state().contains("firmwareAsset"));
    EXPECT_TRUE(dropped.effects().empty());

    // The image download alone also counts as an installation under way.
    offerFirmware();
    ASSERT_EQ(dispatch("firmwareInstall").effectsOfType("download").size(), 1U);
    EXPECT_TRUE(firmwareState().at("active").get<bool>());
    EXPECT_FALSE(dispatch("state").state().contains("idleSeconds"));
    EXPECT_EQ(dispatch("disconnect").state().at("disconnectNotice"), interrupted);
    EXPECT_EQ(firmwareState().at("phase"), "failed");
}

TEST_F(SessionTransferStateTest, DeviceStatusMessagesReachTheTransfer)
{
    offerFirmware();
    installImage();
    const std::vector<FirmwareChunk> chunks
        = deviceReports({ { "state", "ready" }, { "nextChunkIndex", 0 }, { "expectedBytes", 1000 } });
    EXPECT_FALSE(chunks.empty());
    EXPECT_EQ(firmwareState().at("phase"), "uploading");

    deviceReports({ { "state", "error" }, { "message", "Flash write failed" } });
    EXPECT_EQ(firmwareState().at("phase"), "failed");
    EXPECT_EQ(firmwareState().at("message"), "Flash write failed");
    EXPECT_FALSE(firmwareState().at("active").get<bool>());
}

} // namespace
} // namespace tavrik::test
