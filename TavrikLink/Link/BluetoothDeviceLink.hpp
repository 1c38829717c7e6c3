#pragma once

#include "TavrikCore/Link/BleDataChannel.hpp"
#include "TavrikLink/Link/DeviceLink.hpp"
#include "TavrikPlatform/Bluetooth/BleCentral.hpp"

#include <memory>
#include <optional>

namespace tavrik {

// The Bluetooth road: the data channel over the connected peripheral's data characteristic, and
// the firmware characteristic when the board has one.
class BluetoothDeviceLink final : public DeviceLink {
public:
    BluetoothDeviceLink(BleDataChannel::Logger logger, RandomSource& random);
    BluetoothDeviceLink(const BluetoothDeviceLink&) = delete;
    BluetoothDeviceLink& operator=(const BluetoothDeviceLink&) = delete;

    // Points the channel at the peripheral's characteristics, with a fresh channel state.
    void attach(std::shared_ptr<BlePeripheral> peripheral, const BleCharacteristic& data,
        std::optional<BleCharacteristic> firmware);
    // Lets go of the characteristics; nothing goes out until the next attach.
    void detach();

    BleDataChannel& channel() { return dataChannel; }
    const std::optional<BleCharacteristic>& dataCharacteristic() const { return data; }
    const std::optional<BleCharacteristic>& firmwareCharacteristic() const { return firmware; }

    bool sendCommand(std::string_view channel, std::string_view command) override;
    bool sendMessage(const Json& message) override;
    bool attached() const override { return data.has_value(); }
    bool supportsFirmwareTransfer() const override { return true; }
    bool supportsFirmware() const override { return firmware.has_value(); }
    bool supportsWifi() const override { return true; }
    bool supportsRestore() const override { return true; }

private:
    BleDataChannel dataChannel;
    std::optional<BleCharacteristic> data;
    std::optional<BleCharacteristic> firmware;
};

} // namespace tavrik
