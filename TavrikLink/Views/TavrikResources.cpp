#include "TavrikLink/Views/TavrikResources.hpp"

#include "TavrikLink/Views/TavrikLinkFirmwareError.hpp"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace tavrik {

namespace {
const QString resourceFolder = QStringLiteral("tavrik-link");
const QString helperName = QStringLiteral("TavrikUSBFlasher");
} // namespace

TavrikResources TavrikResources::forApplication()
{
    return TavrikResources(QCoreApplication::applicationDirPath());
}

TavrikResources::TavrikResources(QString executableDirectory)
    : executableDirectory(std::move(executableDirectory))
{
}

QString TavrikResources::resourceDirectory() const
{
    const QString beside = QDir::cleanPath(executableDirectory + QStringLiteral("/../share/") + resourceFolder);
    if (QFileInfo(beside).isDir()) {
        return beside;
    }
    const QString installed
        = QStandardPaths::locate(QStandardPaths::GenericDataLocation, resourceFolder, QStandardPaths::LocateDirectory);
    return installed.isEmpty() ? beside : installed;
}

QString TavrikResources::bundledUSBFlasher() const
{
    const QFileInfo helper(QDir(executableDirectory).filePath(helperName));
    if (!helper.isFile() || !helper.isExecutable()) {
        throw TavrikLinkFirmwareError(helperMissingCode, helperMissingMessage);
    }
    return helper.absoluteFilePath();
}

} // namespace tavrik
