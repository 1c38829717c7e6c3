#pragma once

#include "TavrikPlatform/Bluetooth/BleCentral.hpp"
#include "TavrikPlatform/Bluetooth/BleEventQueue.hpp"

#include <QBluetoothDeviceDiscoveryAgent>
#include <QBluetoothDeviceInfo>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <set>

namespace tavrik {

class BluezAdapterWatcher;
class QtBlePeripheral;

// The Bluetooth LE central on Qt Bluetooth, BlueZ underneath. Time-outs and the hops back to the
// event loop go through the scheduler, which must outlive the central and every peripheral it hands
// out. The logger receives what the delegate calls do not carry (scan errors, an unreadable MTU).
//
// The adapter state is unknown until BlueZ first answers; no system bus, no bluetoothd or no adapter
// is unsupported, an adapter switched off is poweredOff, and each change is reported.
class QtBleCentral final : public QObject, public BleCentral {
    Q_OBJECT
public:
    using Logger = std::function<void(const std::string&)>;

    static constexpr std::chrono::milliseconds defaultConnectTimeout { 15000 };

    QtBleCentral(Scheduler& scheduler, Logger logger, std::chrono::milliseconds connectTimeout = defaultConnectTimeout,
        QObject* parent = nullptr);
    ~QtBleCentral() override;

    void setDelegate(BleCentralDelegate* delegate) override;
    BleManagerState state() const override;
    BleUnavailableReason unavailableReason() const override;
    void scanForPeripherals(const std::vector<Uuid>& serviceUuids) override;
    void stopScan() override;
    bool isScanning() const override;
    void connect(const std::shared_ptr<BlePeripheral>& peripheral) override;
    void cancelPeripheralConnection(const std::shared_ptr<BlePeripheral>& peripheral) override;

private:
    void adapterStateChanged();
    void startAgent();
    void stopAgent();
    void restartAgentLater();
    // `advertising`: heard during this scan, not merely known to BlueZ.
    void deviceSeen(const QBluetoothDeviceInfo& info, bool advertising);
    std::shared_ptr<QtBlePeripheral> known(const std::shared_ptr<BlePeripheral>& peripheral) const;
    void post(std::function<void(BleCentralDelegate&)> call);

    Scheduler& scheduler;
    Logger logger;
    std::chrono::milliseconds connectTimeout;
    std::shared_ptr<BleEventQueue> events;
    std::shared_ptr<const void> lifetime = std::make_shared<int>(0);
    BleCentralDelegate* delegate = nullptr;
    BluezAdapterWatcher* watcher = nullptr;

    bool scanning = false;
    std::vector<Uuid> scanUuids;
    std::set<QString> reportedThisScan;
    QBluetoothDeviceDiscoveryAgent* agent = nullptr;
    Scheduler::Handle restartTimer = Scheduler::invalidHandle;

    // Every device found, by address, so a device keeps one peripheral object across scans.
    std::map<QString, std::shared_ptr<QtBlePeripheral>> peripherals;
};

} // namespace tavrik
