#include "TavrikCore/Backup/BackupMigrationPipeline.hpp"
#include "TavrikCore/Model/SyncImportError.hpp"
#include "TavrikLink/Views/BackupFileActions.hpp"
#include "TavrikLink/Views/LegacyUpgradeState.hpp"
#include "tests/views/TinyFilesystem.hpp"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <cerrno>
#include <deque>
#include <filesystem>
#include <functional>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tavrik {
namespace {

// Answers the dialogs from a script and remembers what they were asked.
class ScriptedFilePanel : public BackupFilePanel {
public:
    std::deque<std::optional<QString>> answers;
    std::vector<SaveRequest> saveRequests;
    std::vector<OpenRequest> openRequests;

    std::optional<QString> chooseSaveLocation(const SaveRequest& request) override
    {
        saveRequests.push_back(request);
        return next();
    }
    std::optional<QString> chooseFileToOpen(const OpenRequest& request) override
    {
        openRequests.push_back(request);
        return next();
    }

private:
    std::optional<QString> next()
    {
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected dialog";
            return std::nullopt;
        }
        auto answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QString fixture(const char* name)
{
    return QStringLiteral(TAVRIK_TEST_FIXTURES "/backup/") + QString::fromUtf8(name);
}

// A device that keeps its data as a backup envelope and imports through the real migration, and a
// window that records what the actions change in it.
class BackupFileActionsTest : public ::testing::Test {
protected:
    QTemporaryDir folder;
    ScriptedFilePanel panel;
    LegacyUpgradeState legacy;
    bool loaded = true;
    bool legacyBoard = false;
    std::optional<SyncDataEnvelope> data;
    std::vector<std::string> warnings;
    std::optional<std::string> importRefusal;
    bool outOfMemory = false;
    std::vector<std::string> window;
    int importCalls = 0;
    int migrations = 0;
    BackupFileActions actions { device(), windowCallbacks(), panel, legacy };

    void SetUp() override
    {
        // Most tests see a migration end within the action; the test of the window's turn queues it.
        actions.setBackgroundWork([](std::function<void()> work, std::function<void()> done) {
            work();
            done();
        });
        ASSERT_TRUE(folder.isValid());
        data = BackupMigrationPipeline::migrate(readFile(fixture("v8.expected.json")).toStdString()).envelope;
    }

    QString path(const char* name) const { return folder.filePath(QString::fromUtf8(name)); }

    BackupFileActions::Device device()
    {
        return {
            [this] { return loaded; },
            [this] { return legacyBoard; },
            [this] {
                if (!data) {
                    throw std::runtime_error("Nothing to export");
                }
                return BackupMigrationPipeline::encodeCurrent(*data, true);
            },
            [this] {
                ++importCalls;
                if (importRefusal) {
                    throw SyncImportError(*importRefusal);
                }
            },
            [this] {
                return [this](const Data& bytes) {
                    ++migrations;
                    if (outOfMemory) {
                        throw std::bad_alloc();
                    }
                    return PreparedBackup { BackupMigrationPipeline::migrate(bytes), {}, {} };
                };
            },
            [this](PreparedBackup prepared) {
                data = std::move(prepared.migration.envelope);
                warnings = std::move(prepared.migration.warnings);
            },
            [this]() -> std::optional<std::uint32_t> {
                if (!data || data->routines.empty()) {
                    return std::nullopt;
                }
                return data->routines.front().id;
            },
            [this] { return warnings; },
        };
    }

    BackupFileActions::Window windowCallbacks()
    {
        return {
            [this] { window.push_back("sync schedules"); },
            [this] { window.push_back("sync tags"); },
            [this](std::optional<std::uint32_t> id) {
                window.push_back("routine " + (id ? std::to_string(*id) : std::string("none")));
            },
            [this] { window.push_back("routines pane"); },
        };
    }

