#include "TavrikCore/Model/TavrikBleProtocolProfile.hpp"

#include <gtest/gtest.h>

namespace tavrik {
namespace {

Uuid uuid(const char* text)
{
    return *Uuid::parse(text);
}

TEST(TavrikBleProtocolProfile, ProfileTable)
{
    using enum TavrikBleProtocolProfile;
    EXPECT_EQ(rawValue(secureV2), 2);
    EXPECT_EQ(displayName(secureV2), "secure BLE v2");
    EXPECT_EQ(serviceUUID(secureV2).text(), "8E6CA9C2-8B9B-4C94-BF4C-0CBB2C0C2F10");
    EXPECT_EQ(dataCharacteristicUUID(secureV2).text(), "8E6CA9C2-8B9B-4C94-BF4C-0CBB2C0C2F21");
    EXPECT_EQ(firmwareCharacteristicUUID(secureV2).text(), "8E6CA9C2-8B9B-4C94-BF4C-0CBB2C0C2F22");

    EXPECT_EQ(rawValue(legacyUnencryptedV1), 1);
    EXPECT_EQ(displayName(legacyUnencryptedV1), "legacy unencrypted BLE v1");
    EXPECT_EQ(serviceUUID(legacyUnencryptedV1).text(), "8E6CA9C2-8B9B-4C94-BF4C-0CBB2C0C2E10");
    EXPECT_EQ(dataCharacteristicUUID(legacyUnencryptedV1).text(), "8E6CA9C2-8B9B-4C94-BF4C-0CBB2C0C2E21");
    EXPECT_EQ(firmwareCharacteristicUUID(legacyUnencryptedV1).text(), "8E6CA9C2-8B9B-4C94-BF4C-0CBB2C0C2E22");

    EXPECT_EQ(characteristicUUIDs(legacyUnencryptedV1),
        (std::vector<Uuid> {
            uuid("8E6CA9C2-8B9B-4C94-BF4C-0CBB2C0C2E21"), uuid("8E6CA9C2-8B9B-4C94-BF4C-0CBB2C0C2E22") }));
    EXPECT_EQ(scanServiceUUIDs(),
        (std::vector<Uuid> {
            uuid("8E6CA9C2-8B9B-4C94-BF4C-0CBB2C0C2F10"), uuid("8E6CA9C2-8B9B-4C94-BF4C-0CBB2C0C2E10") }));
}

TEST(TavrikBleProtocolProfile, RawValues)
{
    EXPECT_EQ(tavrikBleProtocolProfileFromRawValue(2), TavrikBleProtocolProfile::secureV2);
    EXPECT_EQ(tavrikBleProtocolProfileFromRawValue(1), TavrikBleProtocolProfile::legacyUnencryptedV1);
    for (const int other : { 0, 3, -1 }) {
        EXPECT_EQ(tavrikBleProtocolProfileFromRawValue(other), std::nullopt) << other;
    }
}

TEST(TavrikBleProtocolProfile, ChoiceFollowsPreference)
{
    const Uuid secure = serviceUUID(TavrikBleProtocolProfile::secureV2);
    const Uuid legacy = serviceUUID(TavrikBleProtocolProfile::legacyUnencryptedV1);
    const Uuid other = uuid("0000180F-0000-1000-8000-00805F9B34FB");
    EXPECT_EQ(chooseTavrikBleProtocolProfile({ other, legacy, secure }), TavrikBleProtocolProfile::secureV2);
    EXPECT_EQ(chooseTavrikBleProtocolProfile({ other, legacy }), TavrikBleProtocolProfile::legacyUnencryptedV1);
    EXPECT_EQ(chooseTavrikBleProtocolProfile({ other, dataCharacteristicUUID(TavrikBleProtocolProfile::secureV2) }),
        std::nullopt);
    EXPECT_EQ(chooseTavrikBleProtocolProfile({}), std::nullopt);
}

} // namespace
} // namespace tavrik
