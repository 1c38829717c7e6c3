#include "TavrikLink/Ui/ContentView.hpp"
#include "TavrikLink/Ui/FirmwareDetailView.hpp"
#include "TavrikLink/Ui/FirmwarePane.hpp"
#include "TavrikLink/Ui/LegacyUpgradeView.hpp"
#include "TavrikLink/Ui/SettingsPane.hpp"
#include "TavrikLink/Ui/SidebarView.hpp"
#include "TavrikLink/Ui/TavrikLinkApplication.hpp"
#include "TavrikLink/Ui/TavrikLinkMainWindow.hpp"
#include "TavrikLink/Ui/WindowAlertView.hpp"
#include "TavrikLink/Views/BackupFileActions.hpp"
#include "TavrikLink/Views/BackupFilePanel.hpp"
#include "TavrikLink/Views/FirmwareDetailPresenter.hpp"
#include "TavrikLink/Views/FirmwarePanePresenter.hpp"
#include "TavrikLink/Views/LegacyUpgradeState.hpp"
#include "TavrikLink/Views/SettingsPanePresenter.hpp"
#include "TavrikLink/Views/WindowAlertQueue.hpp"
#include "TavrikLink/Views/WindowPanes.hpp"
#include "tests/controller/ControllerTestSupport.hpp"
#include "tests/support/qt/QtTestSupport.hpp"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

namespace tavrik::test {
namespace {

// Answers the save and open dialogs with one file and counts how often each was asked.
struct OneFilePanel : BackupFilePanel {
    QString file;
    int saves = 0;
    int opens = 0;
    std::optional<QString> chooseSaveLocation(const SaveRequest&) override
    {
        ++saves;
        return file;
    }
    std::optional<QString> chooseFileToOpen(const OpenRequest&) override
    {
        ++opens;
        return file;
    }
};

// The real window over a real controller, with the backup dialogs answered by the test.
class WindowPanesTest : public ControllerTest {
protected:
    OneFilePanel panel;
    std::unique_ptr<TavrikLinkApplication> app;

    ContentView& open()
    {
        app = std::make_unique<TavrikLinkApplication>(AppOptions {},
            TavrikLinkApplication::Environment { scheduler, TavrikResources(QStringLiteral("/nonexistent/bin")),
                [](int) {}, false, controller.get(), &clock, &panel });
        app->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&app->mainWindow()));
        settle();
        return *app->contentView();
    }

    void TearDown() override { app.reset(); }

    static QStringList labelTexts(QWidget* pane)
    {
        QStringList texts;
        for (auto* label : pane->findChildren<QLabel*>()) {
            if (label->isVisibleTo(pane)) {
                texts << label->text();
            }
        }
        return texts;
    }

    // Walks to the sidebar row of the given kind and gives the pane it shows.
    static QWidget* show(ContentView& view, SidebarPresenter::RowKind kind)
    {
        const auto rows = view.sidebar()->rows();
        const auto row
            = std::find_if(rows.begin(), rows.end(), [&](const SidebarPresenter::Row& r) { return r.kind == kind; });
        EXPECT_NE(row, rows.end());
        view.sidebar()->activateRow(static_cast<int>(row - rows.begin()));
        QCoreApplication::processEvents();
        return view.detailPane();
    }

    // Closes the backup notice on screen and gives its title and message.
    static std::pair<QString, QString> closeNotice(ContentView& view)
    {
        QMessageBox* alert = view.alertView()->shownBox();
        if (!alert) {
            return {};
        }
        std::pair<QString, QString> shown { alert->text(), alert->informativeText() };
        alert->defaultButton()->click();
        QCoreApplication::processEvents();
        EXPECT_EQ(view.alertView()->shownBox(), nullptr);
        EXPECT_FALSE(view.panes().backup().dataTransferNotice());
        return shown;
    }
};

