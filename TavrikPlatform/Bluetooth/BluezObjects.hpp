#pragma once

#include <QDBusArgument>
#include <QMap>
#include <QString>
#include <QVariantMap>

namespace tavrik {

// BlueZ's object tree as GetManagedObjects and InterfacesAdded give it: path, then interface name,
// then that interface's properties.
//
// Read by hand on purpose: registering a QtDBus type for the nested maps before Qt Bluetooth does
// stops Qt from seeing devices that appear during a scan.
using BluezInterfaces = QMap<QString, QVariantMap>;
using BluezObjects = QMap<QString, BluezInterfaces>;

inline const QString bluezService = QStringLiteral("org.bluez");
inline const QString bluezAdapterInterface = QStringLiteral("org.bluez.Adapter1");
inline const QString bluezDeviceInterface = QStringLiteral("org.bluez.Device1");
inline const QString bluezGattServiceInterface = QStringLiteral("org.bluez.GattService1");
inline const QString bluezGattCharacteristicInterface = QStringLiteral("org.bluez.GattCharacteristic1");

// a{sa{sv}}
BluezInterfaces readBluezInterfaces(const QDBusArgument& argument);
// a{oa{sa{sv}}}
BluezObjects readBluezObjects(const QDBusArgument& argument);
// A variant of a D-Bus message argument as the plain value (a{sv} becomes a QVariantMap).
QVariantMap readPropertyMap(const QVariant& argument);

} // namespace tavrik
