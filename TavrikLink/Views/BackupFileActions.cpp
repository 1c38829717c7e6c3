#include "TavrikLink/Views/BackupFileActions.hpp"

#include "TavrikLink/Controller/TavrikBleCentral.hpp"
#include "TavrikLink/Support/RegularFile.hpp"
#include "TavrikLink/Views/LegacyUpgradeState.hpp"

#include <QFile>
#include <QFileInfo>

#include <exception>
#include <memory>
#include <new>
#include <stdexcept>
#include <utility>
#include <variant>

namespace tavrik {
namespace {

QString fileName(const QString& path)
{
    return QFileInfo(path).fileName();
}

QString quotedName(const QString& path)
{
    return QStringLiteral("\u201C") + fileName(path) + QStringLiteral("\u201D");
}

QString saveFailure(const QString& path, const std::string& reason)
{
    return QStringLiteral("Couldn\u2019t save ") + quotedName(path) + QStringLiteral(": ")
        + QString::fromStdString(reason);
}

QString readFailure(const QString& path, const std::string& reason)
{
    return QStringLiteral("Couldn\u2019t read ") + quotedName(path) + QStringLiteral(": ")
        + QString::fromStdString(reason);
}

// A backup too large for the memory left; the exception's own text names only the C++ type.
QString outOfMemory(const QString& quotedFileName)
{
    return QStringLiteral("Couldn\u2019t import ") + quotedFileName
        + QStringLiteral(": there isn\u2019t enough memory to read it.");
}

// The size in the unit of the limit it is compared with, rounded up to a tenth so that a file just
// over the limit never reads as the limit itself.
QString mebibytes(std::uint64_t bytes)
{
    constexpr std::uint64_t mebibyte = std::uint64_t { 1024 } * 1024;
    const std::uint64_t tenths = (bytes * 10 + mebibyte - 1) / mebibyte;
    const QString fraction = tenths % 10 != 0 ? QStringLiteral(".") + QString::number(tenths % 10) : QString();
    return QString::number(tenths / 10) + fraction + QStringLiteral(" MiB");
}

// The backup's bytes, or the text shown when the file cannot be a backup: a pipe or a device is
// refused before anything is read from it, and so is a file larger than any backup.
std::variant<Data, QString> readBackup(const QString& path)
{
    RegularFile::Contents contents = RegularFile::readWhole(
        QFile::encodeName(path).toStdString(), BackupFileActions::backupSizeLimit, RegularFile::Links::follow);
    if (contents.problem == RegularFile::Problem::tooLarge) {
        return quotedName(path) + QStringLiteral(" is too large for a Tavrik backup (") + mebibytes(contents.size)
            + QStringLiteral("; the limit is ") + mebibytes(BackupFileActions::backupSizeLimit) + QStringLiteral(").");
    }
    if (!contents.bytes) {
        return readFailure(path, contents.reason);
    }
    return std::move(*contents.bytes);
}

} // namespace

BackupFileActions::BackupFileActions(
    Device device, Window window, BackupFilePanel& panel, LegacyUpgradeState& legacy, QObject* parent)
    : QObject(parent)
    , device(std::move(device))
    , window(std::move(window))
    , panel(panel)
    , legacy(legacy)
    , background(BackgroundWork::threadPool(*this))
{
}

BackupFileActions::BackupFileActions(
    TavrikBleCentral& controller, Window window, BackupFilePanel& panel, LegacyUpgradeState& legacy, QObject* parent)
    : BackupFileActions(deviceFor(controller), std::move(window), panel, legacy, parent)
{
}

BackupFileActions::Device BackupFileActions::deviceFor(TavrikBleCentral& controller)
{
    Device device;
    device.hasLoadedData = [&controller] { return controller.hasLoadedData(); };
    device.legacyFirmwareUpgradeRequired = [&controller] { return controller.legacyFirmwareUpgradeRequired(); };
    device.firstRoutineId = [&controller]() -> std::optional<std::uint32_t> {
        const auto& summaries = controller.routineSummaries();
        if (summaries.empty()) {
            return std::nullopt;
        }
        return summaries.front().id;
    };
    device.backupMigrationWarnings = [&controller] { return controller.backupMigrationWarnings(); };
    device.exportSyncData = [&controller] { return controller.exportSyncData(); };
    device.checkImport = [&controller] { controller.checkSyncDataImport(); };
    device.preparation = [&controller] { return controller.backupPreparation(); };
    device.importPrepared
        = [&controller](PreparedBackup prepared) { controller.importPreparedBackup(std::move(prepared)); };
    return device;
}

std::optional<QString> BackupFileActions::exportTavrikData()
{
    if (!device.hasLoadedData()) {
        showFailure(QStringLiteral("Export Unavailable"), QStringLiteral("Load data from Tavrik before exporting."));
        return std::nullopt;
    }
    const bool legacyBoard = device.legacyFirmwareUpgradeRequired();
    const BackupFilePanel::SaveRequest request {
        legacyBoard ? QStringLiteral("tavrik-legacy-migration-backup.json") : QStringLiteral("tavrik-data.json"),
        legacyBoard ? QStringLiteral("Save a migration backup before upgrading this legacy Tavrik.")
                    : QStringLiteral("Export all restorable Tavrik data."),
    };
    std::optional<QString> path = panel.chooseSaveLocation(request);
    if (!path || path->isEmpty()) {
        return std::nullopt;
    }

    std::optional<QString> failure;
    try {
        const Data bytes = device.exportSyncData();
        if (const auto reason = fileWriter.write(QFile::encodeName(*path).toStdString(), bytes)) {
            failure = saveFailure(*path, *reason);
        }
    } catch (const std::exception& error) {
        failure = QString::fromUtf8(error.what());
    }
    if (failure) {
        showFailure(QStringLiteral("Export Failed"), *failure);
        return std::nullopt;
    }

    show(QStringLiteral("Export Complete"),
        QStringLiteral("Exported Tavrik data to ") + fileName(*path) + QStringLiteral("."));
    if (device.legacyFirmwareUpgradeRequired()) {
        legacy.setMigrationBackupPath(*path);
    }
    return path;
}

void BackupFileActions::importTavrikData()
{
    if (importing) {
        return;
    }
    // A restore goes to the loaded device; before a load there is nothing to tell what it accepts.
    if (!device.hasLoadedData()) {
        showFailure(QStringLiteral("Import Unavailable"), QStringLiteral("Load data from Tavrik before importing."));
        return;
    }
    const std::optional<QString> path = panel.chooseFileToOpen({ QStringLiteral("Choose a Tavrik data export.") });
    if (!path || path->isEmpty()) {
        return;
    }
    importFile(*path, QStringLiteral("Import Failed"), [this, name = fileName(*path)] {
        showImportedData();
        QString message
            = QStringLiteral("Imported Tavrik data from ") + name + QStringLiteral(". Writing it to Tavrik now.");
        for (const auto& warning : device.backupMigrationWarnings()) {
            message += QStringLiteral(" ") + QString::fromStdString(warning);
        }
        show(QStringLiteral("Import Started"), message);
    });
}

void BackupFileActions::restoreLegacyMigrationBackup()
{
    const std::optional<QString> path = legacy.migrationBackupPath();
    if (!path || importing) {
        return;
    }
    importFile(*path, QStringLiteral("Restore Failed"), [this] {
        showImportedData();
        legacy.setUpgradeStarted(false);
        show(QStringLiteral("Restore Started"), QStringLiteral("Writing the migration backup to the upgraded Tavrik."));
    });
}

void BackupFileActions::dismissNotice()
{
    if (!notice) {
        return;
    }
    notice.reset();
    emit dataTransferNoticeChanged();
}

void BackupFileActions::importFile(const QString& path, const QString& failureTitle, std::function<void()> imported)
{
    std::variant<Data, QString> contents = readBackup(path);
    if (const QString* refusal = std::get_if<QString>(&contents)) {
        showFailure(failureTitle, *refusal);
        return;
    }
    try {
        device.checkImport();
    } catch (const std::exception& error) {
        showFailure(failureTitle, QString::fromUtf8(error.what()));
        return;
    }

    // The worker fills the outcome; the window's thread reads it only once the worker is done.
    struct Migration {
        Data bytes;
        std::optional<PreparedBackup> result;
        QString failure;
    };
    auto migration = std::make_shared<Migration>();
    migration->bytes = std::move(std::get<Data>(contents));
    importing = true;
    show(QStringLiteral("Reading Backup"), QStringLiteral("Reading ") + quotedName(path) + QStringLiteral("\u2026"));
    background(
        [migration, prepare = device.preparation(), name = quotedName(path)] {
            try {
                migration->result = prepare(migration->bytes);
            } catch (const std::bad_alloc&) {
                migration->failure = outOfMemory(name);
            } catch (const std::length_error&) {
                migration->failure = outOfMemory(name);
            } catch (const std::exception& error) {
                migration->failure = QString::fromUtf8(error.what());
            }
            Data().swap(migration->bytes);
        },
        [this, migration, failureTitle, name = quotedName(path), imported = std::move(imported)] {
            importing = false;
            if (!migration->result) {
                showFailure(failureTitle, migration->failure);
                return;
            }
            try {
                device.importPrepared(std::move(*migration->result));
            } catch (const std::bad_alloc&) {
                showFailure(failureTitle, outOfMemory(name));
                return;
            } catch (const std::exception& error) {
                showFailure(failureTitle, QString::fromUtf8(error.what()));
                return;
            }
            imported();
        });
}

void BackupFileActions::showImportedData()
{
    if (window.syncScheduleSelection) {
        window.syncScheduleSelection();
    }
    if (window.syncTagSelection) {
        window.syncTagSelection();
    }
    if (window.setSelectedRoutineId) {
        window.setSelectedRoutineId(device.firstRoutineId());
    }
    if (window.showRoutinesPane) {
        window.showRoutinesPane();
    }
}

void BackupFileActions::show(QString title, QString message)
{
    notice = DataTransferNotice { nextNoticeId++, std::move(title), std::move(message) };
    emit dataTransferNoticeChanged();
}

void BackupFileActions::showFailure(QString title, QString message)
{
    notice = DataTransferNotice { nextNoticeId++, std::move(title), std::move(message), true };
    emit dataTransferNoticeChanged();
}

} // namespace tavrik