TEST_F(WindowPanesTest, DemoSidebarWalkShowsTheSettingsAndFirmwarePanes)
{
    using Kind = SidebarPresenter::RowKind;
    makeController();
    controller->beginReviewDemo();
    ContentView& view = open();

    QWidget* settings = show(view, Kind::settings);
    ASSERT_NE(qobject_cast<SettingsPane*>(settings), nullptr);
    EXPECT_EQ(settings->objectName(), "settingsPane");
    const QStringList settingsTexts = labelTexts(settings);
    for (const QString& text : { SettingsPanePresenter::title(), SettingsPanePresenter::muteCaption(),
             SettingsPanePresenter::killSwitchTitle() }) {
        EXPECT_TRUE(settingsTexts.contains(text)) << text.toStdString();
    }
    EXPECT_EQ(static_cast<SettingsPane*>(settings)->muteToggle()->isChecked(), controller->muteNonAlarmSounds());

    QWidget* firmware = show(view, Kind::firmware);
    auto* firmwarePane = qobject_cast<FirmwarePane*>(firmware);
    ASSERT_NE(firmwarePane, nullptr);
    const QStringList firmwareTexts = labelTexts(firmware);
    for (const QString& text : { FirmwareDetailPresenter::title(), FirmwareDetailPresenter::summary() }) {
        EXPECT_TRUE(firmwareTexts.contains(text)) << text.toStdString();
    }
    EXPECT_EQ(firmwarePane->detailView()->refreshButton()->text(), FirmwareDetailPresenter::refreshTitle());

    // Every row can be walked to and back, and leaving the settings pane keeps the window whole.
    const auto rows = view.sidebar()->rows();
    for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
        view.sidebar()->activateRow(row);
        QCoreApplication::processEvents();
        ASSERT_NE(view.detailPane(), nullptr) << rows[static_cast<std::size_t>(row)].label;
    }
    EXPECT_NE(qobject_cast<SettingsPane*>(show(view, Kind::settings)), nullptr);

    // "Open Wi-Fi settings" reaches the settings pane as a request to show its Wi-Fi section.
    const int requests = view.panes().settings().wifiSettingsScrollRequest();
    view.presenter().modify([](ContentViewPresenter::State& state) { ++state.wifiSettingsScrollRequest; });
    EXPECT_EQ(view.panes().settings().wifiSettingsScrollRequest(), requests + 1);
}

TEST_F(WindowPanesTest, LeavingTheSettingsPaneEndsAKillSwitchScan)
{
    FakeTavrik& tavrik = addDevice();
    SyncSettingsPayload settingsPayload;
    settingsPayload.killSwitchUid = std::string();
    tavrik.data.settings = settingsPayload;
    loadFromDevice();
    ContentView& view = open();
    auto* settings = qobject_cast<SettingsPane*>(show(view, SidebarPresenter::RowKind::settings));
    ASSERT_NE(settings, nullptr);
    ASSERT_TRUE(view.panes().settings().killSwitchSupported());
    settings->scanButton()->click();
    settle();
    ASSERT_TRUE(view.panes().settings().killSwitchScanActive());

    show(view, SidebarPresenter::RowKind::firmware);
    settle();
    EXPECT_FALSE(view.panes().settings().killSwitchScanActive());
    EXPECT_FALSE(controller->tagScanSessionActive());
}

TEST_F(WindowPanesTest, FileMenuExportThenImportRestoresTheDevice)
{
    QTemporaryDir folder;
    panel.file = folder.filePath(QStringLiteral("tavrik-data.json"));
    FakeTavrik& tavrik = addDevice();
    tavrik.data.tags = { { 4, "04 A1 B2", "Keyring" }, { 5, "04 C3 D4", "Desk" } };
    loadFromDevice();
    ASSERT_TRUE(controller->hasLoadedData());
    const std::vector<TagInfo> tags = controller->tags();
    ContentView& view = open();
    TavrikLinkMainWindow& window = app->mainWindow();

    // The dialogs open on the next turn of the event loop, not inside the menu's handler.
    window.exportDataAction()->trigger();
    EXPECT_EQ(panel.saves, 0);
    settle();
    EXPECT_EQ(panel.saves, 1);
    ASSERT_TRUE(QFile::exists(panel.file));
    EXPECT_EQ(closeNotice(view),
        std::make_pair(QStringLiteral("Export Complete"), QStringLiteral("Exported Tavrik data to tavrik-data.json.")));

    window.importDataAction()->trigger();
    EXPECT_EQ(panel.opens, 0);
    settle();
    EXPECT_EQ(panel.opens, 1);
    ASSERT_TRUE(processEventsUntil([&] { return !view.panes().backup().isImporting(); }));
    const auto imported = closeNotice(view);
    EXPECT_EQ(imported.first, "Import Started");
    EXPECT_TRUE(imported.second.startsWith("Imported Tavrik data from tavrik-data.json."))
        << imported.second.toStdString();
    settle();
    ASSERT_TRUE(device->lastRestore());
    EXPECT_EQ(device->lastRestore()->tags, tags);
    EXPECT_EQ(view.presenter().state().selectedPane, ContentViewPresenter::SidebarPane::routines);
}

