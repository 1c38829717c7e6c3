#pragma once

#include "TavrikLink/Views/BackupFilePanel.hpp"

#include <QPointer>
#include <QWidget>

namespace tavrik {

// The backup file dialogs as the desktop shows them: modal over the given window, JSON files only,
// ".json" added to a typed name that lacks it.
class QtBackupFilePanel : public BackupFilePanel {
public:
    explicit QtBackupFilePanel(QWidget* window = nullptr);

    std::optional<QString> chooseSaveLocation(const SaveRequest& request) override;
    std::optional<QString> chooseFileToOpen(const OpenRequest& request) override;

private:
    QPointer<QWidget> window;
};

} // namespace tavrik
