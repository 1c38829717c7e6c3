#include "TavrikPlatform/Bluetooth/QtBlePeripheral.hpp"

#include "TavrikPlatform/Bluetooth/BluezObjects.hpp"
#include "TavrikPlatform/Bluetooth/QtBleUuid.hpp"

#include <QDBusMessage>
#include <QLowEnergyDescriptor>

#include <algorithm>

namespace tavrik {

QString QtBlePeripheral::characteristicPath(const BleCharacteristic& characteristic) const
{
    if (!findCharacteristic(characteristic)) {
        return {};
    }
    const auto found = characteristicPaths.find({ characteristic.serviceUuid, characteristic.uuid });
    return found == characteristicPaths.end() ? QString() : found->second;
}

void QtBlePeripheral::setNotifyValue(bool enabled, const BleCharacteristic& characteristic)
{
    const auto qtCharacteristic = findCharacteristic(characteristic);
    const auto path = characteristicPath(characteristic);
    // Qt passes on a characteristic's values only when it has a configuration descriptor.
    if (path.isEmpty() || !qtCharacteristic->clientCharacteristicConfiguration().isValid()) {
        post([this, characteristic = withNotifyState(characteristic)](BlePeripheralDelegate& d) {
            d.peripheralDidUpdateNotificationState(*this, characteristic, failure("Notifications not available"));
        });
        return;
    }
    callBluez(path, bluezGattCharacteristicInterface,
        enabled ? QStringLiteral("StartNotify") : QStringLiteral("StopNotify"), {},
        [this, characteristic, enabled](const QDBusMessage& reply) {
            std::optional<BleError> error;
            const std::pair key { characteristic.serviceUuid, characteristic.uuid };
            if (reply.type() == QDBusMessage::ErrorMessage) {
                error = bleErrorFromBluez(reply.errorName(), reply.errorMessage());
            } else if (enabled) {
                notifying.insert(key);
            } else {
                notifying.erase(key);
            }
            post([this, characteristic = withNotifyState(characteristic), error](BlePeripheralDelegate& d) {
                d.peripheralDidUpdateNotificationState(*this, characteristic, error);
            });
        });
}

void QtBlePeripheral::writeValue(const Data& value, const BleCharacteristic& characteristic, BleWriteType type)
{
    const auto qtCharacteristic = findCharacteristic(characteristic);
    const auto path = characteristicPath(characteristic);
    const bool withResponse = type == BleWriteType::withResponse;
    if (!qtCharacteristic || (withResponse && path.isEmpty())) {
        logger("Bluetooth write skipped: not connected to the characteristic");
        if (withResponse) {
            post([this, characteristic = withNotifyState(characteristic)](BlePeripheralDelegate& d) {
                d.peripheralDidWriteValue(*this, characteristic, failure("Not connected"));
            });
        }
        return;
    }
    const QByteArray bytes(reinterpret_cast<const char*>(value.data()), static_cast<qsizetype>(value.size()));
    if (!withResponse) {
        // Nothing confirms it; Qt paces it with the other attribute operations.
        serviceStates[characteristic.serviceUuid].object->writeCharacteristic(
            *qtCharacteristic, bytes, QLowEnergyService::WriteWithoutResponse);
        return;
    }
    // One BlueZ call per write: its answer completes exactly that write, with BlueZ's reason when it failed.
    const QVariantMap options { { QStringLiteral("type"), QStringLiteral("request") } };
    callBluez(path, bluezGattCharacteristicInterface, QStringLiteral("WriteValue"), { bytes, options },
        [this, characteristic](const QDBusMessage& reply) {
            std::optional<BleError> error;
            if (reply.type() == QDBusMessage::ErrorMessage) {
                error = bleErrorFromBluez(reply.errorName(), reply.errorMessage());
            }
            post([this, characteristic = withNotifyState(characteristic), error](
                     BlePeripheralDelegate& d) { d.peripheralDidWriteValue(*this, characteristic, error); });
        });
}

// Only writes without response still go through Qt, and nothing waits for them.
void QtBlePeripheral::serviceError(QLowEnergyService::ServiceError serviceError)
{
    if (serviceError == QLowEnergyService::CharacteristicWriteError) {
        logger("Bluetooth write without response failed on " + identifier());
        return;
    }
    logger("Bluetooth service error " + std::to_string(static_cast<int>(serviceError)) + " from " + identifier());
}

// Qt reports every value change of a characteristic with a configuration descriptor, reads
// included; only those after a subscription are notifications.
void QtBlePeripheral::characteristicChanged(
    const Uuid& serviceUuid, const QLowEnergyCharacteristic& characteristic, const QByteArray& value)
{
    const auto uuid = fromQtUuid(characteristic.uuid());
    if (!uuid || !notifying.contains({ serviceUuid, *uuid })) {
        return;
    }
    const auto found = serviceStates.find(serviceUuid);
    if (found == serviceStates.end() || !found->second.characteristics) {
        return;
    }
    const auto known = std::ranges::find_if(
        *found->second.characteristics, [&](const BleCharacteristic& candidate) { return candidate.uuid == *uuid; });
    if (known == found->second.characteristics->end()) {
        return;
    }
    Data bytes(value.begin(), value.end());
    post([this, characteristic = withNotifyState(*known), bytes = std::move(bytes)](
             BlePeripheralDelegate& d) { d.peripheralDidUpdateValue(*this, characteristic, bytes, std::nullopt); });
}

} // namespace tavrik