    void expectNotice(const char* title, const QString& message)
    {
        ASSERT_TRUE(actions.dataTransferNotice());
        EXPECT_EQ(actions.dataTransferNotice()->title, QString::fromUtf8(title));
        EXPECT_EQ(actions.dataTransferNotice()->message, message);
        // Refusals and failures are marked so that their alert warns; news does not.
        const QString shown = QString::fromUtf8(title);
        EXPECT_EQ(actions.dataTransferNotice()->failed,
            shown.endsWith(QStringLiteral("Failed")) || shown.endsWith(QStringLiteral("Unavailable")))
            << title;
    }
};

TEST_F(BackupFileActionsTest, ExportAndImportBeforeAnyLoadOpenNoDialog)
{
    loaded = false;
    EXPECT_EQ(actions.exportTavrikData(), std::nullopt);
    expectNotice("Export Unavailable", "Load data from Tavrik before exporting.");
    EXPECT_TRUE(panel.saveRequests.empty());

    // Not the firmware's fault: there is simply no device to restore to yet.
    actions.importTavrikData();
    expectNotice("Import Unavailable", "Load data from Tavrik before importing.");
    EXPECT_TRUE(panel.openRequests.empty());
}

TEST_F(BackupFileActionsTest, ExportThenImportRoundTripsThroughARealFile)
{
    const SyncDataEnvelope exported = *data;
    panel.answers = { path("tavrik-data.json") };
    EXPECT_EQ(actions.exportTavrikData(), path("tavrik-data.json"));
    ASSERT_EQ(panel.saveRequests.size(), 1U);
    EXPECT_EQ(panel.saveRequests[0].proposedFileName, QStringLiteral("tavrik-data.json"));
    EXPECT_EQ(panel.saveRequests[0].message, QStringLiteral("Export all restorable Tavrik data."));
    expectNotice("Export Complete", "Exported Tavrik data to tavrik-data.json.");
    EXPECT_FALSE(legacy.hasMigrationBackup());
    EXPECT_EQ(readFile(path("tavrik-data.json")).toStdString(),
        std::string(reinterpret_cast<const char*>(BackupMigrationPipeline::encodeCurrent(exported, true).data()),
            BackupMigrationPipeline::encodeCurrent(exported, true).size()));
    // Only the finished file is left in the folder.
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList { "tavrik-data.json" });

    data.reset();
    panel.answers = { path("tavrik-data.json") };
    actions.importTavrikData();
    ASSERT_EQ(panel.openRequests.size(), 1U);
    EXPECT_EQ(panel.openRequests[0].message, QStringLiteral("Choose a Tavrik data export."));
    EXPECT_EQ(data, exported);
    ASSERT_FALSE(exported.routines.empty());
    EXPECT_EQ(window,
        (std::vector<std::string> { "sync schedules", "sync tags",
            "routine " + std::to_string(exported.routines.front().id), "routines pane" }));
    expectNotice("Import Started", "Imported Tavrik data from tavrik-data.json. Writing it to Tavrik now.");
}

TEST_F(BackupFileActionsTest, ImportMessageEndsWithTheMigrationWarnings)
{
    panel.answers = { fixture("v2-keyed.json") };
    actions.importTavrikData();
    ASSERT_FALSE(warnings.empty());
    QString expected = QStringLiteral("Imported Tavrik data from v2-keyed.json. Writing it to Tavrik now.");
    for (const auto& warning : warnings) {
        expected += QStringLiteral(" ") + QString::fromStdString(warning);
    }
    expectNotice("Import Started", expected);
}

TEST_F(BackupFileActionsTest, ImportWithoutRoutinesSelectsNone)
{
    data->routines.clear();
    data->schedules.clear();
    panel.answers = { path("empty.json") };
    writeFile(path("empty.json"), QByteArray::fromStdString([&] {
        const Data bytes = BackupMigrationPipeline::encodeCurrent(*data, true);
        return std::string(bytes.begin(), bytes.end());
    }()));
    actions.importTavrikData();
    EXPECT_EQ(window, (std::vector<std::string> { "sync schedules", "sync tags", "routine none", "routines pane" }));
}

TEST_F(BackupFileActionsTest, CancelledDialogsChangeNothing)
{
    panel.answers = { std::nullopt, QString(), std::nullopt };
    EXPECT_EQ(actions.exportTavrikData(), std::nullopt);
    EXPECT_EQ(actions.exportTavrikData(), std::nullopt);
    actions.importTavrikData();
    EXPECT_EQ(actions.dataTransferNotice(), std::nullopt);
    EXPECT_TRUE(window.empty());
    EXPECT_FALSE(legacy.hasMigrationBackup());
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList {});
}

