#include "TavrikCore/Backup/BackupMigrationPipeline.hpp"
#include "TavrikLink/Views/BackupFileActions.hpp"
#include "TavrikLink/Views/FirmwarePanePresenter.hpp"
#include "TavrikLink/Views/LegacyUpgradeState.hpp"
#include "TavrikLink/Views/SettingsPanePresenter.hpp"
#include "TavrikLink/Views/WifiSettingsPresenter.hpp"
#include "tests/controller/ControllerTestSupport.hpp"
#include "tests/support/qt/QtTestSupport.hpp"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <set>
#include <utility>

namespace tavrik::test {
namespace {

using Phase = FirmwareUploadStatus::Phase;
using namespace std::chrono_literals;

// The backup actions over one file in a temporary folder, and a window that records what they change.
struct BackupWorld {
    struct Panel : BackupFilePanel {
        QString file;
        std::optional<QString> chooseSaveLocation(const SaveRequest&) override { return file; }
        std::optional<QString> chooseFileToOpen(const OpenRequest&) override { return file; }
    } panel;
    QTemporaryDir folder;
    LegacyUpgradeState legacy;
    std::vector<std::string> window;
    std::unique_ptr<BackupFileActions> actions;

    explicit BackupWorld(const QString& fileName) { panel.file = folder.filePath(fileName); }

    BackupFileActions& actionsOn(TavrikBleCentral& controller)
    {
        actions = std::make_unique<BackupFileActions>(controller,
            BackupFileActions::Window { [this] { window.push_back("schedules"); }, [this] { window.push_back("tags"); },
                [this](std::optional<std::uint32_t>) { window.push_back("routine"); },
                [this] { window.push_back("routines pane"); } },
            panel, legacy);
        return *actions;
    }
};

struct PanesFollowControllerTest : ControllerTest {
    bool sent(const std::string& command) const
    {
        const auto commands = device->receivedCommands();
        return std::find(commands.begin(), commands.end(), command) != commands.end();
    }

    void sendAsDevice(const Json& message)
    {
        device->send(message);
        settle();
    }

