#pragma once

#include <QString>

#include <optional>

namespace tavrik {

// The save and open dialogs of the backup file actions, behind an interface so tests can answer
// them. Both are modal, offer JSON files only and give none when the user cancels.
class BackupFilePanel {
public:
    struct SaveRequest {
        QString proposedFileName;
        QString message;
    };
    struct OpenRequest {
        QString message;
    };

    static QString nameFilter() { return QStringLiteral("JSON (*.json)"); }
    static QString defaultSuffix() { return QStringLiteral("json"); }

    virtual ~BackupFilePanel() = default;

    // A file to write (folders may be created in the dialog).
    virtual std::optional<QString> chooseSaveLocation(const SaveRequest& request) = 0;
    // One existing file, never a folder.
    virtual std::optional<QString> chooseFileToOpen(const OpenRequest& request) = 0;
};

} // namespace tavrik
