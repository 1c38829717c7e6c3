#include "TavrikCore/Model/TavrikBleProtocolProfile.hpp"

#include <algorithm>
#include <cstdint>

namespace tavrik {

namespace {

// Both profiles share one base; the last two bytes tell profile (0x2F secure, 0x2E legacy) and role
// (0x10 service, 0x21 data, 0x22 firmware) apart.
Uuid profileUuid(TavrikBleProtocolProfile profile, std::uint8_t role)
{
    static const Uuid base = *Uuid::parse("8E6CA9C2-8B9B-4C94-BF4C-0CBB2C0C0000");
    Uuid uuid = base;
    uuid.bytes[14] = profile == TavrikBleProtocolProfile::secureV2 ? 0x2F : 0x2E;
    uuid.bytes[15] = role;
    return uuid;
}

} // namespace

int rawValue(TavrikBleProtocolProfile profile)
{
    return static_cast<int>(profile);
}

std::optional<TavrikBleProtocolProfile> tavrikBleProtocolProfileFromRawValue(int rawValue)
{
    for (const TavrikBleProtocolProfile profile : allTavrikBleProtocolProfiles) {
        if (static_cast<int>(profile) == rawValue) {
            return profile;
        }
    }
    return std::nullopt;
}

std::string_view displayName(TavrikBleProtocolProfile profile)
{
    switch (profile) {
    case TavrikBleProtocolProfile::secureV2:
        return "secure BLE v2";
    case TavrikBleProtocolProfile::legacyUnencryptedV1:
        return "legacy unencrypted BLE v1";
    }
    return {};
}

Uuid serviceUUID(TavrikBleProtocolProfile profile)
{
    return profileUuid(profile, 0x10);
}

Uuid dataCharacteristicUUID(TavrikBleProtocolProfile profile)
{
    return profileUuid(profile, 0x21);
}

Uuid firmwareCharacteristicUUID(TavrikBleProtocolProfile profile)
{
    return profileUuid(profile, 0x22);
}

std::vector<Uuid> characteristicUUIDs(TavrikBleProtocolProfile profile)
{
    return { dataCharacteristicUUID(profile), firmwareCharacteristicUUID(profile) };
}

std::vector<Uuid> scanServiceUUIDs()
{
    std::vector<Uuid> result;
    result.reserve(preferredTavrikBleProtocolProfiles.size());
    for (const TavrikBleProtocolProfile profile : preferredTavrikBleProtocolProfiles) {
        result.push_back(serviceUUID(profile));
    }
    return result;
}

std::optional<TavrikBleProtocolProfile> chooseTavrikBleProtocolProfile(const std::vector<Uuid>& discoveredServiceUUIDs)
{
    for (const TavrikBleProtocolProfile profile : preferredTavrikBleProtocolProfiles) {
        const Uuid service = serviceUUID(profile);
        if (std::find(discoveredServiceUUIDs.begin(), discoveredServiceUUIDs.end(), service)
            != discoveredServiceUUIDs.end()) {
            return profile;
        }
    }
    return std::nullopt;
}

} // namespace tavrik
