#include "TavrikPlatform/Bluetooth/BluezAdapterWatcher.hpp"

#include "TavrikPlatform/Bluetooth/BluezObjects.hpp"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QTimer>

namespace tavrik {

namespace {
const QString objectManagerInterface = QStringLiteral("org.freedesktop.DBus.ObjectManager");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
} // namespace

BluezAdapterWatcher::BluezAdapterWatcher(std::function<void()> onChange, QObject* parent)
    : QObject(parent)
    , onChange(std::move(onChange))
{
    // The system bus is reached from the loop, not here: connecting to it loads and talks D-Bus,
    // which would hold up the program's first window. Until then the state is unknown, as it is
    // while BlueZ's first answer is awaited.
    QTimer::singleShot(0, this, [this] { watchBus(); });
}

void BluezAdapterWatcher::watchBus()
{
    bus = QDBusConnection::systemBus();
    if (!bus->isConnected()) {
        // No system bus: nothing to watch.
        answered = true;
        unreachable = BleUnavailableReason::noSystemBus;
        update();
        return;
    }
    serviceWatcher = new QDBusServiceWatcher(bluezService, *bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(serviceWatcher, &QDBusServiceWatcher::serviceRegistered, this, [this] { refresh(); });
    connect(serviceWatcher, &QDBusServiceWatcher::serviceUnregistered, this, [this] {
        forgetAll();
        unreachable = BleUnavailableReason::bluezNotRunning;
        update();
    });
    bus->connect(bluezService, QStringLiteral("/"), objectManagerInterface, QStringLiteral("InterfacesAdded"), this,
        SLOT(interfacesAdded(QDBusMessage)));
    bus->connect(bluezService, QStringLiteral("/"), objectManagerInterface, QStringLiteral("InterfacesRemoved"), this,
        SLOT(interfacesRemoved(QDBusMessage)));
    bus->connect(bluezService, QString(), propertiesInterface, QStringLiteral("PropertiesChanged"), this,
        SLOT(propertiesChanged(QDBusMessage)));
    refresh();
}

void BluezAdapterWatcher::refresh()
{
    const int generation = ++refreshGeneration;
    auto call = QDBusMessage::createMethodCall(
        bluezService, QStringLiteral("/"), objectManagerInterface, QStringLiteral("GetManagedObjects"));
    auto* watcher = new QDBusPendingCallWatcher(bus->asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, generation] {
        watcher->deleteLater();
        if (generation != refreshGeneration) {
            return;
        }
        answered = true;
        const QDBusMessage reply = watcher->reply();
        forgetAll();
        unreachable = BleUnavailableReason::none;
        if (reply.type() == QDBusMessage::ErrorMessage) {
            unreachable = reply.errorName() == QStringLiteral("org.freedesktop.DBus.Error.AccessDenied")
                ? BleUnavailableReason::accessDenied
                : BleUnavailableReason::bluezNotRunning;
        }
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
            && reply.arguments().constFirst().metaType() == QMetaType::fromType<QDBusArgument>()) {
            const auto objects = readBluezObjects(reply.arguments().constFirst().value<QDBusArgument>());
            for (auto object = objects.begin(); object != objects.end(); ++object) {
                const auto adapter = object->find(bluezAdapterInterface);
                if (adapter != object->end()) {
                    adapters.insert(object.key(), adapter->value(QStringLiteral("Powered")).toBool());
                }
            }
        }
        update();
    });
}

void BluezAdapterWatcher::forgetAll()
{
    adapters.clear();
}

void BluezAdapterWatcher::interfacesAdded(const QDBusMessage& message)
{
    const auto arguments = message.arguments();
    if (arguments.size() < 2 || arguments.at(1).metaType() != QMetaType::fromType<QDBusArgument>()) {
        return;
    }
    const auto path = arguments.at(0).value<QDBusObjectPath>().path();
    const auto interfaces = readBluezInterfaces(arguments.at(1).value<QDBusArgument>());
    const auto adapter = interfaces.find(bluezAdapterInterface);
    if (adapter == interfaces.end()) {
        return;
    }
    adapters.insert(path, adapter->value(QStringLiteral("Powered")).toBool());
    unreachable = BleUnavailableReason::none;
    update();
}

void BluezAdapterWatcher::interfacesRemoved(const QDBusMessage& message)
{
    const auto arguments = message.arguments();
    if (arguments.size() < 2) {
        return;
    }
    const auto path = arguments.at(0).value<QDBusObjectPath>().path();
    if (arguments.at(1).toStringList().contains(bluezAdapterInterface) && adapters.remove(path) > 0) {
        update();
    }
}

void BluezAdapterWatcher::propertiesChanged(const QDBusMessage& message)
{
    const auto arguments = message.arguments();
    if (arguments.size() < 2 || arguments.at(0).toString() != bluezAdapterInterface) {
        return;
    }
    const auto adapter = adapters.find(message.path());
    const auto changed = readPropertyMap(arguments.at(1));
    if (adapter == adapters.end() || !changed.contains(QStringLiteral("Powered"))) {
        return;
    }
    *adapter = changed.value(QStringLiteral("Powered")).toBool();
    update();
}

void BluezAdapterWatcher::update()
{
    BleManagerState state = BleManagerState::unknown;
    BleUnavailableReason why = BleUnavailableReason::none;
    if (answered && unreachable != BleUnavailableReason::none) {
        why = unreachable;
        state = why == BleUnavailableReason::accessDenied ? BleManagerState::unauthorized : BleManagerState::unsupported;
    } else if (answered) {
        state = BleManagerState::unsupported;
        why = BleUnavailableReason::noAdapter;
        if (!adapters.isEmpty()) {
            state = BleManagerState::poweredOff;
            why = BleUnavailableReason::adapterOff;
            for (const bool powered : adapters) {
                if (powered) {
                    state = BleManagerState::poweredOn;
                    why = BleUnavailableReason::none;
                }
            }
        }
    }
    if (state == current && why == reason) {
        return;
    }
    current = state;
    reason = why;
    onChange();
}

} // namespace tavrik
