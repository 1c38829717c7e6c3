#include "TavrikPlatform/Bluetooth/QtBlePeripheral.hpp"

#include "TavrikPlatform/Bluetooth/BluezObjects.hpp"
#include "TavrikPlatform/Bluetooth/QtBleUuid.hpp"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QLowEnergyDescriptor>

#include <algorithm>

namespace tavrik {

namespace {

std::string controllerErrorText(QLowEnergyController::Error error)
{
    switch (error) {
    case QLowEnergyController::UnknownRemoteDeviceError:
        return "The device is no longer known to Bluetooth";
    case QLowEnergyController::NetworkError:
        return "Bluetooth I/O error";
    case QLowEnergyController::InvalidBluetoothAdapterError:
        return "Bluetooth adapter not available";
    case QLowEnergyController::ConnectionError:
        return "Connection error";
    case QLowEnergyController::AdvertisingError:
        return "Advertising error";
    case QLowEnergyController::RemoteHostClosedError:
        return "The device closed the connection";
    case QLowEnergyController::AuthorizationError:
        return "Bluetooth authorization failed";
    case QLowEnergyController::MissingPermissionsError:
        return "Bluetooth permission missing";
    case QLowEnergyController::NoError:
    case QLowEnergyController::UnknownError:
        break;
    }
    return "Unknown Bluetooth error";
}

} // namespace

BleError QtBlePeripheral::failure(const std::string& description)
{
    return BleError { description, 0 };
}

QtBlePeripheral::QtBlePeripheral(
    const QBluetoothDeviceInfo& info, Scheduler& scheduler, std::shared_ptr<BleEventQueue> events, Logger logger)
    : info(info)
    , scheduler(scheduler)
    , events(std::move(events))
    , logger(std::move(logger))
{
}

QtBlePeripheral::~QtBlePeripheral()
{
    scheduler.cancel(connectTimer);
    releaseController();
}

std::string QtBlePeripheral::identifier() const
{
    return info.address().toString().toStdString();
}

std::optional<std::string> QtBlePeripheral::name() const
{
    if (info.name().isEmpty()) {
        return std::nullopt;
    }
    return info.name().toStdString();
}

void QtBlePeripheral::setDelegate(BlePeripheralDelegate* newDelegate)
{
    delegate = newDelegate;
}

void QtBlePeripheral::updateInfo(const QBluetoothDeviceInfo& newInfo)
{
    if (link == Link::idle) {
        info = newInfo;
    }
}

void QtBlePeripheral::setLinkEvents(LinkEvents newEvents)
{
    linkEvents = std::move(newEvents);
}

void QtBlePeripheral::post(std::function<void(BlePeripheralDelegate&)> call)
{
    events->post(lifetime, [this, call = std::move(call)] {
        if (delegate) {
            call(*delegate);
        }
    });
}

// Link

void QtBlePeripheral::callBluez(const QString& path, const QString& interface, const QString& method,
    const QVariantList& arguments, std::function<void(const QDBusMessage&)> handle, bool untilLinkChanges)
{
    auto call = QDBusMessage::createMethodCall(bluezService, path, interface, method);
    call.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(call), this);
    const int link = linkGeneration;
    const int gatt = gattGeneration;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
        [this, watcher, link, gatt, untilLinkChanges, handle = std::move(handle)] {
            watcher->deleteLater();
            if (link == linkGeneration && (untilLinkChanges || gatt == gattGeneration)) {
                handle(watcher->reply());
            }
        });
}

