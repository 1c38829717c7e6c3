#include "TavrikLink/Views/BackupFileActions.hpp"

#include "TavrikLink/Controller/TavrikBleCentral.hpp"
#include "TavrikLink/Support/RegularFile.hpp"
#include "TavrikLink/Views/ByteCountText.hpp"
#include "TavrikLink/Views/LegacyUpgradeState.hpp"

#include <QFile>
#include <QFileInfo>

#include <exception>
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

// The backup's bytes, or the text shown when the file cannot be a backup: a pipe or a device is
// refused before anything is read from it, and so is a file larger than any backup.
std::variant<Data, QString> readBackup(const QString& path)
{
    RegularFile::Contents contents = RegularFile::readWhole(
        QFile::encodeName(path).toStdString(), BackupFileActions::backupSizeLimit, RegularFile::Links::follow);
    if (contents.problem == RegularFile::Problem::tooLarge) {
        return quotedName(path) + QStringLiteral(" is too large for a Tavrik backup (")
            + QString::fromStdString(fileStyleByteCount(static_cast<std::int64_t>(contents.size)))
            + QStringLiteral("; the limit is 64 MiB).");
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
    device.importSyncData = [&controller](const Data& bytes) { controller.importSyncData(bytes); };
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
    // A restore goes to the loaded device; before a load there is nothing to tell what it accepts.
    if (!device.hasLoadedData()) {
        showFailure(QStringLiteral("Import Unavailable"), QStringLiteral("Load data from Tavrik before importing."));
        return;
    }
    const std::optional<QString> path = panel.chooseFileToOpen({ QStringLiteral("Choose a Tavrik data export.") });
    if (!path || path->isEmpty()) {
        return;
    }
    if (!importFile(*path, QStringLiteral("Import Failed"))) {
        return;
    }
    showImportedData();
    QString message
        = QStringLiteral("Imported Tavrik data from ") + fileName(*path) + QStringLiteral(". Writing it to Tavrik now.");
    for (const auto& warning : device.backupMigrationWarnings()) {
        message += QStringLiteral(" ") + QString::fromStdString(warning);
    }
    show(QStringLiteral("Import Started"), message);
}

void BackupFileActions::restoreLegacyMigrationBackup()
{
    const std::optional<QString> path = legacy.migrationBackupPath();
    if (!path) {
        return;
    }
    if (!importFile(*path, QStringLiteral("Restore Failed"))) {
        return;
    }
    showImportedData();
    legacy.setUpgradeStarted(false);
    show(QStringLiteral("Restore Started"), QStringLiteral("Writing the migration backup to the upgraded Tavrik."));
}

void BackupFileActions::dismissNotice()
{
    if (!notice) {
        return;
    }
    notice.reset();
    emit dataTransferNoticeChanged();
}

bool BackupFileActions::importFile(const QString& path, const QString& failureTitle)
{
    std::variant<Data, QString> contents = readBackup(path);
    if (const QString* refusal = std::get_if<QString>(&contents)) {
        showFailure(failureTitle, *refusal);
        return false;
    }
    try {
        device.importSyncData(std::get<Data>(contents));
    } catch (const std::exception& error) {
        showFailure(failureTitle, QString::fromUtf8(error.what()));
        return false;
    }
    return true;
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
