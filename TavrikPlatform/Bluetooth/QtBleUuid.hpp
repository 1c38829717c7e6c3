#pragma once

#include "TavrikCore/Support/Uuid.hpp"

#include <QBluetoothUuid>

#include <optional>

namespace tavrik {

QBluetoothUuid toQtUuid(const Uuid& uuid);
std::optional<Uuid> fromQtUuid(const QBluetoothUuid& uuid);

} // namespace tavrik