void QtBlePeripheral::connectLink(std::chrono::milliseconds timeout)
{
    if (link != Link::idle) {
        return;
    }
    link = Link::connecting;
    linkError.reset();
    ++linkGeneration;
    // BlueZ may never resolve a connection and Qt has no bound of its own.
    connectTimer = scheduler.schedule(timeout, [this] {
        connectTimer = Scheduler::invalidHandle;
        connectTimedOut();
    });
    // BlueZ is asked first, so that a refusal keeps its name (a lost pairing must be told apart).
    callBluez(
        QStringLiteral("/"), QStringLiteral("org.freedesktop.DBus.ObjectManager"), QStringLiteral("GetManagedObjects"),
        {},
        [this](const QDBusMessage& reply) {
            bluezDevice = bluezDevicePath(readManagedObjectsReply(reply), info.address().toString());
            if (bluezDevice.isEmpty()) {
                failConnect(failure("The device is no longer known to Bluetooth"));
                return;
            }
            bluezConnectPending = true;
            callBluez(
                bluezDevice, bluezDeviceInterface, QStringLiteral("Connect"), {},
                [this](const QDBusMessage& connected) { connectionRequested(connected); }, true);
        },
        true);
}

void QtBlePeripheral::connectionRequested(const QDBusMessage& reply)
{
    bluezConnectPending = false;
    if (link != Link::connecting) {
        return;
    }
    if (reply.type() == QDBusMessage::ErrorMessage) {
        failConnect(bleErrorFromBluez(reply.errorName(), reply.errorMessage()));
        return;
    }
    startQtConnection();
}

// BlueZ holds the link (or will once services resolve): Qt takes it over from here.
void QtBlePeripheral::startQtConnection()
{
    controller = QLowEnergyController::createCentral(info, this);
    connect(controller, &QLowEnergyController::connected, this, &QtBlePeripheral::controllerConnected);
    connect(controller, &QLowEnergyController::disconnected, this, &QtBlePeripheral::controllerDisconnected);
    connect(controller, &QLowEnergyController::errorOccurred, this, &QtBlePeripheral::controllerError);
    connect(controller, &QLowEnergyController::discoveryFinished, this, &QtBlePeripheral::servicesDiscovered);
    controller->connectToDevice();
}

void QtBlePeripheral::failConnect(const BleError& error)
{
    closeLink();
    if (linkEvents.failedToConnect) {
        linkEvents.failedToConnect(error);
    }
}

void QtBlePeripheral::closeLink()
{
    scheduler.cancel(connectTimer);
    connectTimer = Scheduler::invalidHandle;
    if (bluezConnectPending && !bluezDevice.isEmpty()) {
        // Qt never saw this connect: BlueZ is told to give it up.
        auto call = QDBusMessage::createMethodCall(
            bluezService, bluezDevice, bluezDeviceInterface, QStringLiteral("Disconnect"));
        QDBusConnection::systemBus().asyncCall(call);
    }
    bluezConnectPending = false;
    bluezDevice.clear();
    ++linkGeneration;
    releaseController();
    resetGatt();
    link = Link::idle;
}

void QtBlePeripheral::connectTimedOut()
{
    if (link != Link::connecting) {
        return;
    }
    logger("Bluetooth connection to " + identifier() + " timed out");
    failConnect(failure("Connection timed out"));
}

void QtBlePeripheral::controllerConnected()
{
    if (link != Link::connecting) {
        return;
    }
    scheduler.cancel(connectTimer);
    connectTimer = Scheduler::invalidHandle;
    link = Link::connected;
    resetGatt();
    QDBusConnection::systemBus().connect(bluezService, QString(), QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("PropertiesChanged"), this, SLOT(bluezPropertiesChanged(QDBusMessage)));
    readMtu();
    if (linkEvents.connected) {
        linkEvents.connected();
    }
}

void QtBlePeripheral::controllerError(QLowEnergyController::Error controllerError)
{
    const auto text = controllerErrorText(controllerError);
    logger("Bluetooth error from " + identifier() + ": " + text);
    if (link == Link::connecting) {
        failConnect(failure(text));
    } else if (link == Link::connected) {
        // The disconnect that follows carries it.
        linkError = failure(text);
        if (controller && controller->state() == QLowEnergyController::UnconnectedState) {
            controllerDisconnected();
        }
    }
}

void QtBlePeripheral::controllerDisconnected()
{
    if (link == Link::connecting) {
        failConnect(failure("The device closed the connection"));
        return;
    }
    if (link != Link::connected) {
        return;
    }
    const auto reason = linkError;
    closeLink();
    if (linkEvents.disconnected) {
        linkEvents.disconnected(reason);
    }
}

