#pragma once

#include "TavrikPlatform/Bluetooth/BleCentral.hpp"

#include <QDBusArgument>
#include <QDBusMessage>
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

// The tree of a GetManagedObjects reply; empty when the call failed.
BluezObjects readManagedObjectsReply(const QDBusMessage& reply);
// The device with that address, or an empty path.
QString bluezDevicePath(const BluezObjects& objects, const QString& address);
// The characteristic of that service below the device, or an empty path.
QString bluezCharacteristicPath(
    const BluezObjects& objects, const QString& devicePath, const Uuid& serviceUuid, const Uuid& characteristicUuid);

// A failed BlueZ call as the interface reports it. The answers that mean the bond is gone or was
// refused (failed, rejected or cancelled authentication, an operation not permitted for want of
// pairing, insufficient authentication or encryption) carry bleErrorPeerRemovedPairingInformation.
BleError bleErrorFromBluez(const QString& name, const QString& message);

} // namespace tavrik
