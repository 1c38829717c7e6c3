#include "tests/session/SessionFirmwareTestSupport.hpp"

#include <chrono>
#include <functional>

namespace tavrik::test {
namespace {

using namespace std::chrono_literals;
using SessionFirmwareInstallTest = SessionFirmwareTest;

TEST_F(SessionFirmwareInstallTest, DownloadsTheImageAndAsksTheDeviceToBegin)
{
    offerFirmware();

    const SessionResponse installing = dispatch("firmwareInstall");

    ASSERT_TRUE(installing.ok()) << installing.error();
    ASSERT_EQ(installing.effects().size(), 1U) << installing.text;
    const Json download = downloadOf(installing);
    EXPECT_EQ(download.at("url"), imageURL("m5stick-c"));
    EXPECT_EQ(download.at("limit"), 16777216);
    EXPECT_EQ(download.at("generation"), generation());
    EXPECT_EQ(firmwareState().at("phase"), "downloading");
    EXPECT_EQ(firmwareState().at("message"), "Downloading firmware 2.1.0\u2026");
    EXPECT_EQ(firmwareState().at("bytesTransferred"), 0);
    EXPECT_EQ(firmwareState().at("totalBytes"), 1000);
    EXPECT_EQ(firmwareState().at("active"), true);
    EXPECT_EQ(dispatch("saveTag", { { "name", "Hall" }, { "uid", "04 00 00 00 00 00 01" } }).error(),
        "Connect and finish loading Tavrik first");

    const SessionResponse delivered = answer(installing, image);

    ASSERT_TRUE(delivered.ok()) << delivered.error();
    EXPECT_TRUE(delivered.effectsOfType("firmwareWrite").empty());
    pump(delivered);
    EXPECT_EQ(device.lastReceived("firmware_begin"),
        Json({ { "type", "firmware_begin" }, { "version", "2.1.0" }, { "fileName", "tavrik-2.1.0-m5stick-c.bin" },
            { "size", 1000 }, { "hardwareTarget", "m5stick-c" } }));
    EXPECT_EQ(state().at("firmware").at("phase"), "preparing");
    EXPECT_EQ(state().at("firmware").at("active"), true);
}

TEST_F(SessionFirmwareInstallTest, SendsTheImageInAcknowledgedWindowsAndCommitsOnce)
{
    offerFirmware();
    installImage();
    Data received;
    const auto take = [&](const std::vector<FirmwareChunk>& chunks, std::vector<std::uint32_t> expectedIndexes) {
        std::vector<std::uint32_t> indexes;
        for (const FirmwareChunk& chunk : chunks) {
            indexes.push_back(chunk.index);
            EXPECT_EQ(chunk.offset, received.size());
            received.insert(received.end(), chunk.bytes.begin(), chunk.bytes.end());
        }
        EXPECT_EQ(indexes, expectedIndexes);
    };

    // The device asks for an acknowledgement every two chunks, so at most two are ever unacknowledged.
    const std::vector<SessionResponse> firstWindow = deviceSends(
        { { "type", "firmware_status" }, { "state", "ready" }, { "nextChunkIndex", 0 }, { "ackIntervalChunks", 2 } });
    for (const SessionResponse& response : firstWindow) {
        for (const Json& effect : response.effectsOfType("firmwareWrite")) {
            EXPECT_EQ(effect.size(), 2U) << "only \"type\" and \"payload\": " << effect.dump();
        }
    }
    take(firmwareChunks(firstWindow), { 0, 1 });
    EXPECT_EQ(firmwareState().at("phase"), "uploading");
    take(deviceReports({ { "state", "receiving" }, { "nextChunkIndex", 1 }, { "receivedBytes", 177 } }), { 2 });
    take(deviceReports({ { "state", "receiving" }, { "nextChunkIndex", 3 }, { "receivedBytes", 531 } }), { 3, 4 });
    EXPECT_DOUBLE_EQ(firmwareState().at("progress").get<double>(), 0.531);
    take(deviceReports({ { "state", "receiving" }, { "nextChunkIndex", 5 }, { "receivedBytes", 885 } }), { 5 });
    EXPECT_EQ(received, image);
    EXPECT_EQ(receivedCount("firmware_commit"), 0U);

    take(deviceReports({ { "state", "receiving" }, { "nextChunkIndex", 6 }, { "receivedBytes", 1000 } }), {});
    EXPECT_EQ(receivedCount("firmware_commit"), 1U);
    EXPECT_EQ(device.lastReceived("firmware_commit"), Json({ { "type", "firmware_commit" } }));
    EXPECT_EQ(firmwareState().at("phase"), "finalizing");
    take(deviceReports({ { "state", "receiving" }, { "nextChunkIndex", 6 }, { "receivedBytes", 1000 } }), {});
    EXPECT_EQ(receivedCount("firmware_commit"), 1U);

    take(deviceReports({ { "state", "complete" }, { "version", "2.1.0" } }), {});
    EXPECT_EQ(firmwareState().at("phase"), "completed");
    EXPECT_EQ(firmwareState().at("active"), false);
    EXPECT_EQ(firmwareState().at("progress"), 1.0);
    EXPECT_EQ(receivedCount("firmware_abort"), 0U);
}

TEST_F(SessionFirmwareInstallTest, RefusesImagesThatDoNotMatchTheManifest)
{
    struct Case {
        const char* name;
        std::function<void(Data&)> spoil;
        const char* error;
    };
    const std::vector<Case> cases {
        { "one byte more", [](Data& bytes) { bytes.push_back(0); }, "Firmware size does not match the manifest" },
        { "empty", [](Data& bytes) { bytes.clear(); }, "Firmware size does not match the manifest" },
        { "one byte changed", [](Data& bytes) { bytes[500] ^= 0x01; }, "Firmware checksum does not match the manifest" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        makeSession(true);
        offerFirmware();
        const SessionResponse installing = dispatch("firmwareInstall");
        Data spoiled = image;
        c.spoil(spoiled);

        const SessionResponse refused = answer(installing, spoiled);

        EXPECT_EQ(refused.error(), c.error);
        EXPECT_TRUE(refused.effects().empty()) << refused.text;
        EXPECT_EQ(firmwareState().at("phase"), "failed");
        EXPECT_EQ(firmwareState().at("message"), c.error);
        EXPECT_EQ(firmwareState().at("active"), false);
        EXPECT_EQ(firmwareState().at("totalBytes"), 1000) << "a refusal keeps the byte counts";
        EXPECT_EQ(answer(installing, image).error(), "Stale download result");
        EXPECT_FALSE(device.lastReceived("firmware_begin").has_value());
    }
}

TEST_F(SessionFirmwareInstallTest, RefusesAnImageForAnotherBoardThanTheLoadedOne)
{
    struct Case {
        const char* name;
        bool reloadBeforeInstall;
        std::optional<std::string> reloadedTarget;
        const char* error;
    };
    const std::vector<Case> cases {
        { "other board before install", true, "m5stick-s3", "Firmware hardware target mismatch" },
        { "other board during download", false, "m5stick-s3", "Firmware hardware target mismatch" },
        { "no board during download", false, std::nullopt, "Unknown firmware hardware target" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        makeSession(true);
        offerFirmware("m5stick-c");
        SessionResponse refused;
        if (c.reloadBeforeInstall) {
            reload(deviceData(c.reloadedTarget));
            refused = dispatch("firmwareInstall");
        } else {
            const SessionResponse installing = dispatch("firmwareInstall");
            reload(deviceData(c.reloadedTarget));
            refused = answer(installing, image);
        }

        EXPECT_EQ(refused.error(), c.error);
        EXPECT_TRUE(refused.effects().empty()) << refused.text;
        EXPECT_EQ(firmwareState().at("phase"), "failed");
        EXPECT_EQ(firmwareState().at("active"), false);
        EXPECT_FALSE(device.lastReceived("firmware_begin").has_value());
    }
}

TEST_F(SessionFirmwareInstallTest, RefusalWhileBusyLeavesTheRunningInstallationAlone)
{
    offerFirmware();
    const SessionResponse installing = dispatch("firmwareInstall");

    for (const char* action : { "firmwareInstall", "firmwareCheck" }) {
        SCOPED_TRACE(action);
        const SessionResponse refused = dispatch(action, { { "appVersion", appVersion } });
        EXPECT_EQ(refused.error(), "Connect and finish loading Tavrik first");
        EXPECT_TRUE(refused.effects().empty());
        EXPECT_EQ(firmwareState().at("phase"), "downloading");
        EXPECT_EQ(firmwareState().at("message"), "Downloading firmware 2.1.0\u2026");
        EXPECT_EQ(firmwareState().at("active"), true);
    }

    const SessionResponse delivered = answer(installing, image);
    ASSERT_TRUE(delivered.ok()) << delivered.error();
    pump(delivered);
    ASSERT_EQ(deviceReports({ { "state", "ready" }, { "nextChunkIndex", 0 }, { "ackIntervalChunks", 2 } }).size(), 2U);

    const SessionResponse refused = dispatch("firmwareInstall");
    EXPECT_EQ(refused.error(), "Connect and finish loading Tavrik first");
    EXPECT_EQ(firmwareState().at("phase"), "uploading");
    EXPECT_EQ(firmwareState().at("active"), true);
    EXPECT_EQ(deviceReports({ { "state", "receiving" }, { "nextChunkIndex", 2 } }).size(), 2U);
}

TEST_F(SessionFirmwareInstallTest, CancelAbortsARunningTransfer)
{
    offerFirmware();
    installImage();
    deviceReports({ { "state", "ready" }, { "nextChunkIndex", 0 }, { "ackIntervalChunks", 2 } });

    const SessionResponse cancelled = dispatch("firmwareCancel");

    ASSERT_TRUE(cancelled.ok()) << cancelled.error();
    ASSERT_FALSE(cancelled.effects().empty());
    EXPECT_EQ(cancelled.effects().front(), Json({ { "type", "clearFirmwareWrites" } }));
    EXPECT_FALSE(cancelled.effectsOfType("write").empty());
    pump(cancelled);
    EXPECT_EQ(device.lastReceived("firmware_abort"), Json({ { "type", "firmware_abort" } }));
    EXPECT_EQ(firmwareState().at("phase"), "idle");
    EXPECT_EQ(firmwareState().at("message"), "Firmware upload canceled.");
    EXPECT_EQ(firmwareState().at("totalBytes"), 1000);
    EXPECT_EQ(firmwareState().at("active"), false);

    // Acknowledgements still under way change nothing.
    EXPECT_TRUE(deviceReports({ { "state", "receiving" }, { "nextChunkIndex", 2 } }).empty());
    EXPECT_EQ(firmwareState().at("phase"), "idle");
    EXPECT_EQ(receivedCount("firmware_commit"), 0U);
}

TEST_F(SessionFirmwareInstallTest, CancelDuringTheImageDownloadMakesItsResultStale)
{
    offerFirmware();
    const SessionResponse installing = dispatch("firmwareInstall");

    const SessionResponse cancelled = dispatch("firmwareCancel");

    ASSERT_TRUE(cancelled.ok()) << cancelled.error();
    EXPECT_TRUE(cancelled.effects().empty()) << cancelled.text;
    EXPECT_EQ(firmwareState().at("active"), false);
    EXPECT_EQ(firmwareState().at("message"), "Firmware upload canceled.");
    EXPECT_EQ(answer(installing, image).error(), "Stale download result");
    EXPECT_FALSE(device.lastReceived("firmware_begin").has_value());
    EXPECT_TRUE(state().contains("firmwareAsset"));
}

TEST_F(SessionFirmwareInstallTest, StalledTransferTimesOutAfterSixtySecondsWithoutProgress)
{
    offerFirmware();
    installImage();
    deviceReports({ { "state", "ready" }, { "nextChunkIndex", 0 }, { "ackIntervalChunks", 2 } });

    advance(50s);
    deviceReports({ { "state", "receiving" }, { "nextChunkIndex", 1 } });
    advance(60s);
    const SessionResponse patient = dispatch("tick");
    ASSERT_TRUE(patient.ok()) << patient.error();
    EXPECT_TRUE(patient.effects().empty()) << patient.text;
    EXPECT_EQ(firmwareState().at("phase"), "uploading");

    advance(1ms);
    const SessionResponse timedOut = dispatch("tick");

    ASSERT_TRUE(timedOut.ok()) << timedOut.error();
    const std::vector<std::string> types = effectTypes(timedOut);
    ASSERT_FALSE(types.empty());
    EXPECT_EQ(types.front(), "clearFirmwareWrites");
    EXPECT_EQ(types.back(), "disconnect");
    pump(timedOut);
    EXPECT_TRUE(device.lastReceived("firmware_abort").has_value());
    EXPECT_EQ(firmwareState().at("phase"), "failed");
    EXPECT_EQ(firmwareState().at("message"), "Firmware transfer timed out. Reconnect and retry.");
    EXPECT_EQ(firmwareState().at("active"), false);
    EXPECT_EQ(state().at("connected"), true);
}

TEST_F(SessionFirmwareInstallTest, StallClockStartsWhenTheImageArrives)
{
    offerFirmware();
    const SessionResponse installing = dispatch("firmwareInstall");
    // A slow host download is no stall: the device has not been asked for anything yet.
    advance(5min);
    EXPECT_TRUE(dispatch("tick").effects().empty());
    pump(answer(installing, image));
    ASSERT_TRUE(firmwareState().at("active").get<bool>());

    advance(60s);
    const SessionResponse patient = dispatch("tick");
    EXPECT_TRUE(patient.effects().empty()) << patient.text;
    EXPECT_EQ(firmwareState().at("phase"), "preparing");

    advance(1ms);
    EXPECT_EQ(effectTypes(dispatch("tick")).back(), "disconnect");
    EXPECT_EQ(firmwareState().at("message"), "Firmware transfer timed out. Reconnect and retry.");
}

} // namespace
} // namespace tavrik::test
