#include "TavrikPlatform/Bluetooth/BluezObjects.hpp"

#include "TavrikPlatform/Bluetooth/QtBleUuid.hpp"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>

#include <algorithm>
#include <array>

namespace tavrik {

namespace {

// Unwraps variants whose content QtDBus left as a raw argument (arrays of strings and bytes come
// out as lists already).
QVariant plainValue(const QVariant& value)
{
    if (value.canConvert<QDBusVariant>() && value.metaType() == QMetaType::fromType<QDBusVariant>()) {
        return plainValue(value.value<QDBusVariant>().variant());
    }
    if (value.metaType() == QMetaType::fromType<QDBusArgument>()) {
        const auto argument = value.value<QDBusArgument>();
        if (argument.currentSignature() == QLatin1String("as")) {
            return qdbus_cast<QStringList>(argument);
        }
        if (argument.currentSignature() == QLatin1String("ay")) {
            return qdbus_cast<QByteArray>(argument);
        }
    }
    return value;
}

QVariantMap readProperties(const QDBusArgument& argument)
{
    QVariantMap properties;
    argument.beginMap();
    while (!argument.atEnd()) {
        QString name;
        QDBusVariant value;
        argument.beginMapEntry();
        argument >> name >> value;
        argument.endMapEntry();
        properties.insert(name, plainValue(value.variant()));
    }
    argument.endMap();
    return properties;
}

} // namespace

BluezInterfaces readBluezInterfaces(const QDBusArgument& argument)
{
    BluezInterfaces interfaces;
    argument.beginMap();
    while (!argument.atEnd()) {
        QString name;
        argument.beginMapEntry();
        argument >> name;
        interfaces.insert(name, readProperties(argument));
        argument.endMapEntry();
    }
    argument.endMap();
    return interfaces;
}

BluezObjects readBluezObjects(const QDBusArgument& argument)
{
    BluezObjects objects;
    argument.beginMap();
    while (!argument.atEnd()) {
        QDBusObjectPath path;
        argument.beginMapEntry();
        argument >> path;
        objects.insert(path.path(), readBluezInterfaces(argument));
        argument.endMapEntry();
    }
    argument.endMap();
    return objects;
}

QVariantMap readPropertyMap(const QVariant& argument)
{
    if (argument.metaType() == QMetaType::fromType<QDBusArgument>()) {
        return readProperties(argument.value<QDBusArgument>());
    }
    return argument.toMap();
}

BluezObjects readManagedObjectsReply(const QDBusMessage& reply)
{
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()
        || reply.arguments().constFirst().metaType() != QMetaType::fromType<QDBusArgument>()) {
        return {};
    }
    return readBluezObjects(reply.arguments().constFirst().value<QDBusArgument>());
}

QString bluezDevicePath(const BluezObjects& objects, const QString& address)
{
    for (auto object = objects.begin(); object != objects.end(); ++object) {
        const auto device = object->find(bluezDeviceInterface);
        if (device != object->end()
            && device->value(QStringLiteral("Address")).toString().compare(address, Qt::CaseInsensitive) == 0) {
            return object.key();
        }
    }
    return {};
}

QString bluezCharacteristicPath(
    const BluezObjects& objects, const QString& devicePath, const Uuid& serviceUuid, const Uuid& characteristicUuid)
{
    // Like Qt, by path: services sit below the device, characteristics below their service.
    const auto hasUuid = [](const BluezInterfaces& interfaces, const QString& interface, const Uuid& uuid) {
        const auto found = interfaces.find(interface);
        return found != interfaces.end()
            && fromQtUuid(QBluetoothUuid(found->value(QStringLiteral("UUID")).toString())) == uuid;
    };
    for (auto service = objects.begin(); service != objects.end(); ++service) {
        if (!service.key().startsWith(devicePath + QLatin1Char('/'))
            || !hasUuid(*service, bluezGattServiceInterface, serviceUuid)) {
            continue;
        }
        for (auto characteristic = objects.begin(); characteristic != objects.end(); ++characteristic) {
            if (characteristic.key().startsWith(service.key() + QLatin1Char('/'))
                && hasUuid(*characteristic, bluezGattCharacteristicInterface, characteristicUuid)) {
                return characteristic.key();
            }
        }
    }
    return {};
}

BleError bleErrorFromBluez(const QString& name, const QString& message)
{
    // A cancelled pairing prompt (AuthenticationCanceled) is not among them: the bond is fine, and the
    // user only has to answer the prompt next time.
    static const std::array<QLatin1String, 3> pairingNames {
        QLatin1String("org.bluez.Error.AuthenticationFailed"),
        QLatin1String("org.bluez.Error.AuthenticationRejected"),
        QLatin1String("org.bluez.Error.NotPermitted"),
    };
    // ATT errors 0x05, 0x0c and 0x0f: insufficient authentication, key size and encryption.
    static const std::array<QLatin1String, 5> pairingTexts {
        QLatin1String("Insufficient Authentication"),
        QLatin1String("Insufficient Encryption"),
        QLatin1String("ATT error: 0x05"),
        QLatin1String("ATT error: 0x0c"),
        QLatin1String("ATT error: 0x0f"),
    };
    const bool pairingGone = std::ranges::any_of(pairingNames, [&](QLatin1String known) { return name == known; })
        || std::ranges::any_of(
            pairingTexts, [&](QLatin1String text) { return message.contains(text, Qt::CaseInsensitive); });
    const QString text = message.isEmpty() ? name : message + QStringLiteral(" (") + name + QLatin1Char(')');
    return BleError { text.toStdString(), pairingGone ? bleErrorPeerRemovedPairingInformation : 0 };
}

} // namespace tavrik
