#include "TavrikLink/Ui/QtBackupFilePanel.hpp"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>

namespace tavrik {
namespace {

// The documents folder when the user has one; a path that does not exist would land in the dialog's
// name field instead and leave Open disabled.
QString startFolder()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return !documents.isEmpty() && QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

std::optional<QString> run(QFileDialog& dialog)
{
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().constFirst();
}

} // namespace

QtBackupFilePanel::QtBackupFilePanel(QWidget* window)
    : window(window)
{
}

std::optional<QString> QtBackupFilePanel::chooseSaveLocation(const SaveRequest& request)
{
    QFileDialog dialog(window, request.message, startFolder(), nameFilter());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(defaultSuffix());
    dialog.selectFile(request.proposedFileName);
    dialog.setWindowModality(Qt::WindowModal);
    return run(dialog);
}

std::optional<QString> QtBackupFilePanel::chooseFileToOpen(const OpenRequest& request)
{
    QFileDialog dialog(window, request.message, startFolder(), nameFilter());
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setWindowModality(Qt::WindowModal);
    return run(dialog);
}

} // namespace tavrik
