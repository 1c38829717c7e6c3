#include "TavrikCore/Firmware/FirmwareAsset.hpp"
#include "TavrikCore/Firmware/FirmwareHardwareTarget.hpp"
#include "TavrikCore/Firmware/FirmwareUpdateNotice.hpp"
#include "TavrikCore/Firmware/FirmwareUploadStatus.hpp"

#include <gtest/gtest.h>

namespace tavrik {
namespace {

TEST(FirmwareHardwareTarget, RawValuesNamesAndOrder)
{
    struct Case {
        FirmwareHardwareTarget target;
        const char* raw;
        const char* name;
    };
    const Case cases[] = {
        { FirmwareHardwareTarget::m5StickC, "m5stick-c", "M5 StickC Plus2" },
        { FirmwareHardwareTarget::m5StickS3, "m5stick-s3", "M5 StickS3" },
        { FirmwareHardwareTarget::tEmbedCc1101, "t-embed-cc1101", "LILYGO T-Embed CC1101" },
    };
    ASSERT_EQ(allFirmwareHardwareTargets.size(), std::size(cases));
    for (std::size_t index = 0; index < std::size(cases); ++index) {
        const Case& c = cases[index];
        EXPECT_EQ(allFirmwareHardwareTargets[index], c.target);
        EXPECT_EQ(rawValue(c.target), c.raw);
        EXPECT_EQ(displayName(c.target), c.name);
        EXPECT_EQ(firmwareHardwareTargetFromRawValue(c.raw), c.target);
        EXPECT_EQ(toJson(c.target), Json(c.raw));
        EXPECT_EQ(firmwareHardwareTargetFromJson(Json(c.raw)), c.target);
    }
}

TEST(FirmwareHardwareTarget, RefusesAnythingButTheExactRawValue)
{
    for (const char* text : { "M5STICK-C", "m5stick-c ", " m5stick-c", "m5stickc", "" }) {
        EXPECT_FALSE(firmwareHardwareTargetFromRawValue(text).has_value()) << text;
        EXPECT_THROW(firmwareHardwareTargetFromJson(Json(text)), JsonDecodeError) << text;
    }
    EXPECT_THROW(firmwareHardwareTargetFromJson(Json(1)), JsonDecodeError);
}

TEST(FirmwareAsset, EqualityCoversTheFactoryImages)
{
    const Url url = *Url::parse("https://fw.example/fw.bin");
    FirmwareAsset first {
        .url = url, .fileName = "fw.bin", .version = "1.0.0", .sizeBytes = 3, .sha256 = "ab", .manifestURL = url
    };
    FirmwareAsset second = first;
    EXPECT_EQ(first, second);
    second.factoryAssets["m5stick-c"]
        = FirmwareFactoryAsset { .url = url, .fileName = "f.bin", .sizeBytes = 9, .sha256 = "cd" };
    EXPECT_NE(first, second);
}

TEST(FirmwareUploadStatus, ProgressStaysWithinZeroAndOne)
{
    struct Case {
        std::int64_t transferred;
        std::int64_t total;
        double progress;
    };
    const Case cases[]
        = { { 5, 0, 0 }, { 5, -1, 0 }, { 0, 10, 0 }, { 5, 10, 0.5 }, { 10, 10, 1 }, { 15, 10, 1 }, { -5, 10, 0 } };
    for (const Case& c : cases) {
        const FirmwareUploadStatus status { .bytesTransferred = c.transferred, .totalBytes = c.total };
        EXPECT_DOUBLE_EQ(status.progress(), c.progress) << c.transferred << "/" << c.total;
    }
}

TEST(FirmwareUploadStatus, PhaseNamesAreTheCaseNames)
{
    using Phase = FirmwareUploadStatus::Phase;
    const std::pair<Phase, const char*> cases[] = {
        { Phase::idle, "idle" },
        { Phase::checking, "checking" },
        { Phase::downloading, "downloading" },
        { Phase::waitingForDevice, "waitingForDevice" },
        { Phase::connecting, "connecting" },
        { Phase::preparing, "preparing" },
        { Phase::uploading, "uploading" },
        { Phase::finalizing, "finalizing" },
        { Phase::completed, "completed" },
        { Phase::failed, "failed" },
    };
    for (const auto& [phase, name] : cases) {
        EXPECT_EQ(firmwareUploadPhaseName(phase), name);
    }
}

TEST(FirmwareUpdateNotice, EveryNoticeHasItsOwnId)
{
    const FirmwareUpdateNotice first("1.4.0", "Firmware 1.4.0 is available.");
    const FirmwareUpdateNotice second("1.4.0", "Firmware 1.4.0 is available.");
    EXPECT_NE(first.id, second.id);
    EXPECT_NE(first, second);
    EXPECT_EQ(first, first);
}

} // namespace
} // namespace tavrik
