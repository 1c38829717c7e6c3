#include "TavrikLink/Ui/QtBackupFilePanel.hpp"

#include <QDir>
#include <QFileDialog>
#include <QStandardPaths>

namespace tavrik {
namespace {

QString startFolder()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return documents.isEmpty() ? QDir::homePath() : documents;
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