    void loadDevice(const std::optional<std::string>& killSwitchUid, bool wifi)
    {
        FakeTavrik& tavrik = addDevice();
        SyncSettingsPayload settings;
        settings.muteNonAlarmSounds = 1;
        settings.killSwitchUid = killSwitchUid;
        tavrik.data.settings = settings;
        tavrik.data.tags = { { 4, "04 A1 B2", "Keyring" }, { 5, "04 C3 D4", "Desk" } };
        if (wifi) {
            tavrik.data.wifi = WifiCapabilityPayload { 1, 3, {} };
        }
        loadFromDevice();
        ASSERT_TRUE(controller->hasLoadedData());
    }
};

TEST_F(PanesFollowControllerTest, SettingsPaneShowsTheLoadedSettings)
{
    makeController();
    SettingsPanePresenter pane(*controller);
    int changes = 0;
    QObject::connect(&pane, &SettingsPanePresenter::changed, [&] { ++changes; });
    EXPECT_FALSE(pane.killSwitchSupported());

    loadDevice("04 c3 d4", true);
    EXPECT_GT(changes, 0);
    EXPECT_EQ(pane.state(), SettingsPanePresenter::readState(*controller));
    EXPECT_TRUE(pane.muteNonAlarmSounds());
    EXPECT_TRUE(pane.killSwitchSupported());
    EXPECT_EQ(pane.killSwitchTagName(), "Desk");
    EXPECT_TRUE(pane.wifiSectionVisible());
    EXPECT_TRUE(pane.state().isConnected);
}

TEST_F(PanesFollowControllerTest, SettingsPaneWithoutKillSwitchOrWifi)
{
    makeController();
    SettingsPanePresenter pane(*controller);
    loadDevice(std::nullopt, false);
    EXPECT_FALSE(pane.killSwitchSupported());
    EXPECT_FALSE(pane.wifiSectionVisible());
}

TEST_F(PanesFollowControllerTest, SettingsPaneShowsARefusedChangeWithTheDevicesValue)
{
    makeController();
    SettingsPanePresenter pane(*controller);
    loadDevice("04 A1 B2", false);
    device->answerCommand = [](const std::string& channel, const std::string&) {
        return channel == "settings" ? std::vector<Json> { { { "type", "error" } } } : std::vector<Json> {};
    };
    pane.setMuteNonAlarmSounds(false);
    EXPECT_FALSE(pane.muteNonAlarmSounds());
    scheduler.advance(200ms);
    settle();
    EXPECT_EQ(pane.settingsError(), "Settings update failed");
    EXPECT_TRUE(pane.muteNonAlarmSounds());

    device->answerCommand = nullptr;
    pane.setMuteNonAlarmSounds(false);
    EXPECT_EQ(pane.settingsError(), std::nullopt);
}

TEST_F(PanesFollowControllerTest, TheWifiSheetShowsARefusedRequestWhileItIsOpen)
{
    makeController();
    controller->beginReviewDemo();
    ASSERT_TRUE(controller->wifiSupported());
    ContentViewPresenter window { ContentViewPresenter::Actions {} };
    WifiSettingsPresenter wifi(*controller, window);
    const std::string refusal = "Wi-Fi changes and checks require a connected Tavrik.";

    wifi.beginAddingWifiCredential();
    ASSERT_TRUE(window.state().showingWifiCredentialEditor);
    EXPECT_EQ(wifi.activityText(), refusal);
    EXPECT_FALSE(wifi.activityShowsProgress());
    wifi.typeNetworkName("Office");
    wifi.save();
    EXPECT_EQ(wifi.activityText(), refusal);
    // The section's own row stays hidden under the sheet.
    EXPECT_EQ(wifi.sectionMessage(), std::nullopt);
}

TEST_F(PanesFollowControllerTest, FirmwarePaneFollowsTheUploadStatus)
{
    makeController();
    FirmwarePanePresenter pane(FirmwarePanePresenter::Flow::firmwarePane, {});
    pane.follow(*controller);
    EXPECT_EQ(pane.detail().values().sourceDescription, controller->firmwareSourceDescription());
    EXPECT_EQ(pane.detail().values().channelDescription, controller->firmwareChannelDescription());
    EXPECT_EQ(pane.detail().statusMessage(), QString::fromStdString(controller->firmwareUpload().status().message));

    controller->firmwareUpload().setFirmwareStatus(Phase::uploading, "Uploading firmware", 512, 2048);
    EXPECT_EQ(pane.detail().statusMessage(), QStringLiteral("Uploading firmware"));
    EXPECT_DOUBLE_EQ(pane.detail().progress(), 0.25);
    EXPECT_TRUE(pane.detail().cancelVisible());

    loadDevice(std::nullopt, false);
    EXPECT_EQ(pane.detail().values().deviceFirmwareVersion, "1.4.0");
    EXPECT_EQ(pane.detail().sourceRows()[2].value, QStringLiteral("m5stick-s3"));
}

TEST_F(PanesFollowControllerTest, BackupActionsReadTheControllersState)
{
    makeController();
    const BackupFileActions::Device device = BackupFileActions::deviceFor(*controller);
    EXPECT_FALSE(device.hasLoadedData());
    EXPECT_EQ(device.firstRoutineId(), std::nullopt);
    loadDevice(std::nullopt, false);
    EXPECT_TRUE(device.hasLoadedData());
    EXPECT_FALSE(device.legacyFirmwareUpgradeRequired());
    EXPECT_EQ(device.backupMigrationWarnings(), controller->backupMigrationWarnings());
}

TEST_F(PanesFollowControllerTest, KillSwitchScanThroughTheDevice)
{
    makeController();
    SettingsPanePresenter pane(*controller);
    loadDevice("", false);
    ASSERT_TRUE(pane.killSwitchSupported());
    EXPECT_FALSE(pane.hasKillSwitchTag());

    pane.beginKillSwitchScan();
    settle();
    EXPECT_EQ(pane.killSwitchScanStatusText(), QStringLiteral("Starting tag scan\u2026"));
    sendAsDevice({ { "type", "scan_pending" } });
    EXPECT_EQ(pane.killSwitchScanStatusText(),
        QStringLiteral("Press Tavrik's button and hold the kill switch tag near the reader."));

    sendAsDevice({ { "type", "scan_result" }, { "uid", "04 c3  d4" } });
    EXPECT_FALSE(pane.killSwitchScanActive());
    EXPECT_FALSE(pane.statusRowVisible());
    EXPECT_FALSE(controller->tagScanSessionActive());
    EXPECT_EQ(controller->killSwitchUid(), "04 C3 D4");
    EXPECT_EQ(pane.killSwitchNameText(), QStringLiteral("Desk"));
    scheduler.advance(200ms);
    settle();
    EXPECT_TRUE(sent("settings:update killSwitchUid=\"04 C3 D4\""));
}

TEST_F(PanesFollowControllerTest, KillSwitchScanFailureAndCancel)
{
    makeController();
    SettingsPanePresenter pane(*controller);
    loadDevice("04 A1 B2", false);

    pane.beginKillSwitchScan();
    settle();
    sendAsDevice({ { "type", "scan_timeout" } });
    EXPECT_FALSE(pane.killSwitchScanActive());
    EXPECT_EQ(pane.killSwitchScanStatusText(), QStringLiteral("Kill switch scan timed out"));
    EXPECT_TRUE(pane.statusIsError());
    EXPECT_EQ(controller->killSwitchUid(), "04 A1 B2");

    // Cancel ends the controller's scan session.
    pane.beginKillSwitchScan();
    settle();
    ASSERT_TRUE(controller->tagScanSessionActive());
    pane.cancelKillSwitchScan();
    settle();
    EXPECT_FALSE(controller->tagScanSessionActive());
    EXPECT_FALSE(pane.statusRowVisible());
}

TEST_F(PanesFollowControllerTest, BackupExportThenImportThroughTheController)
{
    BackupWorld world("tavrik-data.json");
    makeController();
    BackupFileActions& actions = world.actionsOn(*controller);
    const auto& panel = world.panel;
    const auto& window = world.window;
    loadDevice("04 A1 B2", false);
    const std::vector<TagInfo> tags = controller->tags();

    ASSERT_EQ(actions.exportTavrikData(), panel.file);
    ASSERT_TRUE(actions.dataTransferNotice());
    EXPECT_EQ(actions.dataTransferNotice()->title, QStringLiteral("Export Complete"));
    QFile file(panel.file);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(BackupMigrationPipeline::migrate(file.readAll().toStdString()).envelope.tags, tags);

    actions.importTavrikData();
    ASSERT_TRUE(processEventsUntil([&] { return !actions.isImporting(); }));
    EXPECT_EQ(actions.dataTransferNotice()->title, QStringLiteral("Import Started"));
    EXPECT_EQ(window, (std::vector<std::string> { "schedules", "tags", "routine", "routines pane" }));
    settle();
    ASSERT_TRUE(device->lastRestore());
    EXPECT_EQ(device->lastRestore()->tags, tags);
}

TEST_F(PanesFollowControllerTest, ALargeRoutineIsConvertedAwayFromTheWindowAndLandsWhole)
{
    BackupWorld world("large-routine.json");
    makeController();
    BackupFileActions& actions = world.actionsOn(*controller);
    std::deque<std::pair<std::function<void()>, std::function<void()>>> queued;
    actions.setBackgroundWork([&](std::function<void()> work, std::function<void()> done) {
        queued.emplace_back(std::move(work), std::move(done));
    });
    loadDevice(std::nullopt, false);

    constexpr std::size_t stepCount = 3000;
    Json steps = Json::array();
    for (std::size_t step = 0; step < stepCount; ++step) {
        steps.push_back({ { "id", step + 1 }, { "position", step }, { "tagId", "4" }, { "seconds", 60 },
            { "instruction", "Step" } });
    }
    Json document = parseJson(controller->exportSyncData());
    document["routines"] = Json::array({ { { "id", 7 }, { "label", "Everything" }, { "groups", Json::array() },
        { "startTagIds", Json::array() }, { "steps", steps } } });
    QFile file(world.panel.file);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray::fromStdString(document.dump()));
    file.close();

