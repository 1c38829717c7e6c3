#include "TavrikPlatform/Firmware/FirmwareUploadService.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavrik::test {
namespace {

using Phase = FirmwareUploadStatus::Phase;

// Downloads that finish only when the test says so, like a slow network.
struct PendingDownloads {
    struct Entry {
        FirmwareAsset asset;
        FirmwareUploadService::DownloadCompletion completion;
        bool cancelled = false;
    };
    std::vector<Entry> entries;

    FirmwareUploadService::Download operation()
    {
        return [this](const FirmwareAsset& asset, FirmwareUploadService::DownloadCompletion completion) {
            entries.push_back({ asset, std::move(completion) });
            const std::size_t index = entries.size() - 1;
            return [this, index] { entries[index].cancelled = true; };
        };
    }
};

struct Fixture {
    PendingDownloads downloads;
    std::vector<std::string> log;
    std::vector<Data> writes;
    int begins = 0;
    int connects = 0;
    bool ready = true;
    FirmwareUploadService service;

    Fixture()
        : service(
            transport(), downloads.operation(), [this](const std::string& line) { log.push_back(line); },
            [](const std::optional<std::string>&) {}, [](const std::string&) { return std::nullopt; })
    {
    }

    FirmwareTransfer::Transport transport()
    {
        FirmwareTransfer::Transport result;
        result.begin = [this](const FirmwareBeginEnvelope&) { return ++begins > 0; };
        result.commit = [] { return true; };
        result.abort = [] {};
        result.maximumWriteLength = [] { return std::optional<int>(180); };
        result.write = [this](const Data& chunk) {
            writes.push_back(chunk);
            return true;
        };
        result.connect = [this] { ++connects; };
        result.isReady = [this] { return ready; };
        return result;
    }
};

FirmwareAsset asset(std::string version, std::int64_t size)
{
    FirmwareAsset result;
    result.version = std::move(version);
    result.sizeBytes = size;
    return result;
}

TEST(FirmwareUploadServiceTests, ASupersededDownloadNeverStartsATransfer)
{
    Fixture fixture;
    EXPECT_EQ(fixture.service.status().message, "Checking for firmware updates.");
    fixture.service.start(asset("1.0.0", 4));
    fixture.service.start(asset("1.1.0", 4));
    ASSERT_EQ(fixture.downloads.entries.size(), 2u);
    EXPECT_TRUE(fixture.downloads.entries[0].cancelled);
    EXPECT_EQ(
        fixture.service.status(), (FirmwareUploadStatus { Phase::downloading, "Downloading firmware 1.1.0...", 0, 4 }));
    EXPECT_FALSE(fixture.service.isActive()) << "downloading is not transferring";

    fixture.downloads.entries[0].completion({ Data { 1, 2, 3, 4 }, {} });
    EXPECT_EQ(fixture.begins, 0);
    EXPECT_FALSE(fixture.service.isActive());

    fixture.downloads.entries[1].completion({ Data { 1, 2, 3, 4 }, {} });
    EXPECT_TRUE(fixture.service.isActive());
    EXPECT_EQ(fixture.begins, 1);
}

TEST(FirmwareUploadServiceTests, CancelWhileDownloadingShowsTheIdleTextAndIgnoresTheLateError)
{
    for (const bool withAsset : { false, true }) {
        SCOPED_TRACE(withAsset);
        Fixture fixture;
        int changes = 0;
        QObject::connect(&fixture.service, &FirmwareUploadService::statusChanged, [&] { ++changes; });
        fixture.service.start(asset("2.0.0", 8));
        fixture.service.cancel(withAsset ? std::optional<FirmwareAsset>(asset("2.0.0", 8)) : std::nullopt);
        EXPECT_TRUE(fixture.downloads.entries[0].cancelled);
        const std::string expected = withAsset ? "Firmware upload canceled." : "Checking for firmware updates.";
        EXPECT_EQ(fixture.service.status().phase, Phase::idle);
        EXPECT_EQ(fixture.service.status().message, expected);
        const int changesBefore = changes;
        fixture.downloads.entries[0].completion({ std::nullopt, "The network connection was lost." });
        EXPECT_EQ(fixture.service.status().message, expected);
        EXPECT_EQ(changes, changesBefore);
    }
}

TEST(FirmwareUploadServiceTests, AFailedDownloadReportsItsDescriptionWithTheAssetSize)
{
    Fixture fixture;
    fixture.service.start(asset("3.0.0", 8192));
    fixture.downloads.entries[0].completion({ std::nullopt, "Firmware download failed with HTTP status 404." });
    EXPECT_EQ(fixture.service.status(),
        (FirmwareUploadStatus {
            Phase::failed, "Failed to download firmware: Firmware download failed with HTTP status 404.", 0, 8192 }));
}

TEST(FirmwareUploadServiceTests, ResetDropsTheDownloadAndKeepsTheStatus)
{
    Fixture fixture;
    fixture.service.start(asset("4.0.0", 16));
    const FirmwareUploadStatus before = fixture.service.status();
    fixture.service.resetFirmwareSession();
    EXPECT_TRUE(fixture.downloads.entries[0].cancelled);
    fixture.downloads.entries[0].completion({ Data(16, 0xAB), {} });
    EXPECT_EQ(fixture.service.status(), before);
    EXPECT_FALSE(fixture.service.isActive());
}

TEST(FirmwareUploadServiceTests, ACompletionAfterTheServiceIsGoneIsHarmless)
{
    FirmwareUploadService::DownloadCompletion late;
    {
        Fixture fixture;
        fixture.service.start(asset("5.0.0", 4));
        late = fixture.downloads.entries[0].completion;
    }
    late({ Data { 1, 2, 3, 4 }, {} });
    SUCCEED();
}

} // namespace
} // namespace tavrik::test
