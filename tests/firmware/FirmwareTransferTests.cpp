#include "tests/firmware/FirmwareTransferHarness.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <new>

namespace tavrik::test {
namespace {

using Phase = FirmwareUploadStatus::Phase;

bool contains(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(FirmwareTransfer, WholeTransfersFollowTheDevicesWindow)
{
    struct Case {
        const char* name;
        std::optional<std::string> windowSetting;
        std::optional<std::int64_t> ackIntervalChunks;
        std::int64_t deviceAcksEvery;
        std::int64_t window;
    };
    const Case cases[] = {
        { "the device's interval wins over the setting", "100", 16, 16, 16 },
        { "an interval below the setting's minimum is kept", std::nullopt, 2, 2, 2 },
        { "without an interval the setting applies", "10", std::nullopt, 5, 10 },
        { "an interval of 0 keeps the default", std::nullopt, 0, 4, 64 },
    };
    const Data image = patternImage(30000); // 122 full chunks of 244 bytes and one of 232
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TransferHarness h(c.windowSetting);
        h.start(image);
        h.ready(c.ackIntervalChunks);
        EXPECT_TRUE(contains(h.logLines, "[firmware] Upload window set to " + std::to_string(c.window) + " chunks"));

        // The device acknowledges every `deviceAcksEvery` chunks, and the last one, as they arrive.
        while (h.device.commits == 0) {
            const auto received = static_cast<std::int64_t>(h.device.chunks.size());
            const bool all = h.device.assembled().size() == image.size();
            const std::int64_t next = all ? received : received / c.deviceAcksEvery * c.deviceAcksEvery;
            ASSERT_GT(next, h.device.acknowledged) << "the transfer stalled";
            FirmwareStatusEnvelope receiving = deviceStatus("receiving");
            receiving.nextChunkIndex = next;
            receiving.receivedBytes = std::min<std::int64_t>(next * 244, 30000);
            h.report(receiving);
        }
        EXPECT_EQ(h.status().phase, Phase::finalizing);
        EXPECT_EQ(h.status().message, "Finalizing firmware update...");
        FirmwareStatusEnvelope complete = deviceStatus("complete");
        complete.version = "1.4.0";
        complete.receivedBytes = 30000;
        h.report(complete);

        EXPECT_EQ(h.device.assembled(), image);
        ASSERT_EQ(h.device.chunks.size(), 123U);
        for (std::size_t index = 0; index < h.device.chunks.size(); ++index) {
            EXPECT_EQ(h.device.chunks[index].index, index);
            EXPECT_EQ(h.device.chunks[index].offset, index * 244);
        }
        EXPECT_EQ(h.device.chunks.back().bytes.size(), 232U);
        EXPECT_EQ(h.device.mostInFlight, c.window);
        EXPECT_EQ(h.device.commits, 1);
        EXPECT_EQ(h.device.events.back(), "commit");
        EXPECT_EQ(h.device.aborts, 0);
        EXPECT_EQ(h.status(),
            (FirmwareUploadStatus { Phase::completed, "Firmware update complete. Tavrik will reboot.", 30000, 30000 }));
        EXPECT_FALSE(h.transfer.isActive());
        EXPECT_EQ(h.installs, (std::vector<std::optional<std::string>> { "1.4.0" }));
    }
}

TEST(FirmwareTransfer, SendsAWindowAndMoreOnEachAcknowledgement)
{
    TransferHarness h;
    h.start(patternImage(2500));
    EXPECT_EQ(h.statuses.front(),
        (FirmwareUploadStatus {
            Phase::waitingForDevice, "Waiting for Tavrik. Push the main button twice to enable Bluetooth.", 0, 2500 }));
    EXPECT_EQ(h.status().phase, Phase::preparing);
    EXPECT_EQ(h.status().message, "Preparing Tavrik for firmware upload...");
    EXPECT_TRUE(h.device.chunks.empty()) << "nothing goes out before the device is ready";

    h.ready(4);
    EXPECT_EQ(h.device.indexes(), (std::vector<std::uint32_t> { 0, 1, 2, 3 }));
    EXPECT_EQ(h.status().phase, Phase::uploading);
    EXPECT_EQ(h.status().message, "Uploading firmware to Tavrik...");

    h.receiving(2);
    EXPECT_EQ(h.device.indexes(), (std::vector<std::uint32_t> { 0, 1, 2, 3, 4, 5 }));
    EXPECT_EQ(h.device.chunks[5].offset, 5U * 244);
    EXPECT_EQ(h.device.commits, 0);
}

TEST(FirmwareTransfer, AcknowledgementsOutsideWhatWasSentFailTheTransfer)
{
    struct Case {
        const char* name;
        std::function<void(TransferHarness&)> answer;
        bool fails;
        std::size_t chunksAfter;
    };
    const Case cases[] = {
        { "behind the last acknowledgement", [](TransferHarness& h) { h.receiving(1); }, true, 6 },
        { "ahead of the chunks sent", [](TransferHarness& h) { h.receiving(7); }, true, 6 },
        { "repeating the last acknowledgement", [](TransferHarness& h) { h.receiving(2); }, false, 6 },
        { "acknowledging everything sent", [](TransferHarness& h) { h.receiving(6); }, false, 10 },
        { "a repeated ready acknowledging what was sent",
            [](TransferHarness& h) {
                FirmwareStatusEnvelope ready = deviceStatus("ready");
                ready.nextChunkIndex = 6;
                ready.ackIntervalChunks = 4;
                h.report(ready);
            },
            false, 10 },
        { "a ready that skips ahead",
            [](TransferHarness& h) {
                FirmwareStatusEnvelope ready = deviceStatus("ready");
                ready.nextChunkIndex = 9;
                h.report(ready);
            },
            true, 6 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TransferHarness h;
        h.start(patternImage(5000));
        h.ready(4);
        h.receiving(2);
        c.answer(h);
        EXPECT_EQ(h.device.chunks.size(), c.chunksAfter);
        EXPECT_EQ(h.transfer.isActive(), !c.fails);
        if (c.fails) {
            EXPECT_EQ(h.status().phase, Phase::failed);
            EXPECT_EQ(h.status().message, "Tavrik reported an invalid firmware acknowledgement");
            EXPECT_TRUE(h.activeAtNotification.back()) << "the failure is published before the transfer is dropped";
            h.receiving(6);
            EXPECT_EQ(h.device.chunks.size(), c.chunksAfter) << "a late acknowledgement sends nothing";
        }
    }
}

TEST(FirmwareTransfer, ATransferThatBeginsLateStillStartsFromTheFirstChunk)
{
    TransferHarness h;
    h.start(patternImage(100));
    FirmwareStatusEnvelope resume = deviceStatus("ready");
    resume.nextChunkIndex = 0;
    h.report(resume);
    EXPECT_EQ(h.device.indexes(), (std::vector<std::uint32_t> { 0 }));
}

TEST(FirmwareTransfer, CommitsExactlyOnceWhenEverythingIsAcknowledged)
{
    TransferHarness h;
    h.start(patternImage(600)); // chunks of 244, 244 and 112 bytes
    h.ready(4);
    ASSERT_EQ(h.device.chunks.size(), 3U);
    EXPECT_EQ(h.device.commits, 0) << "the last chunk is sent but not acknowledged";
    h.receiving(2);
    EXPECT_EQ(h.device.commits, 0);
    h.receiving(3);
    EXPECT_EQ(h.device.commits, 1);
    EXPECT_EQ(h.status().phase, Phase::finalizing);
    h.receiving(3);
    h.transfer.sendFirmwareWindowIfNeeded();
    EXPECT_EQ(h.device.commits, 1);

    h.report(deviceStatus("complete"));
    EXPECT_EQ(h.status().phase, Phase::completed);
    EXPECT_EQ(h.installs, (std::vector<std::optional<std::string>> { "1.4.0" }))
        << "the plan's version when the device names none";
    EXPECT_TRUE(std::none_of(h.logLines.begin(), h.logLines.end(),
        [](const std::string& line) { return line.starts_with("[firmware] OTA completed"); }));
}

TEST(FirmwareTransfer, ADeviceThatStopsAnsweringIsToldToAbortAndTheTransferFails)
{
    using namespace std::chrono_literals;
    const std::string unanswered = "Tavrik did not answer the firmware upload request. Reconnect and retry.";
    const std::string stalled = "Firmware transfer timed out. Reconnect and retry.";
    struct Case {
        const char* road;
        // What the device said before it fell silent (600 bytes: chunks 0 to 2).
        std::function<void(TransferHarness&)> answers;
        std::chrono::milliseconds bound;
        Phase waiting;
        std::string failure;
    };
    const std::vector<Case> cases {
        { "firmware_begin unanswered", [](TransferHarness&) {}, 30s, Phase::preparing, unanswered },
        { "no acknowledgement after ready", [](TransferHarness& h) { h.ready(4); }, 15s, Phase::uploading, stalled },
        { "acknowledgements stop mid-image",
            [](TransferHarness& h) {
                h.ready(2);
                h.receiving(2);
            },
            15s, Phase::uploading, stalled },
        { "firmware_commit unanswered",
            [](TransferHarness& h) {
                h.ready(4);
                h.receiving(3);
            },
            30s, Phase::finalizing, stalled },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.road);
        TransferHarness h;
        h.start(patternImage(600));
        test.answers(h);
        h.scheduler.advance(test.bound - 1ms);
        EXPECT_EQ(h.status().phase, test.waiting) << h.status().message;
        EXPECT_EQ(h.device.aborts, 0);
        h.scheduler.advance(1ms);
        EXPECT_EQ(h.status().phase, Phase::failed);
        EXPECT_EQ(h.status().message, test.failure);
        EXPECT_FALSE(h.transfer.isActive());
        EXPECT_EQ(h.device.aborts, 1);
        EXPECT_EQ(h.scheduler.pendingCount(), 0U);
    }
}

TEST(FirmwareTransfer, ASlowDeviceThatKeepsAnsweringIsNeverGivenUp)
{
    using namespace std::chrono_literals;
    TransferHarness h;
    h.start(patternImage(2000)); // 9 chunks
    h.scheduler.advance(29s); // a long erase before "ready"
    h.ready(2);
    for (const std::int64_t acknowledged : { 2, 4, 6, 8, 9 }) {
        h.scheduler.advance(14s);
        h.receiving(acknowledged);
    }
    ASSERT_EQ(h.status().phase, Phase::finalizing) << h.status().message;
    h.scheduler.advance(29s);
    h.report(deviceStatus("complete"));
    EXPECT_EQ(h.status().phase, Phase::completed);
    EXPECT_EQ(h.device.aborts, 0);
    EXPECT_EQ(h.scheduler.pendingCount(), 0U) << "an ended transfer leaves no wait behind";

    // Cancelling and losing the link stop the wait too.
    h.start(patternImage(600));
    h.transfer.cancel(std::nullopt);
    h.start(patternImage(600));
    h.transfer.resetFirmwareSession();
    h.scheduler.advance(60s);
    EXPECT_EQ(h.device.aborts, 1) << "only the cancel's own abort";
    EXPECT_NE(h.status().phase, Phase::failed);
}

TEST(FirmwareTransfer, CompletionReportsTheDevicesVersionAndTiming)
{
    TransferHarness h;
    h.start(patternImage(300));
    h.ready(4);
    h.receiving(2);
    FirmwareStatusEnvelope complete = deviceStatus("complete");
    complete.version = "1.5.0";
    complete.elapsedMs = 8123;
    complete.chunksReceived = 2;
    complete.ackIntervalChunks = 4;
    complete.message = "Installed.";
    h.report(complete);
    EXPECT_EQ(h.status().message, "Installed.");
    EXPECT_TRUE(contains(h.logLines, "[firmware] OTA completed in 8123 ms across 2 chunks (ack every 4)"));
    EXPECT_EQ(h.installs, (std::vector<std::optional<std::string>> { "1.5.0" }));
    EXPECT_FALSE(h.transfer.isActive());
}

TEST(FirmwareTransfer, AnEmptyImageCommitsAsSoonAsTheDeviceIsReady)
{
    TransferHarness h;
    h.start(Data {});
    EXPECT_EQ(h.device.begins.at(0).size, 0);
    h.ready();
    EXPECT_TRUE(h.device.chunks.empty());
    EXPECT_EQ(h.device.commits, 1);
    EXPECT_EQ(h.status().phase, Phase::finalizing);
}

TEST(FirmwareTransfer, DeviceErrorsEndTheTransfer)
{
    TransferHarness h;
    h.start(patternImage(3000));
    h.ready(4);
    FirmwareStatusEnvelope error = deviceStatus("error");
    error.message = "Image rejected";
    h.report(error);
    EXPECT_EQ(h.status().phase, Phase::failed);
    EXPECT_EQ(h.status().message, "Image rejected");
    EXPECT_FALSE(h.transfer.isActive());
    EXPECT_EQ(h.device.aborts, 0);

    const std::size_t published = h.statuses.size();
    h.receiving(4);
    h.report(deviceStatus("complete"));
    h.ready(4);
    EXPECT_EQ(h.statuses.size(), published) << "late answers of an ended transfer change nothing";
    EXPECT_EQ(h.device.chunks.size(), 4U);
    EXPECT_TRUE(h.installs.empty());

    h.report(deviceStatus("error"), 777);
    EXPECT_EQ(h.status(), (FirmwareUploadStatus { Phase::failed, "Firmware upload failed.", 0, 777 }));
}

TEST(FirmwareTransfer, ALostLinkDropsTheTransferSilently)
{
    TransferHarness h;
    h.start(patternImage(3000));
    h.ready(4);
    h.receiving(4);
    const FirmwareUploadStatus before = h.status();
    const std::size_t published = h.statuses.size();

    h.transfer.resetFirmwareSession();
    EXPECT_FALSE(h.transfer.isActive());
    EXPECT_EQ(h.transfer.totalBytes(), 0);
    EXPECT_EQ(h.status(), before);
    EXPECT_EQ(h.statuses.size(), published);
    h.receiving(8);
    EXPECT_EQ(h.device.chunks.size(), 8U);

    // A new transfer starts again from the first chunk.
    h.device.chunks.clear();
    h.device.acknowledged = 0;
    h.start(patternImage(3000));
    h.ready(4);
    EXPECT_EQ(h.device.indexes(), (std::vector<std::uint32_t> { 0, 1, 2, 3 }));
    EXPECT_EQ(h.device.begins.size(), 2U);
}

TEST(FirmwareTransfer, CancelAbortsOnlyARunningTransfer)
{
    TransferHarness h;
    h.start(patternImage(3000));
    h.ready(4);
    h.transfer.cancel(testAsset(3000));
    EXPECT_EQ(h.device.aborts, 1);
    EXPECT_EQ(h.status(), (FirmwareUploadStatus { Phase::idle, "Firmware upload canceled.", 0, 3000 }));
    EXPECT_FALSE(h.transfer.isActive());
    h.receiving(4);
    EXPECT_EQ(h.device.chunks.size(), 4U);

    h.transfer.cancel(std::nullopt);
    EXPECT_EQ(h.device.aborts, 1);
    EXPECT_EQ(h.status(), (FirmwareUploadStatus { Phase::idle, "Checking for firmware updates.", 0, 0 }));
}

TEST(FirmwareTransfer, BeginWaitsForTheLinkAndCarriesTheImage)
{
    TransferHarness h;
    h.device.ready = false;
    const Data image = patternImage(1000);
    h.transfer.prepare(testAsset(4096), image); // the manifest's size is not what is announced
    EXPECT_EQ(h.device.connects, 1);
    EXPECT_TRUE(h.device.begins.empty());
    EXPECT_EQ(h.status().phase, Phase::waitingForDevice);
    EXPECT_EQ(h.transfer.totalBytes(), 1000);

    h.transfer.sendFirmwareBegin();
    ASSERT_EQ(h.device.begins.size(), 1U);
    EXPECT_EQ(h.device.begins[0], FirmwareBeginEnvelope("1.4.0", "fw-s3.bin", 1000, "m5stick-s3"));
    EXPECT_EQ(h.status().phase, Phase::preparing);
}

TEST(FirmwareTransfer, RefusedSendsFailTheTransfer)
{
    struct Case {
        const char* name;
        std::function<void(TransferHarness&)> run;
        const char* message;
        std::size_t chunksSent = 0;
    };
    const Case cases[] = {
        { "begin refused",
            [](TransferHarness& h) {
                h.device.acceptBegin = false;
                h.start(patternImage(10));
            },
            "Failed to start firmware upload." },
        { "begin without a transfer", [](TransferHarness& h) { h.transfer.sendFirmwareBegin(); },
            "Published firmware metadata is unavailable." },
        { "commit refused",
            [](TransferHarness& h) {
                h.device.acceptCommit = false;
                h.start(patternImage(10));
                h.ready();
                h.receiving(1);
            },
            "Failed to finalize firmware upload.", 1 },
        { "write length without room for data",
            [](TransferHarness& h) {
                h.device.writeLength = 8;
                h.start(patternImage(10));
                h.ready();
            },
            "Firmware write length is too small" },
        { "begin throws",
            [](TransferHarness& h) {
                h.device.throwOnBegin = true;
                h.start(patternImage(10));
            },
            "Failed to start firmware upload." },
        { "commit throws",
            [](TransferHarness& h) {
                h.device.throwOnCommit = true;
                h.start(patternImage(10));
                h.ready();
                h.receiving(1);
            },
            "Failed to finalize firmware upload.", 1 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TransferHarness h;
        c.run(h);
        EXPECT_EQ(h.status().phase, Phase::failed);
        EXPECT_EQ(h.status().message, c.message);
        EXPECT_FALSE(h.transfer.isActive());
        EXPECT_EQ(h.device.chunks.size(), c.chunksSent);
    }
}

TEST(FirmwareTransfer, WritesFollowTheCurrentWriteLength)
{
    TransferHarness h;
    h.device.writeLength = std::nullopt;
    h.start(patternImage(700));
    h.ready(2);
    EXPECT_TRUE(h.device.chunks.empty()) << "no firmware characteristic yet";
    EXPECT_EQ(h.status().phase, Phase::preparing);

    h.device.writeLength = 252;
    h.device.refuseWrites = 1;
    h.transfer.sendFirmwareWindowIfNeeded();
    EXPECT_TRUE(h.device.chunks.empty()) << "the peripheral could not take the write";
    h.transfer.sendFirmwareWindowIfNeeded();
    ASSERT_EQ(h.device.chunks.size(), 2U);
    EXPECT_EQ(h.device.chunks[0].index, 0U);

    // A smaller limit takes effect at the next window; offsets keep locating the bytes.
    h.device.writeLength = 108;
    h.receiving(2);
    ASSERT_EQ(h.device.chunks.size(), 4U);
    EXPECT_EQ(h.device.chunks[2].offset, 488U);
    EXPECT_EQ(h.device.chunks[2].bytes.size(), 100U);
    EXPECT_EQ(h.device.chunks[3].offset, 588U);
    h.receiving(4);
    EXPECT_EQ(h.device.chunks.back().offset, 688U);
    EXPECT_EQ(h.device.assembled(), patternImage(700));

    TransferHarness smallest;
    smallest.device.writeLength = 9;
    smallest.start(Data { 7, 8, 9 });
    smallest.ready();
    ASSERT_EQ(smallest.device.chunks.size(), 3U);
    for (std::uint32_t index = 0; index < 3; ++index) {
        EXPECT_EQ(smallest.device.chunks[index].offset, index);
        EXPECT_EQ(smallest.device.chunks[index].bytes, (Data { static_cast<std::uint8_t>(7 + index) }));
    }
}

TEST(FirmwareTransfer, StatusMessagesUpdateProgress)
{
    TransferHarness h;
    h.start(patternImage(1000));
    h.ready(4);

    FirmwareStatusEnvelope receiving = deviceStatus("receiving");
    receiving.nextChunkIndex = 2;
    receiving.receivedBytes = 488;
    receiving.expectedBytes = 1200;
    receiving.message = "Writing flash";
    h.report(receiving);
    EXPECT_EQ(h.status(), (FirmwareUploadStatus { Phase::uploading, "Uploading firmware to Tavrik...", 488, 1200 }))
        << "chunks written after the report bring back the uploading text";

    FirmwareStatusEnvelope paused = deviceStatus("paused");
    paused.receivedBytes = 732;
    h.report(paused);
    EXPECT_TRUE(contains(h.logLines, "[ble:data] unhandled firmware state paused"));
    EXPECT_EQ(h.status(), (FirmwareUploadStatus { Phase::uploading, "Uploading firmware to Tavrik...", 732, 1000 }));
    EXPECT_TRUE(h.transfer.isActive());

    h.receiving(5);
    EXPECT_EQ(h.status(), (FirmwareUploadStatus { Phase::finalizing, "Finalizing firmware update...", 732, 1000 }))
        << "a report without byte counts keeps the last ones";
}

TEST(FirmwareTransfer, UnreadableStatusMessagesFailTheTransfer)
{
    for (const char* payload : {
             "not json",
             R"({"type":"firmware_status"})",
             R"({"type":"firmware_status","state":"receiving","nextChunkIndex":"2"})",
         }) {
        SCOPED_TRACE(payload);
        TransferHarness h;
        h.start(patternImage(1000));
        h.transfer.handleFirmwarePayload(dataFromString(payload), 0);
        EXPECT_EQ(h.status().phase, Phase::failed);
        EXPECT_EQ(h.status().message, "Invalid firmware status payload.");
        EXPECT_FALSE(h.transfer.isActive());
    }
}

TEST(FirmwareTransfer, AnswersWithoutATransferAreIgnored)
{
    TransferHarness h;
    h.ready(4);
    h.receiving(0);
    h.report(deviceStatus("complete"));
    EXPECT_TRUE(h.statuses.empty());
    EXPECT_TRUE(h.installs.empty());
    EXPECT_TRUE(h.logLines.empty());
    EXPECT_EQ(h.status(), (FirmwareUploadStatus { Phase::idle, "Checking for firmware updates.", 0, 0 }));
}

TEST(FirmwareTransfer, WindowSettingIsReadOnce)
{
    struct Case {
        std::optional<std::string> value;
        std::int64_t window;
    };
    const Case cases[] = {
        { std::nullopt, 64 },
        { "", 64 },
        { "fast", 64 },
        { " 12", 64 },
        { "12 ", 64 },
        { "1e3", 64 },
        { "0x10", 64 },
        { "+", 64 },
        { "-", 64 },
        { "+-5", 64 },
        { "9223372036854775808", 64 },
        { "-9223372036854775809", 64 },
        { "5", 8 },
        { "-3", 8 },
        { "8", 8 },
        { "+12", 12 },
        { "100", 100 },
        { "0100", 100 },
        { "9223372036854775807", 9223372036854775807 },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(firmwareWindowSizeFromEnvironment(c.value), c.window) << c.value.value_or("(absent)");
    }

    TransferHarness h("10");
    h.start(patternImage(5000));
    h.ready();
    EXPECT_EQ(h.device.chunks.size(), 10U);
    h.windowSetting = "20";
    h.device.chunks.clear();
    h.start(patternImage(5000));
    h.ready();
    EXPECT_EQ(h.device.chunks.size(), 10U);
    EXPECT_EQ(h.environmentReads, 1);
}

TEST(FirmwareTransfer, WindowSizeRule)
{
    EXPECT_EQ(firmwareUploadWindowSize(64, 16), 16);
    EXPECT_EQ(firmwareUploadWindowSize(64, 1), 1);
    EXPECT_EQ(firmwareUploadWindowSize(64, 0), 64);
    EXPECT_EQ(firmwareUploadWindowSize(64, -4), 64);
    EXPECT_EQ(firmwareUploadWindowSize(64, std::nullopt), 64);
    EXPECT_EQ(firmwareUploadWindowSize(0, std::nullopt), 1);
}

TEST(FirmwareTransfer, ADeviceAnsweringInsideTheTransportCallsIsServedInOrder)
{
    TransferHarness early;
    early.device.onBegin = [&] { early.ready(4); };
    early.start(patternImage(3000));
    EXPECT_EQ(early.device.chunks.size(), 4U);
    EXPECT_EQ(early.status().phase, Phase::uploading) << "the answer to the begin is not overwritten by it";

    TransferHarness h;
    h.device.onBegin = [&] { h.ready(4); };
    h.device.onWrite = [&] {
        const auto received = static_cast<std::int64_t>(h.device.chunks.size());
        if (received % 4 == 0 || h.device.assembled().size() == 3000) {
            h.receiving(received);
        }
    };
    h.device.onCommit = [&] { h.report(deviceStatus("complete")); };
    const Data image = patternImage(3000);
    h.start(image);

    std::vector<std::uint32_t> expected(13);
    for (std::uint32_t index = 0; index < expected.size(); ++index) {
        expected[index] = index;
    }
    EXPECT_EQ(h.device.indexes(), expected) << "each chunk exactly once, in order";
    EXPECT_EQ(h.device.assembled(), image);
    EXPECT_EQ(h.device.commits, 1);
    EXPECT_EQ(h.status().phase, Phase::completed);
    EXPECT_FALSE(h.transfer.isActive());
    EXPECT_EQ(h.installs.size(), 1U);
}

TEST(FirmwareTransfer, AcknowledgementsFromInsideAWriteDoNotNestWrites)
{
    // Nested writes would grow the stack with the image: one level per chunk.
    TransferHarness h;
    h.device.writeLength = 9;
    const Data image = patternImage(300);
    h.device.onWrite = [&] { h.receiving(static_cast<std::int64_t>(h.device.chunks.size())); };
    h.device.onBegin = [&] { h.ready(1); };
    h.start(image);
    EXPECT_EQ(h.device.assembled(), image);
    EXPECT_EQ(h.device.deepestWrite, 1);
    EXPECT_EQ(h.device.commits, 1);
    EXPECT_EQ(h.status().phase, Phase::finalizing);
}

TEST(FirmwareTransfer, ATransferStartedFromACallbackIsKept)
{
    struct Case {
        const char* name;
        std::function<void(TransferHarness&)> end;
        // The status from which an observer chains the next transfer (the install callback always does).
        Phase restartOn = Phase::failed;
        std::size_t installs = 0;
    };
    const Case cases[] = {
        { "after completion", [](TransferHarness& h) { h.report(deviceStatus("complete")); }, Phase::failed, 1 },
        { "from the completed status", [](TransferHarness& h) { h.report(deviceStatus("complete")); }, Phase::completed,
            1 },
        { "after a device error", [](TransferHarness& h) { h.report(deviceStatus("error")); } },
        { "after an invalid acknowledgement", [](TransferHarness& h) { h.receiving(99); } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TransferHarness h;
        h.start(patternImage(3000));
        h.ready(4);
        // A host may chain the next installation from the install callback or the failed status.
        bool restarted = false;
        const auto restart = [&] {
            if (!restarted) {
                restarted = true;
                h.start(patternImage(50));
            }
        };
        h.afterInstall = restart;
        h.transfer.setOnStatus([&](const FirmwareUploadStatus& status) {
            if (status.phase == c.restartOn) {
                restart();
            }
        });
        c.end(h);
        EXPECT_TRUE(restarted);
        // The device installed the first image whoever started the next one.
        EXPECT_EQ(h.installs, std::vector<std::optional<std::string>>(c.installs, "1.4.0"));
        EXPECT_TRUE(h.transfer.isActive());
        EXPECT_EQ(h.transfer.totalBytes(), 50);
        EXPECT_EQ(h.device.begins.back().size, 50);
    }
}

TEST(FirmwareTransfer, AnObserverMayCancelMidWindow)
{
    TransferHarness h;
    h.transfer.setOnStatus([&](const FirmwareUploadStatus& status) {
        if (status.phase == Phase::uploading && h.transfer.isActive()) {
            h.transfer.cancel(std::nullopt);
        }
    });
    h.start(patternImage(3000));
    h.ready(4);
    EXPECT_EQ(h.device.chunks.size(), 1U);
    EXPECT_EQ(h.device.aborts, 1);
    EXPECT_FALSE(h.transfer.isActive());
    EXPECT_EQ(h.status().phase, Phase::idle);
}

// MemAvailable from the kernel, in bytes; 0 when it cannot be read.
std::uint64_t availableMemoryBytes()
{
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    std::uint64_t kibibytes = 0;
    std::string unit;
    while (meminfo >> key >> kibibytes >> unit) {
        if (key == "MemAvailable:") {
            return kibibytes * 1024;
        }
    }
    return 0;
}

TEST(FirmwareTransfer, ImagesOfFourGibibytesOrMoreAreRefusedBeforeBegin)
{
    // The smallest image whose offsets no longer fit the chunk header. Filling it touches every page,
    // so a machine that cannot spare the memory skips rather than risk the out-of-memory killer.
    if (availableMemoryBytes() < (std::uint64_t { 12 } << 30)) {
        GTEST_SKIP() << "needs 12 GiB of available memory for a 4 GiB image";
    }
    Data image;
    try {
        image.resize(static_cast<std::size_t>(maximumFirmwareImageSize) + 1);
    } catch (const std::bad_alloc&) {
        GTEST_SKIP() << "no memory for a 4 GiB image";
    }
    TransferHarness h;
    h.transfer.prepare(testAsset(0), std::move(image));
    EXPECT_TRUE(h.device.begins.empty());
    EXPECT_EQ(h.device.connects, 0);
    EXPECT_FALSE(h.transfer.isActive());
    EXPECT_EQ(h.transfer.totalBytes(), 0);
    EXPECT_EQ(h.status(),
        (FirmwareUploadStatus {
            Phase::failed, "Firmware image is too large for an over-the-air update.", 0, 4294967296 }));

    h.ready();
    h.transfer.sendFirmwareBegin();
    EXPECT_TRUE(h.device.chunks.empty());
    EXPECT_TRUE(h.device.begins.empty()) << "there is no transfer left to begin";
}

// Only this test builds an engine without its own environment reader, so it makes the process's
// first and only read of the variable.
TEST(FirmwareTransfer, ProcessEnvironmentWindowIsReadOncePerProcess)
{
    ASSERT_EQ(setenv("TAVRIK_OTA_WINDOW_SIZE", "12", 1), 0);
    ScriptedDevice device;
    const auto firstWindow = [&] {
        device.chunks.clear();
        FirmwareTransfer transfer(device.transport(), {}, {});
        transfer.prepare(testAsset(5000), patternImage(5000));
        transfer.handleFirmwarePayload(dumpJsonData(toJson(deviceStatus("ready"))), 0);
        return device.chunks.size();
    };
    EXPECT_EQ(firstWindow(), 12U);
    ASSERT_EQ(setenv("TAVRIK_OTA_WINDOW_SIZE", "30", 1), 0);
    EXPECT_EQ(firstWindow(), 12U) << "a later engine keeps the first reading";
    ASSERT_EQ(unsetenv("TAVRIK_OTA_WINDOW_SIZE"), 0);
    EXPECT_EQ(firstWindow(), 12U);
}

TEST(FirmwareTransfer, CallbacksThatThrowNeitherEscapeNorLoseChunks)
{
    TransferHarness h;
    h.device.throwOnWriteLength = true;
    h.start(patternImage(1000));
    EXPECT_NO_THROW(h.ready(2));
    EXPECT_TRUE(h.device.chunks.empty());
    EXPECT_EQ(h.status().phase, Phase::preparing) << "like a link without a firmware characteristic yet";

    h.device.throwOnWriteLength = false;
    h.device.throwingWrites = 1;
    EXPECT_NO_THROW(h.transfer.sendFirmwareWindowIfNeeded());
    EXPECT_TRUE(h.device.chunks.empty());
    h.transfer.sendFirmwareWindowIfNeeded();
    EXPECT_EQ(h.device.indexes(), (std::vector<std::uint32_t> { 0, 1 })) << "the chunk that failed is sent again";

    // An observer or install callback that fails does not stop the transfer either.
    h.transfer.setOnStatus([](const FirmwareUploadStatus&) { throw std::runtime_error("view gone"); });
    h.afterInstall = [] { throw std::runtime_error("store gone"); };
    EXPECT_NO_THROW(h.receiving(2));
    EXPECT_NO_THROW(h.receiving(4));
    EXPECT_NO_THROW(h.receiving(5));
    EXPECT_EQ(h.device.commits, 1);
    FirmwareStatusEnvelope complete = deviceStatus("complete");
    complete.elapsedMs = 10;
    EXPECT_NO_THROW(h.report(complete));
    EXPECT_EQ(h.device.assembled(), patternImage(1000));
    EXPECT_EQ(h.installs, (std::vector<std::optional<std::string>> { "1.4.0" }));
    EXPECT_EQ(h.status().phase, Phase::completed);
    EXPECT_FALSE(h.transfer.isActive());
}

} // namespace
} // namespace tavrik::test