void QtBlePeripheral::releaseController()
{
    QDBusConnection::systemBus().disconnect(bluezService, QString(), QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("PropertiesChanged"), this, SLOT(bluezPropertiesChanged(QDBusMessage)));
    for (auto& [uuid, state] : serviceStates) {
        if (state.object) {
            state.object->disconnect(this);
            state.object->deleteLater();
        }
    }
    serviceStates.clear();
    if (!controller) {
        return;
    }
    controller->disconnect(this);
    if (controller->state() != QLowEnergyController::UnconnectedState) {
        // Also tells BlueZ to give up a connect still in progress.
        controller->disconnectFromDevice();
    }
    controller->deleteLater();
    controller = nullptr;
}

void QtBlePeripheral::resetGatt()
{
    ++gattGeneration;
    wantedServices.clear();
    discoveringServices = false;
    discoveredServices.reset();
    notifying.clear();
    characteristicPaths.clear();
    mtu = 0;
}

// Services and characteristics

void QtBlePeripheral::discoverServices(const std::vector<Uuid>& serviceUuids)
{
    wantedServices = serviceUuids;
    if (link != Link::connected || !controller) {
        post([this](BlePeripheralDelegate& d) { d.peripheralDidDiscoverServices(*this, failure("Not connected")); });
        return;
    }
    if (controller->state() == QLowEnergyController::DiscoveredState) {
        servicesDiscovered();
        return;
    }
    if (!discoveringServices) {
        discoveringServices = true;
        controller->discoverServices();
    }
}

void QtBlePeripheral::servicesDiscovered()
{
    if (link != Link::connected || !controller) {
        return;
    }
    discoveringServices = false;
    std::vector<Uuid> found;
    for (const auto& service : controller->services()) {
        const auto uuid = fromQtUuid(service);
        if (uuid && (wantedServices.empty() || std::ranges::find(wantedServices, *uuid) != wantedServices.end())
            && std::ranges::find(found, *uuid) == found.end()) {
            found.push_back(*uuid);
        }
    }
    discoveredServices = found;
    post([this](BlePeripheralDelegate& d) { d.peripheralDidDiscoverServices(*this, std::nullopt); });
}

std::optional<std::vector<Uuid>> QtBlePeripheral::services() const
{
    return discoveredServices;
}

void QtBlePeripheral::discoverCharacteristics(const std::vector<Uuid>& characteristicUuids, const Uuid& serviceUuid)
{
    if (link != Link::connected || !controller || !discoveredServices
        || std::ranges::find(*discoveredServices, serviceUuid) == discoveredServices->end()) {
        post([this, serviceUuid](BlePeripheralDelegate& d) {
            d.peripheralDidDiscoverCharacteristics(*this, serviceUuid, failure("Unknown service"));
        });
        return;
    }
    auto& state = serviceStates[serviceUuid];
    state.wanted = characteristicUuids;
    if (state.object) {
        if (state.object->state() == QLowEnergyService::RemoteServiceDiscovered) {
            reportCharacteristics(serviceUuid, std::nullopt);
        }
        return;
    }
    state.object = controller->createServiceObject(toQtUuid(serviceUuid), this);
    if (!state.object) {
        serviceStates.erase(serviceUuid);
        post([this, serviceUuid](BlePeripheralDelegate& d) {
            d.peripheralDidDiscoverCharacteristics(*this, serviceUuid, failure("Unknown service"));
        });
        return;
    }
    auto* service = state.object;
    connect(service, &QLowEnergyService::stateChanged, this,
        [this, serviceUuid](QLowEnergyService::ServiceState newState) { serviceStateChanged(serviceUuid, newState); });
    connect(service, &QLowEnergyService::characteristicChanged, this,
        [this, serviceUuid](const QLowEnergyCharacteristic& characteristic, const QByteArray& value) {
            characteristicChanged(serviceUuid, characteristic, value);
        });
    connect(service, &QLowEnergyService::errorOccurred, this, &QtBlePeripheral::serviceError);
    // Qt 6.4 stalls a full discovery whose last value read fails, and the values are not needed.
    service->discoverDetails(QLowEnergyService::SkipValueDiscovery);
}

