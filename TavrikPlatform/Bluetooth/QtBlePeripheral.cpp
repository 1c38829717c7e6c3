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

// BlueZ gives no MTU before the exchange (and the mock's static one aside, Qt gives none at all);
// 23 is the protocol's minimum, so the writes fit in any link.
constexpr int fallbackWriteLength = 20;
constexpr int attributeHeaderLength = 3;

BleError error(const std::string& description) { return BleError { description, 0 }; }

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

QtBlePeripheral::QtBlePeripheral(const QBluetoothDeviceInfo& info, Scheduler& scheduler,
                                 std::shared_ptr<BleEventQueue> events, Logger logger)
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

void QtBlePeripheral::connectLink(std::chrono::milliseconds timeout)
{
    if (link != Link::idle) {
        return;
    }
    link = Link::connecting;
    linkError.reset();
    controller = QLowEnergyController::createCentral(info, this);
    connect(controller, &QLowEnergyController::connected, this, &QtBlePeripheral::controllerConnected);
    connect(controller, &QLowEnergyController::disconnected, this, &QtBlePeripheral::controllerDisconnected);
    connect(controller, &QLowEnergyController::errorOccurred, this, &QtBlePeripheral::controllerError);
    connect(controller, &QLowEnergyController::discoveryFinished, this, &QtBlePeripheral::servicesDiscovered);
    // BlueZ may never resolve a connection and Qt has no bound of its own.
    connectTimer = scheduler.schedule(timeout, [this] {
        connectTimer = Scheduler::invalidHandle;
        connectTimedOut();
    });
    controller->connectToDevice();
}

void QtBlePeripheral::closeLink()
{
    scheduler.cancel(connectTimer);
    connectTimer = Scheduler::invalidHandle;
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
    closeLink();
    if (linkEvents.failedToConnect) {
        linkEvents.failedToConnect(error("Connection timed out"));
    }
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
                                         QStringLiteral("PropertiesChanged"), this,
                                         SLOT(bluezPropertiesChanged(QDBusMessage)));
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
        closeLink();
        if (linkEvents.failedToConnect) {
            linkEvents.failedToConnect(error(text));
        }
    } else if (link == Link::connected) {
        // The disconnect that follows carries it.
        linkError = error(text);
        if (controller && controller->state() == QLowEnergyController::UnconnectedState) {
            controllerDisconnected();
        }
    }
}

void QtBlePeripheral::controllerDisconnected()
{
    if (link == Link::connecting) {
        closeLink();
        if (linkEvents.failedToConnect) {
            linkEvents.failedToConnect(error("The device closed the connection"));
        }
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
                                            QStringLiteral("PropertiesChanged"), this,
                                            SLOT(bluezPropertiesChanged(QDBusMessage)));
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
    wantedServices.clear();
    discoveringServices = false;
    discoveredServices.reset();
    notifying.clear();
    operations.clear();
    devicePath.clear();
    mtu = 0;
    ++mtuGeneration;
}

// Services and characteristics

void QtBlePeripheral::discoverServices(const std::vector<Uuid>& serviceUuids)
{
    wantedServices = serviceUuids;
    if (link != Link::connected || !controller) {
        post([this](BlePeripheralDelegate& d) { d.peripheralDidDiscoverServices(*this, error("Not connected")); });
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
            d.peripheralDidDiscoverCharacteristics(*this, serviceUuid, error("Unknown service"));
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
            d.peripheralDidDiscoverCharacteristics(*this, serviceUuid, error("Unknown service"));
        });
        return;
    }
    auto* service = state.object;
    connect(service, &QLowEnergyService::stateChanged, this,
            [this, serviceUuid](QLowEnergyService::ServiceState newState) { serviceStateChanged(serviceUuid, newState); });
    connect(service, &QLowEnergyService::characteristicWritten, this,
            [this, serviceUuid](const QLowEnergyCharacteristic& characteristic, const QByteArray& value) {
                characteristicWritten(serviceUuid, characteristic, value);
            });
    connect(service, &QLowEnergyService::descriptorWritten, this,
            [this](const QLowEnergyDescriptor& descriptor, const QByteArray&) { descriptorWritten(descriptor); });
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
                list.push_back({ serviceUuid, *uuid, static_cast<std::uint32_t>(characteristic.properties().toInt()), false });
            }
        }
        found->second.characteristics = std::move(list);
        reportCharacteristics(serviceUuid, std::nullopt);
    } else if (newState == QLowEnergyService::InvalidService && !found->second.characteristics) {
        found->second.object->disconnect(this);
        found->second.object->deleteLater();
        serviceStates.erase(found);
        reportCharacteristics(serviceUuid, error("Service no longer available"));
    }
}

void QtBlePeripheral::reportCharacteristics(const Uuid& serviceUuid, std::optional<BleError> failure)
{
    post([this, serviceUuid, failure](BlePeripheralDelegate& d) {
        d.peripheralDidDiscoverCharacteristics(*this, serviceUuid, failure);
    });
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

// Notifications and writes

void QtBlePeripheral::setNotifyValue(bool enabled, const BleCharacteristic& characteristic)
{
    const auto qtCharacteristic = findCharacteristic(characteristic);
    const auto descriptor = qtCharacteristic ? qtCharacteristic->clientCharacteristicConfiguration() : QLowEnergyDescriptor();
    if (!descriptor.isValid()) {
        post([this, characteristic = withNotifyState(characteristic)](BlePeripheralDelegate& d) {
            d.peripheralDidUpdateNotificationState(*this, characteristic, error("Notifications not available"));
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
                d.peripheralDidWriteValue(*this, characteristic, error("Not connected"));
            });
        }
        return;
    }
    const QByteArray bytes(reinterpret_cast<const char*>(value.data()), static_cast<qsizetype>(value.size()));
    const bool withResponse = type == BleWriteType::withResponse;
    operations.push_back({ withResponse ? Operation::Kind::writeWithResponse : Operation::Kind::writeWithoutResponse,
                           characteristic, bytes, false });
    serviceStates[characteristic.serviceUuid].object->writeCharacteristic(
        *qtCharacteristic, bytes,
        withResponse ? QLowEnergyService::WriteWithResponse : QLowEnergyService::WriteWithoutResponse);
}

