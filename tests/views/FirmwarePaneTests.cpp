#include "TavrikLink/Views/ByteCountText.hpp"
#include "TavrikLink/Views/FirmwareDetailPresenter.hpp"
#include "TavrikLink/Views/FirmwarePanePresenter.hpp"
#include "TavrikLink/Views/LegacyUpgradeState.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace tavrik {
namespace {

using Phase = FirmwareUploadStatus::Phase;
using Row = FirmwareDetailPresenter::Row;

FirmwareAsset sampleAsset()
{
    FirmwareAsset asset;
    asset.fileName = "tavrik-m5stick-c-1.4.0.bin";
    asset.version = "1.4.0";
    asset.target = FirmwareHardwareTarget::m5StickC;
    asset.sizeBytes = 1'234'567;
    asset.sha256 = "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08";
    return asset;
}

FirmwareDetailValues sampleValues()
{
    FirmwareDetailValues values;
    values.asset = sampleAsset();
    values.deviceFirmwareVersion = "1.3.9";
    values.sourceDescription = "Published HTTPS";
    values.channelDescription = "stable";
    values.manifestDescription = "https://firmware.example/releases/firmware/channels/stable.json";
    values.availableVersion = "1.4.0";
    values.status = { Phase::idle, "Firmware 1.4.0 is available.", 0, 0 };
    return values;
}

TEST(ByteCountTextTests, FileSizesInDecimalUnits)
{
    const struct {
        std::int64_t bytes;
        const char* text;
    } cases[] = {
        { 0, "Zero KB" },
        { 1, "1 byte" },
        { 999, "999 bytes" },
        { 1000, "1 KB" },
        { 1499, "1 KB" },
        { 1500, "2 KB" },
        { 999'499, "999 KB" },
        { 999'500, "1 MB" },
        { 1'234'567, "1.2 MB" },
        { 2'000'000, "2 MB" },
        { 1'234'567'890, "1.23 GB" },
        { 5'000'000'000'000, "5 TB" },
        { std::numeric_limits<std::int64_t>::max(), "9.22 EB" },
        { -2048, "-2 KB" },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fileStyleByteCount(c.bytes), c.text) << c.bytes;
    }
}

TEST(FirmwareDetailTests, BoxesShowTheSourceAndTheSelectedBuild)
{
    FirmwareDetailValues values = sampleValues();
    values.asset->minimumTavrikLinkVersion = "2.1";
    const FirmwareDetailPresenter detail(values);
    EXPECT_EQ(detail.sourceRows(),
        (std::vector<Row> {
            { "Source", "Published HTTPS" },
            { "Channel", "stable" },
            { "Target", "m5stick-c" },
            { "Version", "1.4.0" },
            { "Manifest", "https://firmware.example/releases/firmware/channels/stable.json" },
        }));
    EXPECT_EQ(detail.assetRows(),
        (std::vector<Row> {
            { "Installed", "1.3.9" },
            { "File", "tavrik-m5stick-c-1.4.0.bin" },
            { "Latest", "1.4.0" },
            { "OTA Requires Tavrik Link", "2.1" },
            { "Size", QString::fromStdString(fileStyleByteCount(1'234'567)) },
            { "SHA-256", "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08" },
        }));
    EXPECT_TRUE(detail.installVisible());
}

TEST(FirmwareDetailTests, BeforeAnyLookupNothingIsLoaded)
{
    FirmwareDetailValues values;
    values.deviceHardwareTarget = FirmwareHardwareTarget::tEmbedCc1101;
    const FirmwareDetailPresenter detail(values);
    EXPECT_EQ(detail.sourceRows()[3], (Row { "Version", "Not loaded" }));
    EXPECT_EQ(detail.sourceRows()[2], (Row { "Target", "t-embed-cc1101" }));
    EXPECT_FALSE(detail.hasAsset());
    EXPECT_TRUE(detail.assetRows().empty());
    EXPECT_EQ(detail.missingAssetText(),
        QStringLiteral("No firmware build is available for t-embed-cc1101. See the status below for the source path "
                       "and required build action."));
    EXPECT_FALSE(detail.installVisible());
    EXPECT_FALSE(detail.installEnabled());
}

TEST(FirmwareDetailTests, InstallButtonTitle)
{
    const struct {
        std::optional<std::string> installed;
        const char* latest;
        std::optional<std::string> fixedTitle;
        const char* title;
        const char* installedText;
    } cases[] = {
        { "1.3.9", "1.4.0", std::nullopt, "Install Update", "1.3.9" },
        { "1.9", "1.10", std::nullopt, "Install Update", "1.9" },
        { "1.4.0", "1.4.0", std::nullopt, "Reinstall Latest", "1.4.0" },
        { "1.5", "1.4.0", std::nullopt, "Reinstall Latest", "1.5" },
        { std::nullopt, "1.4.0", std::nullopt, "Reinstall Latest", "Unknown" },
        { "1.3.9", "1.4.0", "Upgrade Firmware", "Upgrade Firmware", "1.3.9" },
    };
    for (const auto& c : cases) {
        FirmwareDetailValues values = sampleValues();
        values.deviceFirmwareVersion = c.installed;
        values.asset->version = c.latest;
        values.installActionTitle = c.fixedTitle;
        const FirmwareDetailPresenter detail(values);
        EXPECT_EQ(detail.installTitle(), QString::fromUtf8(c.title)) << c.latest;
        EXPECT_EQ(detail.assetRows()[0], (Row { "Installed", c.installedText }));
    }
}

TEST(FirmwareDetailTests, ButtonsByUploadPhase)
{
    const struct {
        Phase phase;
        bool installEnabled;
        bool cancelVisible;
    } cases[] = {
        { Phase::idle, true, false },
        { Phase::checking, false, false },
        { Phase::downloading, false, true },
        { Phase::waitingForDevice, false, false },
        { Phase::connecting, false, false },
        { Phase::preparing, false, true },
        { Phase::uploading, false, true },
        { Phase::finalizing, false, true },
        { Phase::completed, true, false },
        { Phase::failed, true, false },
    };
    for (const auto& c : cases) {
        FirmwareDetailValues values = sampleValues();
        values.status.phase = c.phase;
        const FirmwareDetailPresenter detail(values);
        const auto name = firmwareUploadPhaseName(c.phase);
        EXPECT_EQ(detail.installEnabled(), c.installEnabled) << name;
        EXPECT_EQ(detail.cancelVisible(), c.cancelVisible) << name;

        // Not allowed at all outweighs every phase.
        values.installEnabled = false;
        EXPECT_FALSE(FirmwareDetailPresenter(values).installEnabled()) << name;
    }
}

TEST(FirmwareDetailTests, ProgressAndByteCounts)
{
    const struct {
        std::int64_t done;
        std::int64_t total;
        double progress;
        bool visible;
    } cases[] = {
        { 0, 0, 0.0, false },
        { 500, 0, 0.0, false },
        { 0, -5, 0.0, false },
        { 0, 1, 0.0, true },
        { 250'000, 1'000'000, 0.25, true },
        { 1'000'000, 1'000'000, 1.0, true },
        // More acknowledged than the image holds never overfills the bar.
        { 1'500'000, 1'000'000, 1.0, true },
    };
    for (const auto& c : cases) {
        FirmwareDetailValues values = sampleValues();
        values.status = { Phase::uploading, "Uploading firmware", c.done, c.total };
        const FirmwareDetailPresenter detail(values);
        EXPECT_DOUBLE_EQ(detail.progress(), c.progress) << c.done << "/" << c.total;
        EXPECT_EQ(detail.progressVisible(), c.visible) << c.done << "/" << c.total;
        if (c.visible) {
            EXPECT_EQ(detail.byteCountText(),
                QString::fromStdString(fileStyleByteCount(c.done) + " / " + fileStyleByteCount(c.total)));
        } else {
            EXPECT_EQ(detail.byteCountText(), std::nullopt);
        }
    }
}

TEST(FirmwareDetailTests, StatusToneByPhase)
{
    using Tone = FirmwareDetailPresenter::StatusTone;
    const struct {
        Phase phase;
        Tone tone;
    } cases[] = {
        { Phase::completed, Tone::success },
        { Phase::failed, Tone::failure },
        { Phase::uploading, Tone::normal },
        { Phase::idle, Tone::normal },
    };
    for (const auto& c : cases) {
        FirmwareDetailValues values = sampleValues();
        values.status.phase = c.phase;
        EXPECT_EQ(FirmwareDetailPresenter(values).statusTone(), c.tone);
    }
}

class FirmwarePaneTest : public ::testing::Test {
protected:
    std::vector<std::string> calls;
    LegacyUpgradeState legacy;

    FirmwareOperations operations()
    {
        return {
            [this] { calls.push_back("refresh"); },
            [this] { calls.push_back("install"); },
            [this] { calls.push_back("cancel"); },
        };
    }
};

TEST_F(FirmwarePaneTest, FirmwarePaneInstallsAndCancels)
{
    FirmwarePanePresenter pane(FirmwarePanePresenter::Flow::firmwarePane, operations());
    FirmwareDetailValues values = sampleValues();
    // The flow decides the button's own fields, whatever the values say.
    values.installEnabled = false;
    values.installActionTitle = "Upgrade Firmware";
    pane.setValues(values);
    EXPECT_TRUE(pane.detail().installEnabled());
    EXPECT_EQ(pane.detail().installTitle(), QStringLiteral("Install Update"));

    const FirmwareDetailActions actions = pane.actions();
    actions.onRefresh();
    actions.onInstall();
    actions.onCancel();
    actions.onSetLocalBuilds(true);
    EXPECT_EQ(calls, (std::vector<std::string> { "refresh", "install", "cancel" }));
    EXPECT_FALSE(legacy.upgradeStarted());

    // An install click that raced the upload's start does nothing.
    values.status.phase = Phase::uploading;
    pane.setValues(values);
    pane.install();
    EXPECT_EQ(calls.size(), 3U);
}

TEST_F(FirmwarePaneTest, LegacyUpgradeWaitsForTheMigrationBackup)
{
    FirmwarePanePresenter pane(FirmwarePanePresenter::Flow::legacyUpgrade, operations(), &legacy);
    int changes = 0;
    QObject::connect(&pane, &FirmwarePanePresenter::changed, [&] { ++changes; });
    pane.setValues(sampleValues());
    EXPECT_EQ(pane.detail().installTitle(), QStringLiteral("Upgrade Firmware"));
    EXPECT_FALSE(pane.detail().installEnabled());
    pane.install();
    EXPECT_TRUE(calls.empty());
    EXPECT_FALSE(legacy.upgradeStarted());

    legacy.setMigrationBackupPath(QStringLiteral("/tmp/tavrik-legacy-migration-backup.json"));
    EXPECT_EQ(changes, 2);
    EXPECT_TRUE(pane.detail().installEnabled());
    pane.install();
    EXPECT_TRUE(legacy.upgradeStarted());
    pane.cancel();
    EXPECT_FALSE(legacy.upgradeStarted());
    EXPECT_EQ(calls, (std::vector<std::string> { "install", "cancel" }));
}

TEST(LegacyUpgradeStateTests, BackupIsForgottenWhenAnotherLegacyBoardNeedsOne)
{
    const struct {
        bool started;
        bool required;
        bool keepsBackup;
    } cases[] = {
        { false, true, false },
        { true, true, true },
        { false, false, true },
    };
    for (const auto& c : cases) {
        LegacyUpgradeState state;
        state.setMigrationBackupPath(QStringLiteral("/tmp/backup.json"));
        state.setUpgradeStarted(c.started);
        state.legacyUpgradeRequirementChanged(c.required);
        EXPECT_EQ(state.hasMigrationBackup(), c.keepsBackup) << c.started << c.required;
    }
}

TEST(LegacyUpgradeStateTests, RestoreIsOfferedAfterAnUpgradeBegunHere)
{
    const struct {
        bool started;
        bool backup;
        bool stillLegacy;
        bool offer;
    } cases[] = {
        { true, true, false, true },
        { false, true, false, false },
        { true, false, false, false },
        { true, true, true, false },
    };
    for (const auto& c : cases) {
        LegacyUpgradeState state;
        if (c.backup) {
            state.setMigrationBackupPath(QStringLiteral("/tmp/backup.json"));
        }
        state.setUpgradeStarted(c.started);
        EXPECT_EQ(state.shouldOfferRestore(c.stillLegacy), c.offer) << c.started << c.backup << c.stillLegacy;
    }
}

} // namespace
} // namespace tavrik