TEST_F(BackupFileActionsTest, FailedExportsLeaveTheExistingFileAlone)
{
    writeFile(path("tavrik-data.json"), "earlier backup");
    const SyncDataEnvelope original = *data;

    // The controller refuses to export.
    data.reset();
    panel.answers = { path("tavrik-data.json") };
    EXPECT_EQ(actions.exportTavrikData(), std::nullopt);
    expectNotice("Export Failed", "Nothing to export");
    EXPECT_EQ(readFile(path("tavrik-data.json")), QByteArray("earlier backup"));

    // The folder is gone.
    data = original;
    panel.answers = { path("missing/tavrik-data.json") };
    EXPECT_EQ(actions.exportTavrikData(), std::nullopt);
    ASSERT_TRUE(actions.dataTransferNotice());
    EXPECT_EQ(actions.dataTransferNotice()->title, QStringLiteral("Export Failed"));
    EXPECT_TRUE(actions.dataTransferNotice()->message.startsWith(
        QStringLiteral("Couldn\u2019t save \u201Ctavrik-data.json\u201D: ")))
        << actions.dataTransferNotice()->message.toStdString();
    EXPECT_EQ(readFile(path("tavrik-data.json")), QByteArray("earlier backup"));
}

// A disk that fills up during the export must never cost the user the backup already there.
TEST_F(BackupFileActionsTest, AnExportOntoAFullDiskKeepsTheGoodBackupAndSaysWhy)
{
    const QString disk = path("disk");
    ASSERT_TRUE(QDir().mkpath(disk));
    const QString target = disk + QStringLiteral("/tavrik-data.json");
    const QByteArray good(2700, 'g');

    const test::TinyFilesystemRun run = test::runOnTinyFilesystem(QFile::encodeName(disk).toStdString(), "16k", [&] {
        std::string failures;
        {
            QFile file(target);
            if (!file.open(QIODevice::WriteOnly) || file.write(good) != good.size() || !file.flush()) {
                return std::string("the good backup could not be written");
            }
        }
        // Whatever room is left goes to another file.
        const int filler = ::open(
            QFile::encodeName(disk + QStringLiteral("/filler")).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        const std::string block(4096, 'f');
        while (::write(filler, block.data(), block.size()) > 0) { }
        ::close(filler);

        panel.answers = { target };
        if (actions.exportTavrikData()) {
            failures += "the export says it wrote the file; ";
        }
        const auto& notice = actions.dataTransferNotice();
        const QString expected
            = QStringLiteral("Couldn\u2019t save \u201Ctavrik-data.json\u201D: No space left on device");
        if (!notice || notice->title != QStringLiteral("Export Failed") || notice->message != expected) {
            failures += "notice: " + (notice ? (notice->title + " / " + notice->message).toStdString() : "none") + "; ";
        }
        if (readFile(target) != good) {
            failures += "the good backup now holds " + std::to_string(readFile(target).size()) + " bytes; ";
        }
        const QStringList left = QDir(disk).entryList(QDir::Files | QDir::Hidden, QDir::Name);
        if (left != QStringList({ "filler", "tavrik-data.json" })) {
            failures += "files left: " + left.join(", ").toStdString();
        }
        return failures;
    });
    if (!run.mounted) {
        GTEST_SKIP() << "no small file system can be mounted here: " << run.failure;
    }
    EXPECT_EQ(run.failure, "");
}

TEST_F(BackupFileActionsTest, AnExportThatCannotReachTheDiskWholeKeepsTheOldFile)
{
    const struct {
        const char* what;
        WholeFileWriter::Calls calls;
        const char* reason;
    } cases[] = {
        { "the disk fills half-way",
            { [written = std::make_shared<bool>(false)](int descriptor, const void* bytes, std::size_t length) -> ssize_t {
                 if (*written) {
                     errno = ENOSPC;
                     return -1;
                 }
                 *written = true;
                 return ::write(descriptor, bytes, length / 2);
             },
                WholeFileWriter::systemCalls().sync },
            "No space left on device" },
        { "the disk refuses the sync",
            { WholeFileWriter::systemCalls().write,
                [](int) {
                    errno = EIO;
                    return -1;
                } },
            "Input/output error" },
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.what);
        writeFile(path("tavrik-data.json"), "earlier backup");
        actions.setFileWriter(WholeFileWriter(entry.calls));
        panel.answers = { path("tavrik-data.json") };
        EXPECT_EQ(actions.exportTavrikData(), std::nullopt);
        expectNotice("Export Failed",
            QStringLiteral("Couldn\u2019t save \u201Ctavrik-data.json\u201D: ") + QString::fromUtf8(entry.reason));
        EXPECT_EQ(readFile(path("tavrik-data.json")), QByteArray("earlier backup"));
        EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList { "tavrik-data.json" });
    }
}

