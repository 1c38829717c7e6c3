#include "TavrikLink/Ui/FirmwareDetailView.hpp"
#include "TavrikLink/Ui/FirmwarePane.hpp"
#include "TavrikLink/Views/FirmwarePanePresenter.hpp"
#include "TavrikLink/Views/LegacyUpgradeState.hpp"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <string>
#include <vector>

namespace tavrik {
namespace {

using Phase = FirmwareUploadStatus::Phase;

FirmwareDetailValues withAsset(FirmwareUploadStatus status)
{
    FirmwareDetailValues values;
    values.asset = FirmwareAsset {};
    values.asset->fileName = "tavrik-m5stick-c-1.4.0.bin";
    values.asset->version = "1.4.0";
    values.asset->sizeBytes = 1'048'576;
    values.deviceFirmwareVersion = "1.3.0";
    values.status = std::move(status);
    return values;
}

struct FirmwarePaneWidgetTest : ::testing::Test {
    std::vector<std::string> calls;
    FirmwarePanePresenter presenter { FirmwarePanePresenter::Flow::firmwarePane,
        { [this] { calls.push_back("refresh"); }, [this] { calls.push_back("install"); },
            [this] { calls.push_back("cancel"); } } };
    FirmwarePane pane { presenter };
    FirmwareDetailView& view = *pane.detailView();

    bool shown(const QWidget* widget) const { return widget->isVisibleTo(&pane); }
    bool showsText(const QString& text) const
    {
        for (const QLabel* label : pane.findChildren<QLabel*>()) {
            if (label->text() == text && shown(label)) {
                return true;
            }
        }
        return false;
    }
};

TEST_F(FirmwarePaneWidgetTest, UploadInProgress)
{
    pane.show();
    presenter.setValues(withAsset({ Phase::uploading, "Uploading firmware", 262'144, 1'048'576 }));
    EXPECT_TRUE(shown(view.progressBar()));
    EXPECT_EQ(view.progressBar()->value(), view.progressBar()->maximum() / 4);
    EXPECT_TRUE(shown(view.byteCountLabel()));
    EXPECT_TRUE(view.byteCountLabel()->text().contains(QStringLiteral(" / ")));
    EXPECT_EQ(view.statusLabel()->text(), QStringLiteral("Uploading firmware"));
    EXPECT_FALSE(view.installButton()->isEnabled());
    EXPECT_TRUE(shown(view.cancelButton()));
    EXPECT_TRUE(showsText(QStringLiteral("tavrik-m5stick-c-1.4.0.bin")));

    QTest::mouseClick(view.cancelButton(), Qt::LeftButton);
    QTest::mouseClick(view.refreshButton(), Qt::LeftButton);
    EXPECT_EQ(calls, (std::vector<std::string> { "cancel", "refresh" }));
}

TEST_F(FirmwarePaneWidgetTest, FailedUploadCanBeRetried)
{
    pane.show();
    presenter.setValues(withAsset({ Phase::failed, "Firmware upload timed out", 0, 0 }));
    EXPECT_FALSE(shown(view.progressBar()));
    EXPECT_FALSE(shown(view.byteCountLabel()));
    EXPECT_FALSE(shown(view.cancelButton()));
    // The hidden bar takes no room: the status line moves up into its place.
    QCoreApplication::processEvents();
    const int statusWithoutBar = view.statusLabel()->mapTo(&pane, QPoint()).y();
    presenter.setValues(withAsset({ Phase::uploading, "Uploading firmware", 1, 4 }));
    QCoreApplication::processEvents();
    EXPECT_GT(view.statusLabel()->mapTo(&pane, QPoint()).y(), statusWithoutBar);
    presenter.setValues(withAsset({ Phase::failed, "Firmware upload timed out", 0, 0 }));
    EXPECT_EQ(view.installButton()->text(), QStringLiteral("Install Update"));
    ASSERT_TRUE(view.installButton()->isEnabled());
    QTest::mouseClick(view.installButton(), Qt::LeftButton);
    EXPECT_EQ(calls, std::vector<std::string> { "install" });
}

TEST_F(FirmwarePaneWidgetTest, WithoutAnAssetTheBuildBoxGivesWayToTheExplanation)
{
    pane.show();
    FirmwareDetailValues values;
    values.status = { Phase::idle, "Checking for firmware updates.", 0, 0 };
    presenter.setValues(values);
    EXPECT_TRUE(showsText(QStringLiteral("Not loaded")));
    EXPECT_TRUE(showsText(FirmwareDetailPresenter(values).missingAssetText()));
    EXPECT_FALSE(shown(view.installButton()));
    EXPECT_FALSE(showsText(QStringLiteral("Installed")));
}

TEST(LegacyFirmwareSectionTests, UpgradeButtonWaitsForTheBackup)
{
    LegacyUpgradeState legacy;
    int installs = 0;
    FirmwarePanePresenter presenter(FirmwarePanePresenter::Flow::legacyUpgrade, { {}, [&] { ++installs; }, {} }, &legacy);
    FirmwareDetailView view;
    view.bind(presenter);
    view.show();
    presenter.setValues(withAsset({ Phase::idle, "Ready", 0, 0 }));
    EXPECT_EQ(view.installButton()->text(), QStringLiteral("Upgrade Firmware"));
    EXPECT_FALSE(view.installButton()->isEnabled());

    legacy.setMigrationBackupPath(QStringLiteral("/tmp/tavrik-legacy-migration-backup.json"));
    ASSERT_TRUE(view.installButton()->isEnabled());
    QTest::mouseClick(view.installButton(), Qt::LeftButton);
    EXPECT_EQ(installs, 1);
    EXPECT_TRUE(legacy.upgradeStarted());
}

} // namespace
} // namespace tavrik
