#include "TavrikPlatform/Bluetooth/QtBlePeripheral.hpp"

#include "TavrikPlatform/Bluetooth/BluezObjects.hpp"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>

namespace tavrik {

namespace {
// Without an MTU from BlueZ, assume 23, the protocol's minimum, which fits any link.
constexpr int fallbackWriteLength = 20;
constexpr int attributeHeaderLength = 3;
} // namespace

int QtBlePeripheral::maximumWriteValueLength(BleWriteType) const
{
    return mtu > attributeHeaderLength + fallbackWriteLength ? mtu - attributeHeaderLength : fallbackWriteLength;
}

bool QtBlePeripheral::canSendWriteWithoutResponse() const
{
    // Qt has no flow control for writes without response; the protocol's acknowledgements pace them.
    return true;
}

// Qt's controller has no MTU on BlueZ; BlueZ shows the link's MTU on each characteristic.
void QtBlePeripheral::readMtu()
{
    const int generation = mtuGeneration;
    auto call = QDBusMessage::createMethodCall(bluezService, QStringLiteral("/"),
        QStringLiteral("org.freedesktop.DBus.ObjectManager"), QStringLiteral("GetManagedObjects"));
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, generation] {
        watcher->deleteLater();
        if (generation != mtuGeneration || link != Link::connected) {
            return;
        }
        const QDBusMessage reply = watcher->reply();
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
            && reply.arguments().constFirst().metaType() == QMetaType::fromType<QDBusArgument>()) {
            const auto objects = readBluezObjects(reply.arguments().constFirst().value<QDBusArgument>());
            const auto address = info.address().toString();
            for (auto object = objects.begin(); object != objects.end() && devicePath.isEmpty(); ++object) {
                const auto device = object->find(bluezDeviceInterface);
                if (device != object->end()
                    && device->value(QStringLiteral("Address")).toString().compare(address, Qt::CaseInsensitive) == 0) {
                    devicePath = object.key();
                }
            }
            for (auto object = objects.begin(); object != objects.end() && !devicePath.isEmpty(); ++object) {
                const auto characteristic = object->find(bluezGattCharacteristicInterface);
                if (object.key().startsWith(devicePath + QLatin1Char('/')) && characteristic != object->end()
                    && characteristic->contains(QStringLiteral("MTU"))) {
                    mtu = characteristic->value(QStringLiteral("MTU")).toInt();
                    return;
                }
            }
        }
        logger("Bluetooth MTU unavailable; writes limited to " + std::to_string(fallbackWriteLength) + " bytes");
    });
}

void QtBlePeripheral::bluezPropertiesChanged(const QDBusMessage& message)
{
    const auto arguments = message.arguments();
    if (link != Link::connected || devicePath.isEmpty() || arguments.size() < 2
        || arguments.at(0).toString() != bluezGattCharacteristicInterface
        || !message.path().startsWith(devicePath + QLatin1Char('/'))) {
        return;
    }
    const auto changed = readPropertyMap(arguments.at(1));
    if (changed.contains(QStringLiteral("MTU"))) {
        mtu = changed.value(QStringLiteral("MTU")).toInt();
    }
}

} // namespace tavrik