// What the export cannot write to stays as it was: renaming a new file over it would replace a
// pipe, a file the user made read-only, or a link that leads nowhere.
TEST_F(BackupFileActionsTest, AnExportNeverReplacesWhatItCannotWriteTo)
{
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("pipe.json")).constData(), 0600), 0);
    writeFile(path("locked.json"), "earlier backup");
    ASSERT_TRUE(QFile::setPermissions(path("locked.json"), QFileDevice::ReadOwner | QFileDevice::ReadGroup));
    ASSERT_TRUE(QFile::link(path("gone.json"), path("dangling.json")));
    ASSERT_TRUE(QFile::link(path("loop.json"), path("loop.json")));
    const struct {
        const char* name;
        const char* reason;
    } cases[] = {
        { "pipe.json", "Not a regular file" },
        { "locked.json", "Permission denied" },
        { "dangling.json", "It is a link to a missing file" },
        { "loop.json", "Too many levels of symbolic links" },
    };
    const QDir::Filters everything = QDir::Files | QDir::Hidden | QDir::System;
    const QStringList before = QDir(folder.path()).entryList(everything);
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.name);
        panel.answers = { path(entry.name) };
        EXPECT_EQ(actions.exportTavrikData(), std::nullopt);
        expectNotice("Export Failed",
            QStringLiteral("Couldn\u2019t save \u201C") + QString::fromUtf8(entry.name) + QStringLiteral("\u201D: ")
                + QString::fromUtf8(entry.reason));
    }
    EXPECT_TRUE(std::filesystem::is_fifo(path("pipe.json").toStdString()));
    EXPECT_EQ(readFile(path("locked.json")), QByteArray("earlier backup"));
    EXPECT_EQ(QFileInfo(path("dangling.json")).symLinkTarget(), path("gone.json"));
    EXPECT_FALSE(QFileInfo::exists(path("gone.json")));
    EXPECT_TRUE(QFileInfo(path("loop.json")).isSymLink());
    EXPECT_EQ(QDir(folder.path()).entryList(everything), before);
}