void QtBlePeripheral::serviceStateChanged(const Uuid& serviceUuid, QLowEnergyService::ServiceState newState)
{
    const auto found = serviceStates.find(serviceUuid);
    if (found == serviceStates.end() || !found->second.object) {
        return;
    }
    if (newState == QLowEnergyService::RemoteServiceDiscovered && !found->second.characteristics) {
        std::vector<BleCharacteristic> list;
        for (const auto& characteristic : found->second.object->characteristics()) {
            const auto uuid = fromQtUuid(characteristic.uuid());
            if (!uuid || std::ranges::any_of(list, [&](const auto& known) { return known.uuid == *uuid; })) {
                continue;
            }
            const auto& wanted = found->second.wanted;
            if (wanted.empty() || std::ranges::find(wanted, *uuid) != wanted.end()) {
                list.push_back(
                    { serviceUuid, *uuid, static_cast<std::uint32_t>(characteristic.properties().toInt()), false });
            }
        }
        found->second.characteristics = std::move(list);
        // Their BlueZ objects, for the calls made directly; the list is reported once they are known.
        callBluez(QStringLiteral("/"), QStringLiteral("org.freedesktop.DBus.ObjectManager"),
            QStringLiteral("GetManagedObjects"), {}, [this, serviceUuid](const QDBusMessage& reply) {
                const auto state = serviceStates.find(serviceUuid);
                if (state == serviceStates.end() || !state->second.characteristics) {
                    return;
                }
                const auto objects = readManagedObjectsReply(reply);
                for (const BleCharacteristic& characteristic : *state->second.characteristics) {
                    characteristicPaths[{ serviceUuid, characteristic.uuid }]
                        = bluezCharacteristicPath(objects, bluezDevice, serviceUuid, characteristic.uuid);
                }
                reportCharacteristics(serviceUuid, std::nullopt);
            });
    } else if (newState == QLowEnergyService::InvalidService && !found->second.characteristics) {
        found->second.object->disconnect(this);
        found->second.object->deleteLater();
        serviceStates.erase(found);
        reportCharacteristics(serviceUuid, failure("Service no longer available"));
    }
}

void QtBlePeripheral::reportCharacteristics(const Uuid& serviceUuid, const std::optional<BleError>& failure)
{
    post([this, serviceUuid, failure](
             BlePeripheralDelegate& d) { d.peripheralDidDiscoverCharacteristics(*this, serviceUuid, failure); });
}

std::optional<std::vector<BleCharacteristic>> QtBlePeripheral::characteristics(const Uuid& serviceUuid) const
{
    const auto found = serviceStates.find(serviceUuid);
    if (found == serviceStates.end() || !found->second.characteristics) {
        return std::nullopt;
    }
    auto list = *found->second.characteristics;
    for (auto& characteristic : list) {
        characteristic = withNotifyState(characteristic);
    }
    return list;
}

BleCharacteristic QtBlePeripheral::withNotifyState(BleCharacteristic characteristic) const
{
    characteristic.isNotifying = notifying.contains({ characteristic.serviceUuid, characteristic.uuid });
    return characteristic;
}

std::optional<QLowEnergyCharacteristic> QtBlePeripheral::findCharacteristic(const BleCharacteristic& characteristic) const
{
    const auto found = serviceStates.find(characteristic.serviceUuid);
    if (link != Link::connected || found == serviceStates.end() || !found->second.object
        || !found->second.characteristics) {
        return std::nullopt;
    }
    auto qtCharacteristic = found->second.object->characteristic(toQtUuid(characteristic.uuid));
    if (!qtCharacteristic.isValid()) {
        return std::nullopt;
    }
    return qtCharacteristic;
}

} // namespace tavrik
