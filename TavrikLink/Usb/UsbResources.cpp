#include "TavrikLink/Usb/UsbResources.hpp"

#include "TavrikLink/Usb/UsbError.hpp"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace tavrik {

namespace {

std::string& shareOverride()
{
    static std::string directory;
    return directory;
}

} // namespace

std::string UsbResources::shareDirectory()
{
    if (!shareOverride().empty()) {
        return shareOverride();
    }
    return QDir(QCoreApplication::applicationDirPath() + "/../share/tavrik-link").absolutePath().toStdString();
}

void UsbResources::setShareDirectoryOverride(const std::string& directory)
{
    shareOverride() = directory;
}

std::string UsbResources::bundledUsbFlasher()
{
    const QFileInfo helper(QCoreApplication::applicationDirPath() + "/TavrikUSBFlasher");
    if (!helper.isFile() || !helper.isExecutable()) {
        throw UsbError(UsbError::firmwareDomain, 11, "Tavrik Link could not locate the bundled USB flasher helper.");
    }
    return helper.absoluteFilePath().toStdString();
}

std::string UsbResources::labelFontPath()
{
    return shareDirectory() + "/Fonts/OpenGorton-Regular.otf";
}

std::optional<std::string> UsbResources::probeImagePath(const std::string& targetId)
{
    const QFileInfo image(QString::fromStdString(shareDirectory() + "/USBProbeImages/" + targetId + ".bin"));
    if (!image.isFile() || !image.isReadable()) {
        return std::nullopt;
    }
    return image.absoluteFilePath().toStdString();
}

} // namespace tavrik
