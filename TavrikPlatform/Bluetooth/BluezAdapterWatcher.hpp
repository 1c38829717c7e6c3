#pragma once

#include "TavrikPlatform/Bluetooth/BleCentral.hpp"

#include <QDBusConnection>
#include <QMap>
#include <QObject>

#include <functional>
#include <optional>

class QDBusMessage;
class QDBusPendingCallWatcher;
class QDBusServiceWatcher;

namespace tavrik {

// Follows BlueZ on the system bus and tells whether an adapter is there and powered: no system bus
// or no bluetoothd or no adapter is unsupported, a bus that refuses us is unauthorized, adapters
// that are all off are poweredOff; unavailableReason() tells these apart. It
// follows bluetoothd coming and going, adapters being added and removed and their power switch.
class BluezAdapterWatcher final : public QObject {
    Q_OBJECT
public:
    // onChange runs from the event loop whenever state() changed.
    explicit BluezAdapterWatcher(std::function<void()> onChange, QObject* parent = nullptr);

    // unknown until BlueZ's first answer.
    BleManagerState state() const { return current; }
    BleUnavailableReason unavailableReason() const { return reason; }

private Q_SLOTS:
    void interfacesAdded(const QDBusMessage& message);
    void interfacesRemoved(const QDBusMessage& message);
    void propertiesChanged(const QDBusMessage& message);

private:
    void watchBus();
    void refresh();
    void forgetAll();
    void update();

    std::optional<QDBusConnection> bus;
    std::function<void()> onChange;
    QDBusServiceWatcher* serviceWatcher = nullptr;
    // Adapter path to its power switch.
    QMap<QString, bool> adapters;
    bool answered = false;
    // Why BlueZ could not be asked at all (no bus, not running, refused), or none.
    BleUnavailableReason unreachable = BleUnavailableReason::none;
    BleManagerState current = BleManagerState::unknown;
    BleUnavailableReason reason = BleUnavailableReason::none;
    int refreshGeneration = 0;
};

} // namespace tavrik