// Qt runs one attribute operation at a time, in order, and confirms nothing for a write without
// response. So a confirmation also settles every write without response queued before it.
void QtBlePeripheral::characteristicWritten(const Uuid& serviceUuid, const QLowEnergyCharacteristic& characteristic,
                                            const QByteArray& value)
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
    post([this, written = withNotifyState(written)](BlePeripheralDelegate& d) {
        d.peripheralDidWriteValue(*this, written, std::nullopt);
    });
}

void QtBlePeripheral::descriptorWritten(const QLowEnergyDescriptor& descriptor)
{
    if (descriptor.type() != QBluetoothUuid::DescriptorType::ClientCharacteristicConfiguration) {
        return;
    }
    const auto found = std::ranges::find_if(operations, [](const Operation& operation) {
        return operation.kind == Operation::Kind::notify;
    });
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
            d.peripheralDidWriteValue(*this, characteristic, error("The write failed"));
        });
    } else {
        post([this, characteristic = withNotifyState(operation.characteristic)](BlePeripheralDelegate& d) {
            d.peripheralDidUpdateNotificationState(*this, characteristic, error("The notification setting failed"));
        });
    }
}

// Qt reports every value change of a characteristic with a configuration descriptor, reads
// included; only those after a subscription are notifications.
void QtBlePeripheral::characteristicChanged(const Uuid& serviceUuid, const QLowEnergyCharacteristic& characteristic,
                                            const QByteArray& value)
{
    const auto uuid = fromQtUuid(characteristic.uuid());
    if (!uuid || !notifying.contains({ serviceUuid, *uuid })) {
        return;
    }
    const auto found = serviceStates.find(serviceUuid);
    if (found == serviceStates.end() || !found->second.characteristics) {
        return;
    }
    const auto known = std::ranges::find_if(*found->second.characteristics,
                                            [&](const BleCharacteristic& candidate) { return candidate.uuid == *uuid; });
    if (known == found->second.characteristics->end()) {
        return;
    }
    Data bytes(value.begin(), value.end());
    post([this, characteristic = withNotifyState(*known), bytes = std::move(bytes)](BlePeripheralDelegate& d) {
        d.peripheralDidUpdateValue(*this, characteristic, bytes, std::nullopt);
    });
}

// Write lengths

int QtBlePeripheral::maximumWriteValueLength(BleWriteType) const
{
    return mtu > attributeHeaderLength + fallbackWriteLength ? mtu - attributeHeaderLength : fallbackWriteLength;
}

bool QtBlePeripheral::canSendWriteWithoutResponse() const
{
    // Qt has no flow control for writes without response; the protocol's acknowledgements pace them.
    return true;
}

// Qt's controller has no MTU on BlueZ; BlueZ shows the link's MTU on each characteristic.
void QtBlePeripheral::readMtu()
{
    const int generation = mtuGeneration;
    auto call = QDBusMessage::createMethodCall(bluezService, QStringLiteral("/"),
                                               QStringLiteral("org.freedesktop.DBus.ObjectManager"),
                                               QStringLiteral("GetManagedObjects"));
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, generation] {
        watcher->deleteLater();
        if (generation != mtuGeneration || link != Link::connected) {
            return;
        }
        const QDBusMessage reply = watcher->reply();
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
            && reply.arguments().constFirst().metaType() == QMetaType::fromType<QDBusArgument>()) {
            const auto objects = readBluezObjects(reply.arguments().constFirst().value<QDBusArgument>());
            const auto address = info.address().toString();
            for (auto object = objects.begin(); object != objects.end() && devicePath.isEmpty(); ++object) {
                const auto device = object->find(bluezDeviceInterface);
                if (device != object->end()
                    && device->value(QStringLiteral("Address")).toString().compare(address, Qt::CaseInsensitive) == 0) {
                    devicePath = object.key();
                }
            }
            for (auto object = objects.begin(); object != objects.end() && !devicePath.isEmpty(); ++object) {
                const auto characteristic = object->find(bluezGattCharacteristicInterface);
                if (object.key().startsWith(devicePath + QLatin1Char('/')) && characteristic != object->end()
                    && characteristic->contains(QStringLiteral("MTU"))) {
                    mtu = characteristic->value(QStringLiteral("MTU")).toInt();
                    return;
                }
            }
        }
        logger("Bluetooth MTU unavailable; writes limited to " + std::to_string(fallbackWriteLength) + " bytes");
    });
}

void QtBlePeripheral::bluezPropertiesChanged(const QDBusMessage& message)
{
    const auto arguments = message.arguments();
    if (link != Link::connected || devicePath.isEmpty() || arguments.size() < 2
        || arguments.at(0).toString() != bluezGattCharacteristicInterface
        || !message.path().startsWith(devicePath + QLatin1Char('/'))) {
        return;
    }
    const auto changed = readPropertyMap(arguments.at(1));
    if (changed.contains(QStringLiteral("MTU"))) {
        mtu = changed.value(QStringLiteral("MTU")).toInt();
    }
}

} // namespace tavrik