TEST_F(BackupFileActionsTest, AnExportWritesThroughALinkAndKeepsTheFilesPermissions)
{
    writeFile(path("real.json"), "earlier backup");
    QFile::setPermissions(path("real.json"), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    ASSERT_TRUE(QFile::link(path("real.json"), path("tavrik-data.json")));
    panel.answers = { path("tavrik-data.json") };
    EXPECT_EQ(actions.exportTavrikData(), path("tavrik-data.json"));
    EXPECT_TRUE(QFileInfo(path("tavrik-data.json")).isSymLink());
    EXPECT_EQ(readFile(path("real.json")), readFile(path("tavrik-data.json")));
    EXPECT_TRUE(readFile(path("real.json")).startsWith("{"));
    EXPECT_EQ(std::filesystem::status(path("real.json").toStdString()).permissions(),
        std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

// Only a plain file of a backup's size is read: a pipe would never end, a device never stop, and a
// huge file would fill the memory before the migration could refuse it.
TEST_F(BackupFileActionsTest, ImportReadsOnlyPlainFilesOfABackupsSize)
{
    const QString fifo = path("pipe.json");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), path("zero.json")));
    {
        QFile huge(path("huge.json"));
        ASSERT_TRUE(huge.open(QIODevice::WriteOnly));
        ASSERT_TRUE(huge.resize(200'000'000));
    }
    {
        QFile atLimit(path("limit.json"));
        ASSERT_TRUE(atLimit.open(QIODevice::WriteOnly));
        ASSERT_TRUE(atLimit.resize(static_cast<qint64>(BackupFileActions::backupSizeLimit) + 1));
    }
    const struct {
        const char* name;
        QString message;
    } cases[] = {
        { "pipe.json", QStringLiteral("Couldn\u2019t read \u201Cpipe.json\u201D: Not a regular file") },
        { "zero.json", QStringLiteral("Couldn\u2019t read \u201Czero.json\u201D: Not a regular file") },
        { "huge.json",
            QStringLiteral(
                "\u201Chuge.json\u201D is too large for a Tavrik backup (190.8 MiB; the limit is 64 MiB).") },
        { "limit.json",
            QStringLiteral(
                "\u201Climit.json\u201D is too large for a Tavrik backup (64.1 MiB; the limit is 64 MiB).") },
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.name);
        panel.answers = { path(entry.name) };
        actions.importTavrikData();
        expectNotice("Import Failed", entry.message);
    }
    EXPECT_EQ(importCalls, 0);

    // A link to a backup is a backup.
    ASSERT_TRUE(QFile::link(fixture("v8.expected.json"), path("linked.json")));
    panel.answers = { path("linked.json") };
    actions.importTavrikData();
    ASSERT_TRUE(actions.dataTransferNotice());
    EXPECT_EQ(actions.dataTransferNotice()->title, QStringLiteral("Import Started"));
}

TEST_F(BackupFileActionsTest, FailedImportsShowWhyAndKeepTheData)
{
    writeFile(path("notes.json"), "not json at all");
    const SyncDataEnvelope before = *data;

    panel.answers = { path("notes.json") };
    actions.importTavrikData();
    ASSERT_TRUE(actions.dataTransferNotice());
    EXPECT_EQ(actions.dataTransferNotice()->title, QStringLiteral("Import Failed"));
    EXPECT_TRUE(
        actions.dataTransferNotice()->message.startsWith(QStringLiteral("Backup is not valid JSON (line 1, column ")))
        << actions.dataTransferNotice()->message.toStdString();

    panel.answers = { path("vanished.json") };
    actions.importTavrikData();
    EXPECT_EQ(actions.dataTransferNotice()->title, QStringLiteral("Import Failed"));
    EXPECT_TRUE(actions.dataTransferNotice()->message.startsWith(
        QStringLiteral("Couldn\u2019t read \u201Cvanished.json\u201D: ")));

    importRefusal = "Update Tavrik firmware before restoring schema v9 backups.";
    panel.answers = { fixture("v8.expected.json") };
    actions.importTavrikData();
    expectNotice("Import Failed", "Update Tavrik firmware before restoring schema v9 backups.");

    // Running out of memory is told as a sentence about the file, never as the exception's name.
    importRefusal.reset();
    outOfMemory = true;
    panel.answers = { fixture("v8.expected.json") };
    actions.importTavrikData();
    expectNotice("Import Failed",
        QStringLiteral(
            "Couldn\u2019t import \u201Cv8.expected.json\u201D: there isn\u2019t enough memory to read it."));

    EXPECT_EQ(data, before);
    EXPECT_TRUE(window.empty());
}

