#pragma once

#include "TavrikCore/Model/TavrikBleProtocolProfile.hpp"
#include "TavrikPlatform/Bluetooth/BleCentral.hpp"
#include "tests/support/ManualScheduler.hpp"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavrik::test {

class FakeBleCentral;

// A device in radio range, in memory. Every delegate call is scheduled on the manual scheduler with
// delay 0, so it arrives on a later turn of the loop as the interface promises.
class FakeBlePeripheral final : public BlePeripheral, public std::enable_shared_from_this<FakeBlePeripheral> {
public:
    struct Write {
        Data data;
        BleCharacteristic characteristic;
        BleWriteType type = BleWriteType::withResponse;
    };

    FakeBlePeripheral(ManualScheduler& scheduler, std::string identifier, std::optional<std::string> name);

    // The profile's service with its data and (optionally) firmware characteristic.
    void offerProfile(
        TavrikBleProtocolProfile profile, bool withDataCharacteristic = true, bool withFirmwareCharacteristic = true);
    // A service that is not a Tavrik profile.
    void offerService(const Uuid& service, std::vector<BleCharacteristic> characteristics = {});

    // Script.
    std::optional<BleError> serviceDiscoveryError;
    std::optional<BleError> characteristicDiscoveryError;
    std::optional<BleError> notifyError;
    bool reportNoServices = false; // discovery succeeds but reports no list
    bool reportNoCharacteristics = false;
    int maximumWriteLength = 185; // below the channel's smallest frame, every send is refused
    bool canSendWithoutResponse = true;
    std::optional<BleError> writeError; // writes with response complete with this error
    bool silent = false; // writes are swallowed: no completion and nothing reaches the device
    // The device behind the radio: every write that is not swallowed.
    std::function<void(const Write&)> onWrite;

    // What the central side did.
    std::vector<Write> writes;
    std::vector<Uuid> requestedServices;

    // A notification of the characteristic (data by default) on the next turn.
    void notify(const Data& value, std::optional<Uuid> characteristic = std::nullopt);
    void failRead(const BleError& error);
    void announceReadyToSend();
    const std::vector<Uuid>& offeredServices() const { return offered; }
    std::optional<BleCharacteristic> dataCharacteristic() const;

    // BlePeripheral
    std::string identifier() const override { return id; }
    std::optional<std::string> name() const override { return peripheralName; }
    void setDelegate(BlePeripheralDelegate* delegate) override { this->delegate = delegate; }
    void discoverServices(const std::vector<Uuid>& serviceUuids) override;
    std::optional<std::vector<Uuid>> services() const override { return discoveredServices; }
    void discoverCharacteristics(const std::vector<Uuid>& characteristicUuids, const Uuid& serviceUuid) override;
    std::optional<std::vector<BleCharacteristic>> characteristics(const Uuid& serviceUuid) const override;
    void setNotifyValue(bool enabled, const BleCharacteristic& characteristic) override;
    void writeValue(const Data& value, const BleCharacteristic& characteristic, BleWriteType type) override;
    int maximumWriteValueLength(BleWriteType type) const override;
    bool canSendWriteWithoutResponse() const override { return canSendWithoutResponse; }

    BlePeripheralDelegate* currentDelegate() const { return delegate; }

private:
    void later(std::function<void(BlePeripheralDelegate&)> call);

    ManualScheduler& scheduler;
    std::string id;
    std::optional<std::string> peripheralName;
    BlePeripheralDelegate* delegate = nullptr;
    std::vector<Uuid> offered;
    std::map<Uuid, std::vector<BleCharacteristic>> offeredCharacteristics;
    std::optional<std::vector<Uuid>> discoveredServices;
    std::map<Uuid, std::vector<BleCharacteristic>> discoveredCharacteristics;
    std::optional<Uuid> profileDataCharacteristic;
};

// The adapter, in memory: state changes, scans that find the peripherals in range (and those that
// come into range while it scans), connects that succeed or fail as scripted, disconnects. Like Qt on
// BlueZ, cancelling a connect that has not come up yet reports nothing.
class FakeBleCentral final : public BleCentral {
public:
    explicit FakeBleCentral(ManualScheduler& scheduler, BleManagerState initialState = BleManagerState::poweredOn);

    // A device that answers scans for any service it offers; a running scan finds it at once.
    void addPeripheral(std::shared_ptr<FakeBlePeripheral> peripheral, int rssi = -50);
    void removePeripheral(const std::shared_ptr<FakeBlePeripheral>& peripheral);
    // Changes the adapter state and tells the delegate on the next turn.
    void changeState(BleManagerState state);
    // The next `times` connects fail with the error (none: a failure without one).
    void failNextConnect(std::optional<BleError> error, int times = 1);
    // While set, connects stay pending until completePendingConnects().
    bool connectsHang = false;
    void completePendingConnects();
    // The link drops as if the device went away.
    void dropLink(const std::shared_ptr<FakeBlePeripheral>& peripheral, std::optional<BleError> error);
    bool isConnected(const std::shared_ptr<BlePeripheral>& peripheral) const;

    int scanCount = 0;
    int connectCount = 0;
    int cancelCount = 0;
    std::vector<Uuid> lastScanServices;

    // BleCentral
    void setDelegate(BleCentralDelegate* delegate) override { this->delegate = delegate; }
    BleManagerState state() const override { return currentState; }
    void scanForPeripherals(const std::vector<Uuid>& serviceUuids) override;
    void stopScan() override { scanning = false; }
    bool isScanning() const override { return scanning; }
    void connect(const std::shared_ptr<BlePeripheral>& peripheral) override;
    void cancelPeripheralConnection(const std::shared_ptr<BlePeripheral>& peripheral) override;

private:
    void later(std::function<void(BleCentralDelegate&)> call);
    void reportIfScanning(const std::shared_ptr<FakeBlePeripheral>& peripheral, int rssi);
    void establish(const std::shared_ptr<BlePeripheral>& peripheral);

    struct InRange {
        std::shared_ptr<FakeBlePeripheral> peripheral;
        int rssi = 0;
    };

    ManualScheduler& scheduler;
    BleCentralDelegate* delegate = nullptr;
    BleManagerState currentState;
    bool scanning = false;
    std::vector<InRange> inRange;
    std::vector<std::shared_ptr<BlePeripheral>> pending;
    std::vector<std::shared_ptr<BlePeripheral>> connected;
    int failingConnects = 0;
    std::optional<BleError> connectError;
};

} // namespace tavrik::test
