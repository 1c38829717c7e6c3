#include "tests/support/qt/FakeBleCentral.hpp"

#include <algorithm>

namespace tavrik::test {

FakeBlePeripheral::FakeBlePeripheral(ManualScheduler& scheduler, std::string identifier, std::optional<std::string> name)
    : scheduler(scheduler)
    , id(std::move(identifier))
    , peripheralName(std::move(name))
{
}

void FakeBlePeripheral::offerProfile(
    TavrikBleProtocolProfile profile, bool withDataCharacteristic, bool withFirmwareCharacteristic)
{
    const Uuid service = serviceUUID(profile);
    std::vector<BleCharacteristic> characteristics;
    if (withDataCharacteristic) {
        characteristics.push_back({ service, dataCharacteristicUUID(profile), bleNotify | bleWrite, false });
        profileDataCharacteristic = dataCharacteristicUUID(profile);
    }
    if (withFirmwareCharacteristic) {
        characteristics.push_back({ service, firmwareCharacteristicUUID(profile), bleWriteWithoutResponse, false });
    }
    offerService(service, std::move(characteristics));
}

void FakeBlePeripheral::offerService(const Uuid& service, std::vector<BleCharacteristic> characteristics)
{
    offered.push_back(service);
    offeredCharacteristics[service] = std::move(characteristics);
}

std::optional<BleCharacteristic> FakeBlePeripheral::dataCharacteristic() const
{
    if (!profileDataCharacteristic) {
        return std::nullopt;
    }
    for (const auto& [service, characteristics] : offeredCharacteristics) {
        for (const BleCharacteristic& characteristic : characteristics) {
            if (characteristic.uuid == *profileDataCharacteristic) {
                return characteristic;
            }
        }
    }
    return std::nullopt;
}

void FakeBlePeripheral::later(std::function<void(BlePeripheralDelegate&)> call)
{
    scheduler.schedule(std::chrono::milliseconds(0), [weak = weak_from_this(), call = std::move(call)] {
        if (const auto self = weak.lock(); self && self->delegate) {
            call(*self->delegate);
        }
    });
}

void FakeBlePeripheral::discoverServices(const std::vector<Uuid>& serviceUuids)
{
    requestedServices = serviceUuids;
    if (serviceDiscoveryError || reportNoServices) {
        discoveredServices.reset();
    } else {
        std::vector<Uuid> found;
        for (const Uuid& service : offered) {
            if (serviceUuids.empty()
                || std::find(serviceUuids.begin(), serviceUuids.end(), service) != serviceUuids.end()) {
                found.push_back(service);
            }
        }
        discoveredServices = found;
    }
    later([this](BlePeripheralDelegate& delegate) {
        delegate.peripheralDidDiscoverServices(*this, serviceDiscoveryError);
    });
}

void FakeBlePeripheral::discoverCharacteristics(const std::vector<Uuid>& characteristicUuids, const Uuid& serviceUuid)
{
    discoveredCharacteristics.erase(serviceUuid);
    if (!characteristicDiscoveryError && !reportNoCharacteristics) {
        std::vector<BleCharacteristic> found;
        for (const BleCharacteristic& characteristic : offeredCharacteristics[serviceUuid]) {
            if (characteristicUuids.empty()
                || std::find(characteristicUuids.begin(), characteristicUuids.end(), characteristic.uuid)
                    != characteristicUuids.end()) {
                found.push_back(characteristic);
            }
        }
        discoveredCharacteristics[serviceUuid] = found;
    }
    later([this, serviceUuid](BlePeripheralDelegate& delegate) {
        delegate.peripheralDidDiscoverCharacteristics(*this, serviceUuid, characteristicDiscoveryError);
    });
}

std::optional<std::vector<BleCharacteristic>> FakeBlePeripheral::characteristics(const Uuid& serviceUuid) const
{
    const auto found = discoveredCharacteristics.find(serviceUuid);
    if (found == discoveredCharacteristics.end()) {
        return std::nullopt;
    }
    return found->second;
}

void FakeBlePeripheral::setNotifyValue(bool enabled, const BleCharacteristic& characteristic)
{
    BleCharacteristic updated = characteristic;
    updated.isNotifying = enabled && !notifyError;
    later([this, updated](BlePeripheralDelegate& delegate) {
        delegate.peripheralDidUpdateNotificationState(*this, updated, notifyError);
    });
}

void FakeBlePeripheral::writeValue(const Data& value, const BleCharacteristic& characteristic, BleWriteType type)
{
    writes.push_back({ value, characteristic, type });
    if (silent) {
        return;
    }
    if (type == BleWriteType::withResponse) {
        later([this, characteristic](BlePeripheralDelegate& delegate) {
            delegate.peripheralDidWriteValue(*this, characteristic, writeError);
        });
    }
    if (onWrite && !(type == BleWriteType::withResponse && writeError)) {
        onWrite(writes.back());
    }
}

int FakeBlePeripheral::maximumWriteValueLength(BleWriteType) const
{
    return maximumWriteLength;
}

void FakeBlePeripheral::notify(const Data& value, std::optional<Uuid> characteristic)
{
    std::optional<BleCharacteristic> target = dataCharacteristic();
    if (characteristic) {
        for (const auto& [service, characteristics] : offeredCharacteristics) {
            for (const BleCharacteristic& candidate : characteristics) {
                if (candidate.uuid == *characteristic) {
                    target = candidate;
                }
            }
        }
    }
    if (!target) {
        return;
    }
    later([this, value, target](BlePeripheralDelegate& delegate) {
        delegate.peripheralDidUpdateValue(*this, *target, value, std::nullopt);
    });
}

void FakeBlePeripheral::failRead(const BleError& error)
{
    const std::optional<BleCharacteristic> target = dataCharacteristic();
    later([this, error, target](BlePeripheralDelegate& delegate) {
        delegate.peripheralDidUpdateValue(*this, target.value_or(BleCharacteristic {}), {}, error);
    });
}

void FakeBlePeripheral::announceReadyToSend()
{
    later([this](BlePeripheralDelegate& delegate) { delegate.peripheralIsReadyToSendWriteWithoutResponse(*this); });
}

FakeBleCentral::FakeBleCentral(ManualScheduler& scheduler, BleManagerState initialState)
    : scheduler(scheduler)
    , currentState(initialState)
{
}

void FakeBleCentral::later(std::function<void(BleCentralDelegate&)> call)
{
    scheduler.schedule(std::chrono::milliseconds(0), [this, call = std::move(call)] {
        if (delegate) {
            call(*delegate);
        }
    });
}

void FakeBleCentral::addPeripheral(std::shared_ptr<FakeBlePeripheral> peripheral, int rssi)
{
    inRange.push_back({ peripheral, rssi });
    if (scanning) {
        reportIfScanning(peripheral, rssi);
    }
}

void FakeBleCentral::removePeripheral(const std::shared_ptr<FakeBlePeripheral>& peripheral)
{
    std::erase_if(inRange, [&](const InRange& entry) { return entry.peripheral == peripheral; });
}

void FakeBleCentral::changeState(BleManagerState state)
{
    currentState = state;
    if (state != BleManagerState::poweredOn) {
        scanning = false;
    }
    later([](BleCentralDelegate& delegate) { delegate.centralDidUpdateState(); });
}

void FakeBleCentral::failNextConnect(std::optional<BleError> error, int times)
{
    failingConnects = times;
    connectError = std::move(error);
}

void FakeBleCentral::completePendingConnects()
{
    for (const std::shared_ptr<BlePeripheral>& peripheral : std::vector(pending)) {
        establish(peripheral);
    }
}

void FakeBleCentral::establish(const std::shared_ptr<BlePeripheral>& peripheral)
{
    const auto found = std::find(pending.begin(), pending.end(), peripheral);
    if (found == pending.end()) {
        return;
    }
    pending.erase(found);
    connected.push_back(peripheral);
    later([this, peripheral](BleCentralDelegate& delegate) {
        if (isConnected(peripheral)) {
            delegate.centralDidConnect(peripheral);
        }
    });
}

void FakeBleCentral::dropLink(const std::shared_ptr<FakeBlePeripheral>& peripheral, std::optional<BleError> error)
{
    const auto found = std::find(connected.begin(), connected.end(), std::shared_ptr<BlePeripheral>(peripheral));
    if (found == connected.end()) {
        return;
    }
    connected.erase(found);
    later([peripheral, error](BleCentralDelegate& delegate) { delegate.centralDidDisconnect(peripheral, error); });
}

bool FakeBleCentral::isConnected(const std::shared_ptr<BlePeripheral>& peripheral) const
{
    return std::find(connected.begin(), connected.end(), peripheral) != connected.end();
}

void FakeBleCentral::scanForPeripherals(const std::vector<Uuid>& serviceUuids)
{
    ++scanCount;
    lastScanServices = serviceUuids;
    if (currentState != BleManagerState::poweredOn) {
        return;
    }
    scanning = true;
    for (const InRange& entry : inRange) {
        reportIfScanning(entry.peripheral, entry.rssi);
    }
}

void FakeBleCentral::reportIfScanning(const std::shared_ptr<FakeBlePeripheral>& peripheral, int rssi)
{
    const std::vector<Uuid>& offered = peripheral->offeredServices();
    const bool matches = std::any_of(offered.begin(), offered.end(), [&](const Uuid& service) {
        return std::find(lastScanServices.begin(), lastScanServices.end(), service) != lastScanServices.end();
    });
    if (matches) {
        later([this, peripheral, rssi](BleCentralDelegate& delegate) {
            if (scanning) {
                delegate.centralDidDiscover(peripheral, rssi);
            }
        });
    }
}

void FakeBleCentral::connect(const std::shared_ptr<BlePeripheral>& peripheral)
{
    ++connectCount;
    if (failingConnects > 0) {
        --failingConnects;
        later([peripheral, error = connectError](
                  BleCentralDelegate& delegate) { delegate.centralDidFailToConnect(peripheral, error); });
        return;
    }
    pending.push_back(peripheral);
    if (!connectsHang) {
        establish(peripheral);
    }
}

void FakeBleCentral::cancelPeripheralConnection(const std::shared_ptr<BlePeripheral>& peripheral)
{
    ++cancelCount;
    // A connect still in progress ends quietly.
    std::erase(pending, peripheral);
    const auto found = std::find(connected.begin(), connected.end(), peripheral);
    if (found == connected.end()) {
        return;
    }
    connected.erase(found);
    later([peripheral](BleCentralDelegate& delegate) { delegate.centralDidDisconnect(peripheral, std::nullopt); });
}

} // namespace tavrik::test