// The window's turn ends once the file is read and its migration handed off, with a notice that it
// is being read; the import finishes when the migration comes back. An import meanwhile waits.
TEST_F(BackupFileActionsTest, ABackupIsMigratedAwayFromTheWindowWithItsProgressShown)
{
    std::deque<std::pair<std::function<void()>, std::function<void()>>> queued;
    actions.setBackgroundWork([&](std::function<void()> work, std::function<void()> done) {
        queued.emplace_back(std::move(work), std::move(done));
    });
    const auto finishNext = [&] {
        ASSERT_FALSE(queued.empty());
        auto [work, done] = std::move(queued.front());
        queued.pop_front();
        work();
        done();
    };

    panel.answers = { fixture("v8.expected.json") };
    actions.importTavrikData();
    expectNotice("Reading Backup", QStringLiteral("Reading \u201Cv8.expected.json\u201D\u2026"));
    EXPECT_TRUE(actions.isImporting());
    EXPECT_EQ(migrations, 0);
    EXPECT_TRUE(window.empty());
    actions.importTavrikData();
    EXPECT_TRUE(panel.openRequests.size() == 1) << "no second dialog while a backup is read";
    actions.restoreLegacyMigrationBackup();
    ASSERT_EQ(queued.size(), 1u);

    finishNext();
    EXPECT_EQ(migrations, 1);
    EXPECT_FALSE(actions.isImporting());
    EXPECT_EQ(actions.dataTransferNotice()->title, QStringLiteral("Import Started"));
    EXPECT_FALSE(window.empty());

    // A migration that fails comes back the same way, as the failure.
    writeFile(path("notes.json"), "not json at all");
    panel.answers = { path("notes.json") };
    actions.importTavrikData();
    EXPECT_EQ(actions.dataTransferNotice()->title, QStringLiteral("Reading Backup"));
    finishNext();
    EXPECT_EQ(actions.dataTransferNotice()->title, QStringLiteral("Import Failed"));
    EXPECT_FALSE(actions.isImporting());
}

TEST_F(BackupFileActionsTest, EveryNoticeIsANewOne)
{
    loaded = false;
    actions.exportTavrikData();
    const auto first = actions.dataTransferNotice();
    actions.exportTavrikData();
    ASSERT_TRUE(first && actions.dataTransferNotice());
    EXPECT_NE(first->id, actions.dataTransferNotice()->id);
    actions.dismissNotice();
    EXPECT_EQ(actions.dataTransferNotice(), std::nullopt);
}

TEST_F(BackupFileActionsTest, LegacyBoardSavesAMigrationBackupAndRestoresIt)
{
    legacyBoard = true;

    // Nothing to restore before a backup was saved (the window refuses the menu's import meanwhile).
    actions.restoreLegacyMigrationBackup();
    EXPECT_EQ(actions.dataTransferNotice(), std::nullopt);

    const QString backup = path("tavrik-legacy-migration-backup.json");
    panel.answers = { backup };
    EXPECT_EQ(actions.exportTavrikData(), backup);
    EXPECT_EQ(panel.saveRequests.at(0).proposedFileName, QStringLiteral("tavrik-legacy-migration-backup.json"));
    EXPECT_EQ(panel.saveRequests.at(0).message,
        QStringLiteral("Save a migration backup before upgrading this legacy Tavrik."));
    EXPECT_EQ(legacy.migrationBackupPath(), backup);

    // After the upgrade the restore reads that same file.
    const SyncDataEnvelope saved = *data;
    legacyBoard = false;
    legacy.setUpgradeStarted(true);
    data.reset();
    actions.restoreLegacyMigrationBackup();
    EXPECT_EQ(data, saved);
    EXPECT_FALSE(legacy.upgradeStarted());
    EXPECT_EQ(legacy.migrationBackupPath(), backup);
    expectNotice("Restore Started", "Writing the migration backup to the upgraded Tavrik.");
    EXPECT_EQ(window.back(), "routines pane");
}

TEST_F(BackupFileActionsTest, ExportForANonLegacyBoardIsNoMigrationBackup)
{
    panel.answers = { path("tavrik-data.json") };
    actions.exportTavrikData();
    EXPECT_FALSE(legacy.hasMigrationBackup());
}

TEST_F(BackupFileActionsTest, FailedRestoreKeepsTheUpgradeState)
{
    legacy.setMigrationBackupPath(path("tavrik-legacy-migration-backup.json"));
    legacy.setUpgradeStarted(true);
    actions.restoreLegacyMigrationBackup();
    ASSERT_TRUE(actions.dataTransferNotice());
    EXPECT_EQ(actions.dataTransferNotice()->title, QStringLiteral("Restore Failed"));
    EXPECT_TRUE(legacy.upgradeStarted());
    EXPECT_TRUE(window.empty());
}

} // namespace
} // namespace tavrik
