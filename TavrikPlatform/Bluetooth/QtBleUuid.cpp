#include "TavrikPlatform/Bluetooth/QtBleUuid.hpp"

namespace tavrik {

QBluetoothUuid toQtUuid(const Uuid& uuid)
{
    return QBluetoothUuid(QUuid::fromString(QString::fromStdString(uuid.text())));
}

std::optional<Uuid> fromQtUuid(const QBluetoothUuid& uuid)
{
    return Uuid::parse(uuid.toString(QUuid::WithoutBraces).toStdString());
}

} // namespace tavrik