TEST_F(WindowPanesTest, AnImportThatCannotBeReadLeavesTheDeviceAlone)
{
    QTemporaryDir folder;
    panel.file = folder.filePath(QStringLiteral("broken.json"));
    QFile broken(panel.file);
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("{ not json");
    broken.close();
    addDevice();
    loadFromDevice();
    ContentView& view = open();

    app->mainWindow().importDataAction()->trigger();
    settle();
    ASSERT_TRUE(processEventsUntil([&] { return !view.panes().backup().isImporting(); }));
    EXPECT_EQ(closeNotice(view).first, "Import Failed");
    settle();
    EXPECT_FALSE(device->lastRestore());
}

TEST_F(WindowPanesTest, ALegacyBoardsUpgradeWaitsForItsSavedMigrationBackup)
{
    QTemporaryDir folder;
    panel.file = folder.filePath(QStringLiteral("migration.json"));
    addDevice(TavrikBleProtocolProfile::legacyUnencryptedV1);
    makeController();
    ContentView& view = open();
    ASSERT_TRUE(controller->legacyFirmwareUpgradeRequired());
    auto* legacy = qobject_cast<LegacyUpgradeView*>(view.mainContent());
    ASSERT_NE(legacy, nullptr);
    auto* section = legacy->findChild<FirmwareDetailView*>(QStringLiteral("legacyFirmwareSection"));
    ASSERT_NE(section, nullptr);
    EXPECT_EQ(section->installButton()->text(), "Upgrade Firmware");
    EXPECT_FALSE(view.panes().legacyFirmware().detail().values().installEnabled);

    legacy->saveBackupButton()->click();
    EXPECT_EQ(panel.saves, 1);
    ASSERT_TRUE(QFile::exists(panel.file));
    EXPECT_EQ(view.panes().legacy().migrationBackupPath(), panel.file);
    EXPECT_TRUE(legacy->backupStatusLabel()->text().endsWith(QStringLiteral("migration.json")));
    EXPECT_TRUE(view.panes().legacyFirmware().detail().values().installEnabled);
    EXPECT_FALSE(legacy->horizontalScrollBar()->isVisible()) << "the section fits the window's width";
    const QString shots = qEnvironmentVariable("TAVRIK_UI_SHOTS");
    if (!shots.isEmpty()) {
        app->mainWindow().grab().save(shots + QStringLiteral("/legacy-saved.png"));
    }
}

TEST_F(WindowPanesTest, TheLegacyRestoreOfferIsAnsweredByTheWindowsPrompt)
{
    const struct {
        const char* button;
        bool restores;
    } cases[] = { { "Restore Backup", true }, { "Keep Current Data", false } };
    for (const auto& answer : cases) {
        SCOPED_TRACE(answer.button);
        QTemporaryDir folder;
        panel.file = folder.filePath(QStringLiteral("migration.json"));
        addDevice();
        loadFromDevice();
        ContentView& view = open();
        app->mainWindow().exportDataAction()->trigger();
        settle();
        closeNotice(view);
        ASSERT_TRUE(device->lastRestore() == std::nullopt);

        LegacyUpgradeState& legacy = view.panes().legacy();
        legacy.setMigrationBackupPath(panel.file);
        legacy.setUpgradeStarted(true);
        emit legacy.restoreOffered();
        const WindowAlertQueue::Alert* prompt = view.presenter().alerts().current();
        ASSERT_NE(prompt, nullptr);
        ASSERT_EQ(prompt->title, "Restore Migration Backup?");
        std::size_t index = 0;
        while (index < prompt->buttons.size() && prompt->buttons[index].text != answer.button) {
            ++index;
        }
        ASSERT_LT(index, prompt->buttons.size());
        view.presenter().alerts().answer(index);
        settle();
        ASSERT_TRUE(processEventsUntil([&] { return !view.panes().backup().isImporting(); }));
        settle();

        EXPECT_FALSE(legacy.upgradeStarted());
        EXPECT_EQ(device->lastRestore().has_value(), answer.restores);
        closeNotice(view);
        app.reset();
        controller.reset();
    }
}

} // namespace
} // namespace tavrik::test
