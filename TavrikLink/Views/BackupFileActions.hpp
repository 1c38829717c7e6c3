#pragma once

#include "TavrikCore/Support/Data.hpp"
#include "TavrikLink/Controller/PreparedBackup.hpp"
#include "TavrikLink/Support/BackgroundWork.hpp"
#include "TavrikLink/Support/WholeFileWriter.hpp"
#include "TavrikLink/Views/BackupFilePanel.hpp"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tavrik {

class LegacyUpgradeState;
class TavrikBleCentral;

// One outcome of a backup action, shown to the user as an alert. Every notice has a new id.
struct DataTransferNotice {
    std::uint64_t id = 0;
    QString title;
    QString message;
    // A refusal or failure rather than news.
    bool failed = false;

    friend bool operator==(const DataTransferNotice&, const DataTransferNotice&) = default;
};

// Export, import and the restore of a legacy board's migration backup: connects the user's files
// to the controller's backup operations. Nothing is thrown out of an action; each ends in one
// notice, or in silence when the user cancels a dialog. Files are written whole or not at all, and
// only plain files of a backup's size are read. A backup's migration and the conversion of its
// routines run away from the window's thread, with a notice that it is being read, so a large one
// never holds the window.
class BackupFileActions : public QObject {
    Q_OBJECT

public:
    // Far above any real backup; a larger file is refused before it is read.
    static constexpr std::uint64_t backupSizeLimit = std::uint64_t { 64 } * 1024 * 1024;

    // What the actions read and call of the controller. The export and import operations throw
    // exceptions whose what() is the text shown to the user.
    struct Device {
        std::function<bool()> hasLoadedData;
        std::function<bool()> legacyFirmwareUpgradeRequired;
        std::function<Data()> exportSyncData;
        // Throws the refusal when no backup may be imported now.
        std::function<void()> checkImport;
        // Migrates a backup's bytes and converts its routines. Runs on a worker thread: it must touch
        // nothing shared.
        using Preparation = std::function<PreparedBackup(const Data&)>;
        // Called on the window's thread as a backup is opened: how that backup is prepared.
        std::function<Preparation()> preparation;
        // Installs a prepared backup and starts writing it to the device.
        std::function<void(PreparedBackup)> importPrepared;
        // The id of the first routine summary, none without routines.
        std::function<std::optional<std::uint32_t>()> firstRoutineId;
        std::function<std::vector<std::string>()> backupMigrationWarnings;
    };
    // What an import or restore changes in the window.
    struct Window {
        std::function<void()> syncScheduleSelection;
        std::function<void()> syncTagSelection;
        std::function<void(std::optional<std::uint32_t>)> setSelectedRoutineId;
        std::function<void()> showRoutinesPane;
    };

    // The panel and the legacy state must outlive the actions.
    BackupFileActions(
        Device device, Window window, BackupFilePanel& panel, LegacyUpgradeState& legacy, QObject* parent = nullptr);

    // Works on the controller, which must outlive the actions.
    BackupFileActions(TavrikBleCentral& controller, Window window, BackupFilePanel& panel, LegacyUpgradeState& legacy,
        QObject* parent = nullptr);

    static Device deviceFor(TavrikBleCentral& controller);

    // The path written, or none.
    std::optional<QString> exportTavrikData();
    void importTavrikData();
    void restoreLegacyMigrationBackup();

    const std::optional<DataTransferNotice>& dataTransferNotice() const { return notice; }
    // How exports reach the disk (tests make it fail part-way).
    void setFileWriter(WholeFileWriter writer) { fileWriter = std::move(writer); }
    // Where migrations run (tests run them by hand).
    void setBackgroundWork(BackgroundWork::Run run) { background = std::move(run); }
    // A backup is being read; another import or restore waits for it to end.
    bool isImporting() const { return importing; }
    // The user closed the alert.
    void dismissNotice();

signals:
    void dataTransferNoticeChanged();

private:
    // Reads the whole file, migrates it in the background and imports it, then calls `imported`;
    // on any failure shows the notice instead.
    void importFile(const QString& path, const QString& failureTitle, std::function<void()> imported);
    void showImportedData();
    void show(QString title, QString message);
    void showFailure(QString title, QString message);

    Device device;
    Window window;
    BackupFilePanel& panel;
    LegacyUpgradeState& legacy;
    WholeFileWriter fileWriter;
    BackgroundWork::Run background;
    bool importing = false;
    std::optional<DataTransferNotice> notice;
    std::uint64_t nextNoticeId = 1;
};

} // namespace tavrik
