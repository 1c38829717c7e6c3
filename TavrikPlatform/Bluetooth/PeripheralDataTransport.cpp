#include "TavrikPlatform/Bluetooth/PeripheralDataTransport.hpp"

#include "TavrikCore/Link/BleDataChannel.hpp"

namespace tavrik {

PeripheralDataTransport::PeripheralDataTransport(
    std::shared_ptr<BlePeripheral> peripheral, BleCharacteristic characteristic)
    : peripheral(std::move(peripheral))
    , characteristic(characteristic)
{
}

bool PeripheralDataTransport::supportsWriteWithoutResponse() const
{
    return characteristic.has(bleWriteWithoutResponse);
}

bool PeripheralDataTransport::canSendWriteWithoutResponse() const
{
    return peripheral->canSendWriteWithoutResponse();
}

int PeripheralDataTransport::maximumWriteValueLength(BleWriteType type) const
{
    return peripheral->maximumWriteValueLength(type);
}

void PeripheralDataTransport::write(const Data& data, BleWriteType type)
{
    peripheral->writeValue(data, characteristic, type);
}

void configureDataChannel(BleDataChannel& channel, std::shared_ptr<BlePeripheral> peripheral,
    const std::optional<BleCharacteristic>& characteristic)
{
    if (peripheral && characteristic) {
        channel.configure(std::make_shared<PeripheralDataTransport>(std::move(peripheral), *characteristic));
    } else {
        channel.configure(nullptr);
    }
}

} // namespace tavrik
