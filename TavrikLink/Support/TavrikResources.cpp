#include "TavrikLink/Support/TavrikResources.hpp"

#include "TavrikLink/Support/TavrikLinkFirmwareError.hpp"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace tavrik {

namespace {

const QString resourceFolder = QStringLiteral("tavrik-link");
const QString helperName = QStringLiteral("TavrikUSBFlasher");

QString& resourceDirectoryOverride()
{
    static QString directory;
    return directory;
}

} // namespace

TavrikResources TavrikResources::forApplication()
{
    TavrikResources resources(QCoreApplication::applicationDirPath());
    resources.resourceOverride = resourceDirectoryOverride();
    return resources;
}

TavrikResources::TavrikResources(QString executableDirectory)
    : executableDirectory(std::move(executableDirectory))
{
}

void TavrikResources::setResourceDirectoryOverride(const QString& directory)
{
    resourceDirectoryOverride() = directory;
}

QString TavrikResources::resourceDirectory() const
{
    if (!resourceOverride.isEmpty()) {
        return resourceOverride;
    }
    QString beside = QDir::cleanPath(executableDirectory + QStringLiteral("/../share/") + resourceFolder);
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

QString TavrikResources::labelFontPath() const
{
    return path(QStringLiteral("Fonts/OpenGorton-Regular.otf"));
}

std::optional<QString> TavrikResources::probeImagePath(const QString& targetId) const
{
    const QFileInfo image(path(QStringLiteral("USBProbeImages/") + targetId + QStringLiteral(".bin")));
    if (!image.isFile() || !image.isReadable()) {
        return std::nullopt;
    }
    return image.absoluteFilePath();
}

QString TavrikResources::applicationIconPath() const
{
    return QDir::cleanPath(resourceDirectory() + QStringLiteral("/../icons/hicolor/scalable/apps/tavrik-link.svg"));
}

QString TavrikResources::path(const QString& relativePath) const
{
    return QDir(resourceDirectory()).filePath(relativePath);
}

} // namespace tavrik
