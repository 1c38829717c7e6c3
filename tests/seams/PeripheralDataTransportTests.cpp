#include "TavrikCore/Link/BleDataChannel.hpp"
#include "TavrikCore/Model/TavrikBleProtocolProfile.hpp"
#include "TavrikPlatform/Bluetooth/PeripheralDataTransport.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavrik::test {
namespace {

// Records what the transport asks of the peripheral.
class RecordingPeripheral final : public BlePeripheral {
public:
    struct Write {
        Data value;
        Uuid characteristic;
        BleWriteType type;
    };
    std::vector<Write> writes;
    int maximumLength = 182;

    std::string identifier() const override { return "AA:BB:CC:DD:EE:FF"; }
    std::optional<std::string> name() const override { return "Tavrik"; }
    void setDelegate(BlePeripheralDelegate*) override { }
    void discoverServices(const std::vector<Uuid>&) override { }
    std::optional<std::vector<Uuid>> services() const override { return std::nullopt; }
    void discoverCharacteristics(const std::vector<Uuid>&, const Uuid&) override { }
    std::optional<std::vector<BleCharacteristic>> characteristics(const Uuid&) const override { return std::nullopt; }
    void setNotifyValue(bool, const BleCharacteristic&) override { }
    void writeValue(const Data& value, const BleCharacteristic& characteristic, BleWriteType type) override
    {
        writes.push_back({ value, characteristic.uuid, type });
    }
    int maximumWriteValueLength(BleWriteType) const override { return maximumLength; }
    bool canSendWriteWithoutResponse() const override { return true; }
};

BleCharacteristic dataCharacteristic(std::uint32_t properties)
{
    const auto profile = TavrikBleProtocolProfile::secureV2;
    return { serviceUUID(profile), dataCharacteristicUUID(profile), properties, false };
}

TEST(PeripheralDataTransportTests, BinaryPayloadsGoWithResponseWithoutTheWriteWithoutResponseProperty)
{
    for (const bool withoutResponse : { false, true }) {
        SCOPED_TRACE(withoutResponse);
        auto peripheral = std::make_shared<RecordingPeripheral>();
        std::vector<std::string> log;
        BleDataChannel channel([&](const std::string& line) { log.push_back(line); });
        configureDataChannel(channel, peripheral,
            dataCharacteristic(bleWrite | bleNotify | (withoutResponse ? std::uint32_t { bleWriteWithoutResponse } : 0u)));
        ASSERT_TRUE(channel.sendBinaryPayload(Data { 1, 2, 3 }, "test"));
        ASSERT_FALSE(peripheral->writes.empty());
        EXPECT_EQ(peripheral->writes.front().characteristic, dataCharacteristicUUID(TavrikBleProtocolProfile::secureV2));
        EXPECT_EQ(peripheral->writes.front().type,
            withoutResponse ? BleWriteType::withoutResponse : BleWriteType::withResponse);
    }
}

TEST(PeripheralDataTransportTests, APeripheralWithoutCharacteristicDetachesTheChannel)
{
    auto peripheral = std::make_shared<RecordingPeripheral>();
    std::vector<std::string> log;
    BleDataChannel channel([&](const std::string& line) { log.push_back(line); });
    configureDataChannel(channel, peripheral, dataCharacteristic(bleWrite | bleNotify));
    configureDataChannel(channel, peripheral, std::nullopt);
    EXPECT_FALSE(channel.sendCommand("system", "ping"));
    EXPECT_TRUE(peripheral->writes.empty());
    EXPECT_NE(std::find(log.begin(), log.end(), "[ble:data] send skipped (no peripheral)"), log.end());
}

} // namespace
} // namespace tavrik::test