    actions.importTavrikData();
    ASSERT_EQ(queued.size(), 1u);
    auto [work, done] = std::move(queued.front());
    work();
    // Every new node draws its id from the controller's source: what the window's turn draws shows
    // whether it converted the routine itself.
    const std::uint64_t before = random.nextUInt64();
    done();
    const std::uint64_t drawnOnTheWindow = random.nextUInt64() - before - 1;
    EXPECT_LT(drawnOnTheWindow, 100u) << "the window's turn converted the routine";

    ASSERT_EQ(actions.dataTransferNotice()->title, QStringLiteral("Import Started"))
        << actions.dataTransferNotice()->message.toStdString();
    ASSERT_TRUE(controller->routineDetails().contains(7));
    const RoutineDetailModel& detail = controller->routineDetails().at(7);
    ASSERT_EQ(detail.steps.size(), stepCount);
    std::set<Uuid> ids;
    std::set<std::uint32_t> stepIds;
    for (const RoutineStepModel& step : detail.steps) {
        ids.insert(step.id);
        stepIds.insert(step.stepId);
    }
    EXPECT_EQ(ids.size(), stepCount);
    EXPECT_EQ(stepIds.size(), stepCount);
    settle();
    ASSERT_TRUE(device->lastRestore());
    ASSERT_EQ(device->lastRestore()->routines.size(), 1u);
    EXPECT_EQ(device->lastRestore()->routines.front().steps.size(), stepCount);
}

TEST_F(PanesFollowControllerTest, ARefusedImportLeavesTheWindowAlone)
{
    BackupWorld world("other-board.json");
    makeController();
    BackupFileActions& actions = world.actionsOn(*controller);
    const auto& panel = world.panel;
    const auto& window = world.window;
    loadDevice("04 A1 B2", false);
    Json document = parseJson(controller->exportSyncData());
    document["hardwareTarget"] = "esp-mystery";
    document["tags"] = Json::array();
    QFile file(panel.file);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray::fromStdString(document.dump()));
    file.close();
    const std::vector<TagInfo> tags = controller->tags();

