#include "TavrikPlatform/Bluetooth/QtBlePeripheral.hpp"

#include "TavrikPlatform/Bluetooth/BluezObjects.hpp"

#include <QDBusConnection>
#include <QDBusMessage>

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
    callBluez(QStringLiteral("/"), QStringLiteral("org.freedesktop.DBus.ObjectManager"),
        QStringLiteral("GetManagedObjects"), {}, [this](const QDBusMessage& reply) {
            if (link != Link::connected) {
                return;
            }
            const auto objects = readManagedObjectsReply(reply);
            for (auto object = objects.begin(); object != objects.end(); ++object) {
                const auto characteristic = object->find(bluezGattCharacteristicInterface);
                if (object.key().startsWith(bluezDevice + QLatin1Char('/')) && characteristic != object->end()
                    && characteristic->contains(QStringLiteral("MTU"))) {
                    mtu = characteristic->value(QStringLiteral("MTU")).toInt();
                    return;
                }
            }
            logger("Bluetooth MTU unavailable; writes limited to " + std::to_string(fallbackWriteLength) + " bytes");
        });
}

void QtBlePeripheral::bluezPropertiesChanged(const QDBusMessage& message)
{
    const auto arguments = message.arguments();
    if (link != Link::connected || bluezDevice.isEmpty() || arguments.size() < 2
        || arguments.at(0).toString() != bluezGattCharacteristicInterface
        || !message.path().startsWith(bluezDevice + QLatin1Char('/'))) {
        return;
    }
    const auto changed = readPropertyMap(arguments.at(1));
    if (changed.contains(QStringLiteral("MTU"))) {
        mtu = changed.value(QStringLiteral("MTU")).toInt();
    }
}

} // namespace tavrik
