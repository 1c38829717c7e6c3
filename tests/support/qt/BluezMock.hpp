#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QVariantList>

#include <memory>

namespace tavrik::test {

// A private D-Bus bus that this process takes as its system bus, and a python-dbusmock BlueZ on it
// loaded with a template of hand-built objects. Qt Bluetooth caches the bus and BlueZ's version per
// process, so a test using it must run in a process of its own and start the bus before anything
// touches the system bus.
class BluezMock final {
public:
    // Why the mock cannot run here (dbus-daemon or python-dbusmock missing), or empty.
    static QString unavailableReason();

    BluezMock();
    ~BluezMock();
    BluezMock(const BluezMock&) = delete;
    BluezMock& operator=(const BluezMock&) = delete;

    // Starts the bus and points this process's system bus at it.
    bool startBus();
    // Starts the mock BlueZ from the template file and waits until it owns "org.bluez".
    bool startBluez(const QString& templatePath);
    // Ends the mock BlueZ, as when bluetoothd stops.
    void stopBluez();

    // Calls a control method of the template (or of dbusmock itself) on "/"; fails the test on error.
    QDBusMessage call(const QString& method, const QVariantList& arguments = {});

    QString lastError() const { return error; }

private:
    QTemporaryDir directory;
    QProcess daemon;
    QProcess bluez;
    QString address;
    QString connectionName;
    QString error;
};

} // namespace tavrik::test
