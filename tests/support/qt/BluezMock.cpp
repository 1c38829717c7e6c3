#include "tests/support/qt/BluezMock.hpp"

#include "tests/support/qt/QtTestSupport.hpp"

#include <QDBusConnectionInterface>
#include <QFile>
#include <QStandardPaths>

#include <gtest/gtest.h>

namespace tavrik::test {

namespace {

// Debian's python: an interpreter earlier on PATH (pyenv) may not see its dbusmock.
const QString python = QStringLiteral("/usr/bin/python3");

// Generous: a loaded two-core machine starts python slowly.
constexpr int startTimeoutMs = 30000;

} // namespace

QString BluezMock::unavailableReason()
{
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty()) {
        return QStringLiteral("dbus-daemon is not installed");
    }
    QProcess probe;
    probe.start(python, { QStringLiteral("-c"), QStringLiteral("import dbusmock") });
    if (!probe.waitForFinished(startTimeoutMs) || probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0) {
        return QStringLiteral("python3-dbusmock is not installed");
    }
    return {};
}

BluezMock::BluezMock()
{
    static int instances = 0;
    connectionName = QStringLiteral("tavrik-bluez-mock-%1").arg(++instances);
}

BluezMock::~BluezMock()
{
    stopBluez();
    QDBusConnection::disconnectFromBus(connectionName);
    if (daemon.state() != QProcess::NotRunning) {
        daemon.kill();
        daemon.waitForFinished(startTimeoutMs);
    }
}

bool BluezMock::startBus()
{
    if (!directory.isValid()) {
        error = QStringLiteral("no temporary directory");
        return false;
    }
    const QString config = directory.filePath(QStringLiteral("bus.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly)) {
        error = QStringLiteral("cannot write the bus configuration");
        return false;
    }
    file.write(QStringLiteral(R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=%1</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)")
                   .arg(directory.filePath(QStringLiteral("bus.sock")))
                   .toUtf8());
    file.close();

    daemon.setProcessChannelMode(QProcess::SeparateChannels);
    daemon.start(QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")),
        { QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"), QStringLiteral("--print-address=1") });
    QByteArray printed;
    const bool ready = processEventsUntil(
        [&] {
            printed += daemon.readAllStandardOutput();
            return printed.contains('\n') || daemon.state() == QProcess::NotRunning;
        },
        startTimeoutMs);
    if (!ready || !printed.contains('\n')) {
        error = QStringLiteral("dbus-daemon did not start: ") + QString::fromUtf8(daemon.readAllStandardError());
        return false;
    }
    address = QString::fromUtf8(printed.left(printed.indexOf('\n'))).trimmed();
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toUtf8());
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    // The mock is no bluetoothd whose version Qt could ask; this picks Qt's BlueZ D-Bus backend.
    qputenv("BLUETOOTH_FORCE_DBUS_LE_VERSION", "5.66");
    if (!QDBusConnection::connectToBus(address, connectionName).isConnected()) {
        error = QStringLiteral("cannot connect to the private bus");
        return false;
    }
    return true;
}

bool BluezMock::startBluez(const QString& templatePath)
{
    bluez.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    bluez.setStandardOutputFile(QProcess::nullDevice());
    bluez.start(python,
        { QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--system"), QStringLiteral("--template"),
            templatePath });
    auto bus = QDBusConnection(connectionName);
    const bool owned = processEventsUntil(
        [&] {
            return bluez.state() == QProcess::NotRunning
                || bus.interface()->isServiceRegistered(QStringLiteral("org.bluez"));
        },
        startTimeoutMs);
    if (!owned || bluez.state() == QProcess::NotRunning) {
        error = QStringLiteral("the mock BlueZ did not start");
        return false;
    }
    return true;
}

void BluezMock::stopBluez()
{
    if (bluez.state() == QProcess::NotRunning) {
        return;
    }
    bluez.terminate();
    if (!bluez.waitForFinished(startTimeoutMs)) {
        bluez.kill();
        bluez.waitForFinished(startTimeoutMs);
    }
}

QDBusMessage BluezMock::call(const QString& method, const QVariantList& arguments)
{
    auto message = QDBusMessage::createMethodCall(
        QStringLiteral("org.bluez"), QStringLiteral("/"), QStringLiteral("org.freedesktop.DBus.Mock"), method);
    message.setArguments(arguments);
    const auto reply = QDBusConnection(connectionName).call(message, QDBus::Block, startTimeoutMs);
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage)
        << method.toStdString() << ": " << reply.errorMessage().toStdString();
    return reply;
}

} // namespace tavrik::test