    actions.importTavrikData();
    ASSERT_TRUE(processEventsUntil([&] { return !actions.isImporting(); }));
    ASSERT_TRUE(actions.dataTransferNotice());
    EXPECT_EQ(actions.dataTransferNotice()->title, QStringLiteral("Import Failed"));
    EXPECT_EQ(actions.dataTransferNotice()->message,
        QStringLiteral("Backup is for unsupported hardware target 'esp-mystery'."));
    EXPECT_TRUE(window.empty());
    EXPECT_EQ(controller->tags(), tags);
    EXPECT_EQ(controller->deviceHardwareTarget(), FirmwareHardwareTarget::m5StickS3);
}

TEST_F(PanesFollowControllerTest, LegacyUpgradeFollowsTheController)
{
    const struct {
        TavrikBleProtocolProfile profile;
        bool started;
        bool keepsBackup;
        bool offersRestore;
    } cases[] = {
        // Another legacy board needs a backup of its own.
        { TavrikBleProtocolProfile::legacyUnencryptedV1, false, false, false },
        { TavrikBleProtocolProfile::legacyUnencryptedV1, true, true, false },
        // The upgraded board came back on the secure profile.
        { TavrikBleProtocolProfile::secureV2, true, true, true },
        { TavrikBleProtocolProfile::secureV2, false, true, false },
    };
    for (const auto& c : cases) {
        controller.reset();
        makeController();
        LegacyUpgradeState legacy;
        legacy.follow(*controller);
        legacy.setMigrationBackupPath(QStringLiteral("/tmp/tavrik-legacy-migration-backup.json"));
        legacy.setUpgradeStarted(c.started);
        int offers = 0;
        QObject::connect(&legacy, &LegacyUpgradeState::restoreOffered, [&] { ++offers; });

        addDevice(c.profile);
        loadFromDevice();
        ASSERT_TRUE(controller->hasLoadedData());
        EXPECT_EQ(
            controller->legacyFirmwareUpgradeRequired(), c.profile == TavrikBleProtocolProfile::legacyUnencryptedV1);
        EXPECT_EQ(legacy.hasMigrationBackup(), c.keepsBackup);
        EXPECT_EQ(offers, c.offersRestore ? 1 : 0);

        // A failed upload ends the upgrade; later failed status lines change nothing more.
        controller->firmwareUpload().setFirmwareStatus(Phase::failed, "Firmware upload timed out");
        EXPECT_FALSE(legacy.upgradeStarted());
        legacy.setUpgradeStarted(true);
        controller->firmwareUpload().setFirmwareStatus(Phase::failed, "Still failed");
        EXPECT_TRUE(legacy.upgradeStarted());
    }
}

} // namespace
} // namespace tavrik::test
