#include "TavrikPlatform/Bluetooth/QtBlePeripheral.hpp"

#include "TavrikPlatform/Bluetooth/QtBleUuid.hpp"

#include <QLowEnergyDescriptor>

#include <algorithm>

namespace tavrik {

void QtBlePeripheral::setNotifyValue(bool enabled, const BleCharacteristic& characteristic)
{
    const auto qtCharacteristic = findCharacteristic(characteristic);
    const auto descriptor
        = qtCharacteristic ? qtCharacteristic->clientCharacteristicConfiguration() : QLowEnergyDescriptor();
    if (!descriptor.isValid()) {
        post([this, characteristic = withNotifyState(characteristic)](BlePeripheralDelegate& d) {
            d.peripheralDidUpdateNotificationState(*this, characteristic, failure("Notifications not available"));
        });
        return;
    }
    operations.push_back({ Operation::Kind::notify, characteristic, {}, enabled });
    QByteArray value = QLowEnergyCharacteristic::CCCDDisable;
    if (enabled) {
        value = qtCharacteristic->properties().testFlag(QLowEnergyCharacteristic::Notify)
            ? QLowEnergyCharacteristic::CCCDEnableNotification
            : QLowEnergyCharacteristic::CCCDEnableIndication;
    }
    serviceStates[characteristic.serviceUuid].object->writeDescriptor(descriptor, value);
}

void QtBlePeripheral::writeValue(const Data& value, const BleCharacteristic& characteristic, BleWriteType type)
{
    const auto qtCharacteristic = findCharacteristic(characteristic);
    if (!qtCharacteristic) {
        logger("Bluetooth write skipped: not connected to the characteristic");
        if (type == BleWriteType::withResponse) {
            post([this, characteristic = withNotifyState(characteristic)](BlePeripheralDelegate& d) {
                d.peripheralDidWriteValue(*this, characteristic, failure("Not connected"));
            });
        }
        return;
    }
    const QByteArray bytes(reinterpret_cast<const char*>(value.data()), static_cast<qsizetype>(value.size()));
    const bool withResponse = type == BleWriteType::withResponse;
    operations.push_back({ withResponse ? Operation::Kind::writeWithResponse : Operation::Kind::writeWithoutResponse,
        characteristic, bytes, false });
    serviceStates[characteristic.serviceUuid].object->writeCharacteristic(*qtCharacteristic, bytes,
        withResponse ? QLowEnergyService::WriteWithResponse : QLowEnergyService::WriteWithoutResponse);
}

// Qt runs one attribute operation at a time, in order, and confirms nothing for a write without
// response. So a confirmation also settles every write without response queued before it.
void QtBlePeripheral::characteristicWritten(
    const Uuid& serviceUuid, const QLowEnergyCharacteristic& characteristic, const QByteArray& value)
{
    const auto uuid = fromQtUuid(characteristic.uuid());
    const auto found = std::ranges::find_if(operations, [&](const Operation& operation) {
        return operation.kind == Operation::Kind::writeWithResponse && operation.characteristic.serviceUuid == serviceUuid
            && uuid && operation.characteristic.uuid == *uuid && operation.value == value;
    });
    if (found == operations.end()) {
        return;
    }
    const auto written = found->characteristic;
    operations.erase(operations.begin(), std::next(found));
    post([this, written = withNotifyState(written)](
             BlePeripheralDelegate& d) { d.peripheralDidWriteValue(*this, written, std::nullopt); });
}

void QtBlePeripheral::descriptorWritten(const QLowEnergyDescriptor& descriptor)
{
    if (descriptor.type() != QBluetoothUuid::DescriptorType::ClientCharacteristicConfiguration) {
        return;
    }
    const auto found = std::ranges::find_if(
        operations, [](const Operation& operation) { return operation.kind == Operation::Kind::notify; });
    if (found == operations.end()) {
        return;
    }
    const auto operation = *found;
    operations.erase(operations.begin(), std::next(found));
    const std::pair key { operation.characteristic.serviceUuid, operation.characteristic.uuid };
    if (operation.enable) {
        notifying.insert(key);
    } else {
        notifying.erase(key);
    }
    post([this, characteristic = withNotifyState(operation.characteristic)](BlePeripheralDelegate& d) {
        d.peripheralDidUpdateNotificationState(*this, characteristic, std::nullopt);
    });
}

// Qt names neither the characteristic nor the operation that failed; the failure belongs to the
// oldest unsettled operation of its kind. A write without response ahead of it may have been the
// one that failed: the write with response is then reported failed instead, which still completes
// it exactly once.
void QtBlePeripheral::serviceError(QLowEnergyService::ServiceError serviceError)
{
    const bool writeFailed = serviceError == QLowEnergyService::CharacteristicWriteError;
    const bool descriptorFailed = serviceError == QLowEnergyService::DescriptorWriteError;
    if (!writeFailed && !descriptorFailed) {
        logger("Bluetooth service error " + std::to_string(static_cast<int>(serviceError)) + " from " + identifier());
        return;
    }
    auto front = operations.begin();
    while (front != operations.end() && front->kind == Operation::Kind::writeWithoutResponse) {
        ++front;
    }
    const auto expected = writeFailed ? Operation::Kind::writeWithResponse : Operation::Kind::notify;
    if (front == operations.end() || front->kind != expected) {
        operations.erase(operations.begin(), front);
        logger("Bluetooth write without response failed on " + identifier());
        return;
    }
    const auto operation = *front;
    operations.erase(operations.begin(), std::next(front));
    if (writeFailed) {
        post([this, characteristic = withNotifyState(operation.characteristic)](BlePeripheralDelegate& d) {
            d.peripheralDidWriteValue(*this, characteristic, failure("The write failed"));
        });
    } else {
        post([this, characteristic = withNotifyState(operation.characteristic)](BlePeripheralDelegate& d) {
            d.peripheralDidUpdateNotificationState(*this, characteristic, failure("The notification setting failed"));
        });
    }
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
