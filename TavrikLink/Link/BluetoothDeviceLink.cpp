#include "TavrikLink/Link/BluetoothDeviceLink.hpp"

#include "TavrikPlatform/Bluetooth/PeripheralDataTransport.hpp"

#include <utility>

namespace tavrik {

BluetoothDeviceLink::BluetoothDeviceLink(BleDataChannel::Logger logger, RandomSource& random)
    : dataChannel(std::move(logger), random)
{
}

void BluetoothDeviceLink::attach(std::shared_ptr<BlePeripheral> peripheral, const BleCharacteristic& dataCharacteristic,
    std::optional<BleCharacteristic> firmwareCharacteristic)
{
    data = dataCharacteristic;
    firmware = firmwareCharacteristic;
    configureDataChannel(dataChannel, std::move(peripheral), data);
}

void BluetoothDeviceLink::detach()
{
    data.reset();
    firmware.reset();
    configureDataChannel(dataChannel, nullptr, std::nullopt);
}

bool BluetoothDeviceLink::sendCommand(std::string_view channel, std::string_view command)
{
    return dataChannel.sendCommand(channel, command);
}

bool BluetoothDeviceLink::sendMessage(const Json& message)
{
    return dataChannel.sendEncodable(message);
}

} // namespace tavrik
