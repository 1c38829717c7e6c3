#pragma once

#include "TavrikCore/Link/BleWriteType.hpp"
#include "TavrikCore/Support/Data.hpp"
#include "TavrikCore/Support/Uuid.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavrik {

// The Bluetooth LE central as the controller needs it. Implementations: Qt Bluetooth on BlueZ
// (QtBleCentral) and the scripted fake in the tests. No Qt type appears here.
//
// Every delegate call is made from the owner's event loop, never from inside the call that caused
// it: connect() returns before didConnect arrives, and so on.

enum class BleManagerState {
    unknown,
    resetting,
    unsupported,
    unauthorized,
    poweredOff,
    poweredOn,
};

// Why Bluetooth cannot be used, as far as the stack can tell; none while an adapter is powered on
// or before the stack's first answer.
enum class BleUnavailableReason {
    none,
    noSystemBus,
    bluezNotRunning,
    accessDenied,
    noAdapter,
    adapterOff,
};

// A failure reported by the stack. `code` is bleErrorPeerRemovedPairingInformation when the device
// forgot its bond with us (the user has to pair again); other codes are informational.
struct BleError {
    std::string description;
    int code = 0;

    friend bool operator==(const BleError&, const BleError&) = default;
};

inline constexpr int bleErrorPeerRemovedPairingInformation = 14;

// Characteristic property bits, as the attribute protocol numbers them.
enum BleCharacteristicProperty : std::uint32_t {
    bleRead = 0x02,
    bleWriteWithoutResponse = 0x04,
    bleWrite = 0x08,
    bleNotify = 0x10,
    bleIndicate = 0x20,
};

struct BleCharacteristic {
    Uuid serviceUuid;
    Uuid uuid;
    std::uint32_t properties = 0;
    bool isNotifying = false;

    bool has(BleCharacteristicProperty property) const { return (properties & property) != 0; }
    friend bool operator==(const BleCharacteristic&, const BleCharacteristic&) = default;
};

class BlePeripheral;

class BlePeripheralDelegate {
public:
    virtual ~BlePeripheralDelegate() = default;
    // Service discovery ended; peripheral.services() holds what was found (none when it failed).
    virtual void peripheralDidDiscoverServices(BlePeripheral& peripheral, std::optional<BleError> error) = 0;
    virtual void peripheralDidDiscoverCharacteristics(
        BlePeripheral& peripheral, const Uuid& serviceUuid, std::optional<BleError> error)
        = 0;
    virtual void peripheralDidUpdateNotificationState(
        BlePeripheral& peripheral, const BleCharacteristic& characteristic, std::optional<BleError> error)
        = 0;
    // A notification (or the answer to a read) with the characteristic's value as it was on arrival.
    virtual void peripheralDidUpdateValue(BlePeripheral& peripheral, const BleCharacteristic& characteristic,
        const Data& value, std::optional<BleError> error)
        = 0;
    // Completion of a write with response.
    virtual void peripheralDidWriteValue(
        BlePeripheral& peripheral, const BleCharacteristic& characteristic, std::optional<BleError> error)
        = 0;
    virtual void peripheralIsReadyToSendWriteWithoutResponse(BlePeripheral& peripheral) = 0;
};

// One remote device. Services and characteristics are named by UUID: the device offers each of its
// services once.
class BlePeripheral {
public:
    virtual ~BlePeripheral() = default;

    // A stable identifier (the Bluetooth address on Linux).
    virtual std::string identifier() const = 0;
    // The advertised name, if any.
    virtual std::optional<std::string> name() const = 0;

    virtual void setDelegate(BlePeripheralDelegate* delegate) = 0;

    // Only the given services are looked for; the result arrives at peripheralDidDiscoverServices.
    virtual void discoverServices(const std::vector<Uuid>& serviceUuids) = 0;
    // Services found by the last discovery; none before it finished or when it failed.
    virtual std::optional<std::vector<Uuid>> services() const = 0;
    virtual void discoverCharacteristics(const std::vector<Uuid>& characteristicUuids, const Uuid& serviceUuid) = 0;
    // Characteristics found on a service; none before their discovery finished or when it failed.
    virtual std::optional<std::vector<BleCharacteristic>> characteristics(const Uuid& serviceUuid) const = 0;

    virtual void setNotifyValue(bool enabled, const BleCharacteristic& characteristic) = 0;
    virtual void writeValue(const Data& value, const BleCharacteristic& characteristic, BleWriteType type) = 0;
    // The largest single write for that write type, in bytes.
    virtual int maximumWriteValueLength(BleWriteType type) const = 0;
    virtual bool canSendWriteWithoutResponse() const = 0;
};

class BleCentralDelegate {
public:
    virtual ~BleCentralDelegate() = default;
    // The adapter's state changed; read it with BleCentral::state().
    virtual void centralDidUpdateState() = 0;
    virtual void centralDidDiscover(std::shared_ptr<BlePeripheral> peripheral, int rssi) = 0;
    virtual void centralDidConnect(std::shared_ptr<BlePeripheral> peripheral) = 0;
    virtual void centralDidFailToConnect(std::shared_ptr<BlePeripheral> peripheral, std::optional<BleError> error) = 0;
    virtual void centralDidDisconnect(std::shared_ptr<BlePeripheral> peripheral, std::optional<BleError> error) = 0;
};

class BleCentral {
public:
    virtual ~BleCentral() = default;

    virtual void setDelegate(BleCentralDelegate* delegate) = 0;
    virtual BleManagerState state() const = 0;
    // The cause behind a state other than poweredOn; stacks that cannot tell more give the one the
    // state implies.
    virtual BleUnavailableReason unavailableReason() const
    {
        switch (state()) {
        case BleManagerState::unsupported:
            return BleUnavailableReason::noAdapter;
        case BleManagerState::unauthorized:
            return BleUnavailableReason::accessDenied;
        case BleManagerState::poweredOff:
            return BleUnavailableReason::adapterOff;
        default:
            return BleUnavailableReason::none;
        }
    }

    // Looks for devices advertising any of the services; each device is reported once per scan, and
    // only once it is heard during the scan (a device the stack merely remembers is not reported).
    virtual void scanForPeripherals(const std::vector<Uuid>& serviceUuids) = 0;
    virtual void stopScan() = 0;
    virtual bool isScanning() const = 0;

    // A connection that does not come up within the implementation's bound ends in
    // centralDidFailToConnect, never in silence.
    virtual void connect(const std::shared_ptr<BlePeripheral>& peripheral) = 0;
    // Ends a connection or a pending connect; a connected peripheral then reports centralDidDisconnect.
    virtual void cancelPeripheralConnection(const std::shared_ptr<BlePeripheral>& peripheral) = 0;
};

} // namespace tavrik
