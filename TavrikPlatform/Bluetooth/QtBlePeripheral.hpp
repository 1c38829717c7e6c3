#pragma once

#include "TavrikPlatform/Bluetooth/BleCentral.hpp"
#include "TavrikPlatform/Bluetooth/BleEventQueue.hpp"

#include <QBluetoothDeviceInfo>
#include <QByteArray>
#include <QLowEnergyController>
#include <QLowEnergyService>
#include <QObject>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <set>

class QDBusMessage;

namespace tavrik {

// One remote device on Qt Bluetooth (BlueZ's D-Bus API underneath). QtBleCentral makes them and
// drives their link; the GATT side is driven by the controller through BlePeripheral.
//
// Qt reports every failed BlueZ call without its error name, so the calls whose failure the
// controller must tell apart (connect, notifications, writes with response) go to BlueZ directly;
// discovery, writes without response and notifications' values go through Qt.
class QtBlePeripheral final : public QObject, public BlePeripheral {
    Q_OBJECT
public:
    using Logger = std::function<void(const std::string&)>;

    // How the link's fate reaches the central; each runs from the event loop.
    struct LinkEvents {
        std::function<void()> connected;
        std::function<void(std::optional<BleError>)> failedToConnect;
        std::function<void(std::optional<BleError>)> disconnected;
    };

    QtBlePeripheral(
        const QBluetoothDeviceInfo& info, Scheduler& scheduler, std::shared_ptr<BleEventQueue> events, Logger logger);
    ~QtBlePeripheral() override;

    std::string identifier() const override;
    std::optional<std::string> name() const override;
    void setDelegate(BlePeripheralDelegate* delegate) override;
    void discoverServices(const std::vector<Uuid>& serviceUuids) override;
    std::optional<std::vector<Uuid>> services() const override;
    void discoverCharacteristics(const std::vector<Uuid>& characteristicUuids, const Uuid& serviceUuid) override;
    std::optional<std::vector<BleCharacteristic>> characteristics(const Uuid& serviceUuid) const override;
    void setNotifyValue(bool enabled, const BleCharacteristic& characteristic) override;
    void writeValue(const Data& value, const BleCharacteristic& characteristic, BleWriteType type) override;
    int maximumWriteValueLength(BleWriteType type) const override;
    bool canSendWriteWithoutResponse() const override;

    // For QtBleCentral.
    void updateInfo(const QBluetoothDeviceInfo& info);
    void setLinkEvents(LinkEvents events);
    bool isLinked() const { return link != Link::idle; }
    bool isConnected() const { return link == Link::connected; }
    // Starts a connection; one that is not up within `timeout` fails.
    void connectLink(std::chrono::milliseconds timeout);
    // Ends a connection or a pending connect without reporting it; the central reports what fits.
    void closeLink();

private Q_SLOTS:
    void bluezPropertiesChanged(const QDBusMessage& message);

private:
    enum class Link { idle, connecting, connected };
    static BleError failure(const std::string& description);
    struct ServiceState {
        QLowEnergyService* object = nullptr;
        std::vector<Uuid> wanted;
        std::optional<std::vector<BleCharacteristic>> characteristics;
    };

    // Runs `handle` with the reply of a BlueZ call, unless the link or GATT state it belongs to is gone.
    void callBluez(const QString& path, const QString& interface, const QString& method, const QVariantList& arguments,
        std::function<void(const QDBusMessage&)> handle, bool untilLinkChanges = false);
    void connectionRequested(const QDBusMessage& reply);
    void failConnect(const BleError& error);
    void startQtConnection();
    void controllerConnected();
    void controllerDisconnected();
    void controllerError(QLowEnergyController::Error error);
    void connectTimedOut();
    void servicesDiscovered();
    void serviceStateChanged(const Uuid& serviceUuid, QLowEnergyService::ServiceState state);
    void characteristicChanged(
        const Uuid& serviceUuid, const QLowEnergyCharacteristic& characteristic, const QByteArray& value);
    void serviceError(QLowEnergyService::ServiceError error);
    void reportCharacteristics(const Uuid& serviceUuid, const std::optional<BleError>& failure);
    QString characteristicPath(const BleCharacteristic& characteristic) const;

    void releaseController();
    void resetGatt();
    void readMtu();
    std::optional<QLowEnergyCharacteristic> findCharacteristic(const BleCharacteristic& characteristic) const;
    BleCharacteristic withNotifyState(BleCharacteristic characteristic) const;
    void post(std::function<void(BlePeripheralDelegate&)> call);

    QBluetoothDeviceInfo info;
    Scheduler& scheduler;
    std::shared_ptr<BleEventQueue> events;
    Logger logger;
    std::shared_ptr<const void> lifetime = std::make_shared<int>(0);
    BlePeripheralDelegate* delegate = nullptr;
    LinkEvents linkEvents;

    Link link = Link::idle;
    QLowEnergyController* controller = nullptr;
    Scheduler::Handle connectTimer = Scheduler::invalidHandle;
    std::optional<BleError> linkError;
    // Renewed by every new link and GATT state; late BlueZ replies of an older one are dropped.
    int linkGeneration = 0;
    int gattGeneration = 0;
    // The device's object, found when the link is asked for.
    QString bluezDevice;
    // BlueZ was asked to connect and Qt has not taken over yet: cancelling has to tell BlueZ itself.
    bool bluezConnectPending = false;

    std::vector<Uuid> wantedServices;
    bool discoveringServices = false;
    std::optional<std::vector<Uuid>> discoveredServices;
    std::map<Uuid, ServiceState> serviceStates;
    std::set<std::pair<Uuid, Uuid>> notifying;
    // Object paths of the discovered characteristics, by service and characteristic.
    std::map<std::pair<Uuid, Uuid>, QString> characteristicPaths;

    int mtu = 0;
};

} // namespace tavrik
