#include "TavrikLink/Usb/UsbSerialPorts.hpp"
#include "tests/support/qt/QtTestSupport.hpp"

#include <QDir>
#include <QFile>
#include <QObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tavrik;

namespace {

void touch(const QDir& directory, const QString& name)
{
    QFile file(directory.filePath(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
}

TEST(UsbSerialPorts, ListsUsbAdaptersInPlainStringOrder)
{
    QTemporaryDir temporary;
    const QDir dev(temporary.path());
    for (const char* name : { "cu.usbmodem2101", "cu.Bluetooth-Incoming-Port", "tty.usbserial-10", "cu.SLAB_USBtoUART",
             "ttyUSB0", "ttyACM1", "ttyS0", "ptmx", "tty", "cu.wchusbserial3", "ttyusb9" }) {
        touch(dev, name);
    }
    dev.mkdir("pts");
    const std::string root = temporary.path().toStdString();
    EXPECT_EQ(UsbSerialPorts::list(root),
        (std::vector<std::string> { root + "/cu.SLAB_USBtoUART", root + "/cu.usbmodem2101", root + "/cu.wchusbserial3",
            root + "/ttyACM1", root + "/ttyUSB0" }));
    EXPECT_TRUE(UsbSerialPorts::list(root + "/missing").empty());
}

TEST(UsbSerialPorts, TheWatchReportsAChangeOfTheDirectory)
{
    QTemporaryDir temporary;
    int changes = 0;
    auto watch = UsbSerialPorts::watch(temporary.path().toStdString(), [&] { ++changes; });
    ASSERT_NE(watch, nullptr);
    touch(QDir(temporary.path()), "ttyUSB0");
    EXPECT_TRUE(test::processEventsUntil([&] { return changes > 0; }));
    EXPECT_EQ(UsbSerialPorts::watch(temporary.path().toStdString() + "/missing", [] {}), nullptr);
}

} // namespace
