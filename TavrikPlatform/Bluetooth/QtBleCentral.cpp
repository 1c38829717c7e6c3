#include "TavrikPlatform/Bluetooth/QtBleCentral.hpp"

#include "TavrikPlatform/Bluetooth/BluezAdapterWatcher.hpp"
#include "TavrikPlatform/Bluetooth/QtBlePeripheral.hpp"
#include "TavrikPlatform/Bluetooth/QtBleUuid.hpp"

#include <algorithm>

namespace tavrik {

namespace {
// A scan that ended on its own or failed is started again after this pause, never in a tight loop.
constexpr std::chrono::milliseconds scanRestartDelay { 2000 };
} // namespace

QtBleCentral::QtBleCentral(Scheduler& scheduler, Logger logger, std::chrono::milliseconds connectTimeout, QObject* parent)
    : QObject(parent)
    , scheduler(scheduler)
    , logger(std::move(logger))
    , connectTimeout(connectTimeout)
    , events(std::make_shared<BleEventQueue>(scheduler))
{
    watcher = new BluezAdapterWatcher([this] { adapterStateChanged(); }, this);
}

QtBleCentral::~QtBleCentral()
{
    scheduler.cancel(restartTimer);
    stopAgent();
    for (auto& [address, peripheral] : peripherals) {
        peripheral->setLinkEvents({});
        peripheral->closeLink();
    }
}

void QtBleCentral::setDelegate(BleCentralDelegate* newDelegate)
{
    delegate = newDelegate;
}

BleManagerState QtBleCentral::state() const
{
    return watcher->state();
}

BleUnavailableReason QtBleCentral::unavailableReason() const
{
    return watcher->unavailableReason();
}

void QtBleCentral::post(std::function<void(BleCentralDelegate&)> call)
{
    events->post(lifetime, [this, call = std::move(call)] {
        if (delegate) {
            call(*delegate);
        }
    });
}

void QtBleCentral::adapterStateChanged()
{
    const auto current = state();
    if (current != BleManagerState::poweredOn) {
        // Like a radio switched off: the scan ends and every link is gone.
        scanning = false;
        scheduler.cancel(restartTimer);
        restartTimer = Scheduler::invalidHandle;
        stopAgent();
        for (auto& [address, peripheral] : peripherals) {
            if (!peripheral->isLinked()) {
                continue;
            }
            peripheral->closeLink();
            const std::shared_ptr<BlePeripheral> lost = peripheral;
            post([lost](BleCentralDelegate& d) {
                d.centralDidDisconnect(lost, BleError { "Bluetooth not available", 0 });
            });
        }
    }
    post([](BleCentralDelegate& d) { d.centralDidUpdateState(); });
}

// Scanning

void QtBleCentral::scanForPeripherals(const std::vector<Uuid>& serviceUuids)
{
    if (state() != BleManagerState::poweredOn) {
        logger("Bluetooth scan not started: Bluetooth not available");
        return;
    }
    scanUuids = serviceUuids;
    reportedThisScan.clear();
    scanning = true;
    scheduler.cancel(restartTimer);
    restartTimer = Scheduler::invalidHandle;
    // A running agent reports each device once per run: start over so the new scan sees them all.
    startAgent();
}

void QtBleCentral::stopScan()
{
    scanning = false;
    scheduler.cancel(restartTimer);
    restartTimer = Scheduler::invalidHandle;
    stopAgent();
}

bool QtBleCentral::isScanning() const
{
    return scanning;
}

void QtBleCentral::startAgent()
{
    stopAgent();
    // A fresh agent each time: an agent binds to the adapter it found when it was made.
    agent = new QBluetoothDeviceDiscoveryAgent(this);
    // Runs until stopped, like a scan that waits for its device.
    agent->setLowEnergyDiscoveryTimeout(0);
    // BlueZ lists every device it knows, a paired one always, as soon as a scan starts: only one with
    // an RSSI was heard. A device that advertises later shows up as an update of its RSSI or data.
    QObject::connect(agent, &QBluetoothDeviceDiscoveryAgent::deviceDiscovered, this,
        [this](const QBluetoothDeviceInfo& info) { deviceSeen(info, info.rssi() != 0); });
    QObject::connect(agent, &QBluetoothDeviceDiscoveryAgent::deviceUpdated, this,
        [this](const QBluetoothDeviceInfo& info, QBluetoothDeviceInfo::Fields fields) {
            using Field = QBluetoothDeviceInfo::Field;
            deviceSeen(info,
                fields.testFlag(Field::RSSI) || fields.testFlag(Field::ManufacturerData)
                    || fields.testFlag(Field::ServiceData));
        });
    QObject::connect(agent, &QBluetoothDeviceDiscoveryAgent::finished, this, [this] { restartAgentLater(); });
    QObject::connect(
        agent, &QBluetoothDeviceDiscoveryAgent::errorOccurred, this, [this](QBluetoothDeviceDiscoveryAgent::Error) {
            logger("Bluetooth scan error: " + (agent ? agent->errorString().toStdString() : std::string()));
            restartAgentLater();
        });
    agent->start(QBluetoothDeviceDiscoveryAgent::LowEnergyMethod);
}

void QtBleCentral::stopAgent()
{
    if (!agent) {
        return;
    }
    agent->disconnect(this);
    if (agent->isActive()) {
        agent->stop();
    }
    agent->deleteLater();
    agent = nullptr;
}

void QtBleCentral::restartAgentLater()
{
    stopAgent();
    if (!scanning || restartTimer != Scheduler::invalidHandle) {
        return;
    }
    restartTimer = scheduler.schedule(scanRestartDelay, [this] {
        restartTimer = Scheduler::invalidHandle;
        if (scanning && state() == BleManagerState::poweredOn) {
            startAgent();
        }
    });
}

void QtBleCentral::deviceSeen(const QBluetoothDeviceInfo& info, bool advertising)
{
    if (!scanning || !advertising || !(info.coreConfigurations() & QBluetoothDeviceInfo::LowEnergyCoreConfiguration)) {
        return;
    }
    const auto address = info.address().toString();
    if (reportedThisScan.contains(address)) {
        return;
    }
    const auto offered = info.serviceUuids();
    const bool wanted = scanUuids.empty()
        || std::ranges::any_of(scanUuids, [&](const Uuid& uuid) { return offered.contains(toQtUuid(uuid)); });
    if (!wanted) {
        return;
    }
    reportedThisScan.insert(address);
    auto& peripheral = peripherals[address];
    if (!peripheral) {
        peripheral = std::make_shared<QtBlePeripheral>(info, scheduler, events, logger);
        const std::weak_ptr<QtBlePeripheral> weak = peripheral;
        peripheral->setLinkEvents({
            [this, weak] {
                if (auto p = weak.lock()) {
                    post([p](BleCentralDelegate& d) { d.centralDidConnect(p); });
                }
            },
            [this, weak](const std::optional<BleError>& error) {
                if (auto p = weak.lock()) {
                    post([p, error](BleCentralDelegate& d) { d.centralDidFailToConnect(p, error); });
                }
            },
            [this, weak](const std::optional<BleError>& error) {
                if (auto p = weak.lock()) {
                    post([p, error](BleCentralDelegate& d) { d.centralDidDisconnect(p, error); });
                }
            },
        });
    } else {
        peripheral->updateInfo(info);
    }
    const std::shared_ptr<BlePeripheral> found = peripheral;
    const int rssi = info.rssi();
    post([found, rssi](BleCentralDelegate& d) { d.centralDidDiscover(found, rssi); });
}

// Connections

std::shared_ptr<QtBlePeripheral> QtBleCentral::known(const std::shared_ptr<BlePeripheral>& peripheral) const
{
    for (const auto& [address, candidate] : peripherals) {
        if (candidate.get() == peripheral.get()) {
            return candidate;
        }
    }
    return nullptr;
}

void QtBleCentral::connect(const std::shared_ptr<BlePeripheral>& peripheral)
{
    const auto ours = known(peripheral);
    if (!ours || state() != BleManagerState::poweredOn) {
        // BlueZ connects only to devices a scan has found.
        const std::string reason = ours ? "Bluetooth not available" : "The device has not been discovered";
        logger("Bluetooth connect refused: " + reason);
        post([peripheral, reason](BleCentralDelegate& d) {
            d.centralDidFailToConnect(peripheral, BleError { reason, 0 });
        });
        return;
    }
    ours->connectLink(connectTimeout);
}

void QtBleCentral::cancelPeripheralConnection(const std::shared_ptr<BlePeripheral>& peripheral)
{
    const auto ours = known(peripheral);
    if (!ours || !ours->isLinked()) {
        return;
    }
    // A pending connect ends quietly; a connection reports its end.
    const bool wasConnected = ours->isConnected();
    ours->closeLink();
    if (wasConnected) {
        post([peripheral](BleCentralDelegate& d) { d.centralDidDisconnect(peripheral, std::nullopt); });
    }
}

} // namespace tavrik
