#include "TavrikPlatform/Bluetooth/BluezObjects.hpp"

#include <QDBusObjectPath>
#include <QDBusVariant>

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

} // namespace tavrik
