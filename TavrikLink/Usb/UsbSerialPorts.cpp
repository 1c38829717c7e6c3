#include "TavrikLink/Usb/UsbSerialPorts.hpp"

#include <QDir>
#include <QFileSystemWatcher>

#include <algorithm>
#include <array>
#include <utility>

namespace tavrik {

bool UsbSerialPorts::isCandidateName(std::string_view name)
{
    static constexpr std::array<std::string_view, 6> prefixes {
        "cu.usbserial",
        "cu.usbmodem",
        "cu.wchusbserial",
        "cu.SLAB_USBtoUART",
        "ttyUSB",
        "ttyACM",
    };
    return std::any_of(
        prefixes.begin(), prefixes.end(), [&](std::string_view prefix) { return name.starts_with(prefix); });
}

std::vector<std::string> UsbSerialPorts::list(const std::string& directory)
{
    const QDir dir(QString::fromStdString(directory));
    std::vector<std::string> ports;
    if (!dir.exists() || !dir.isReadable()) {
        return ports;
    }
    const QStringList names = dir.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        const std::string text = name.toStdString();
        if (isCandidateName(text)) {
            std::string path = directory;
            if (!path.ends_with('/')) {
                path += '/';
            }
            path += text;
            ports.push_back(std::move(path));
        }
    }
    std::sort(ports.begin(), ports.end());
    return ports;
}

std::unique_ptr<QObject> UsbSerialPorts::watch(const std::string& directory, std::function<void()> onChange)
{
    auto watcher = std::make_unique<QFileSystemWatcher>();
    if (!watcher->addPath(QString::fromStdString(directory))) {
        return nullptr;
    }
    QObject::connect(watcher.get(), &QFileSystemWatcher::directoryChanged, watcher.get(),
        [onChange = std::move(onChange)](const QString&) { onChange(); });
    return watcher;
}

} // namespace tavrik
