#pragma once

#include "TavrikCore/Link/BleDataTransport.hpp"
#include "TavrikPlatform/Bluetooth/BleCentral.hpp"

#include <memory>
#include <optional>

namespace tavrik {

class BleDataChannel;

// Lets the data channel write through one characteristic of a connected peripheral. Write
// completions and ready-to-send events reach the channel through the peripheral's delegate.
class PeripheralDataTransport final : public BleDataTransport {
public:
    PeripheralDataTransport(std::shared_ptr<BlePeripheral> peripheral, BleCharacteristic characteristic);

    bool supportsWriteWithoutResponse() const override;
    bool canSendWriteWithoutResponse() const override;
    int maximumWriteValueLength(BleWriteType type) const override;
    void write(const Data& data, BleWriteType type) override;

private:
    std::shared_ptr<BlePeripheral> peripheral;
    BleCharacteristic characteristic;
};

// Attaches the channel to the characteristic when both are given, detaches it otherwise; either
// way the channel starts a new connection state.
void configureDataChannel(BleDataChannel& channel, std::shared_ptr<BlePeripheral> peripheral,
    const std::optional<BleCharacteristic>& characteristic);

} // namespace tavrik
