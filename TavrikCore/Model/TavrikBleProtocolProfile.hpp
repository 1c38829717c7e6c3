#pragma once

#include "TavrikCore/Support/Uuid.hpp"

#include <array>
#include <optional>
#include <string_view>
#include <vector>

namespace tavrik {

// The device's two GATT profiles: one primary service each, with a data characteristic (notify and
// write with response) and a firmware characteristic (write without response).
enum class TavrikBleProtocolProfile {
    secureV2 = 2,
    legacyUnencryptedV1 = 1,
};

inline constexpr std::array<TavrikBleProtocolProfile, 2> allTavrikBleProtocolProfiles {
    TavrikBleProtocolProfile::secureV2,
    TavrikBleProtocolProfile::legacyUnencryptedV1,
};

// Order of preference: a device offering both services is used with the secure one.
inline constexpr std::array<TavrikBleProtocolProfile, 2> preferredTavrikBleProtocolProfiles {
    TavrikBleProtocolProfile::secureV2,
    TavrikBleProtocolProfile::legacyUnencryptedV1,
};

int rawValue(TavrikBleProtocolProfile profile);
// 2 and 1 name the profiles; anything else names none.
std::optional<TavrikBleProtocolProfile> tavrikBleProtocolProfileFromRawValue(int rawValue);

// "secure BLE v2" or "legacy unencrypted BLE v1", as the connection log shows it.
std::string_view displayName(TavrikBleProtocolProfile profile);

Uuid serviceUUID(TavrikBleProtocolProfile profile);
Uuid dataCharacteristicUUID(TavrikBleProtocolProfile profile);
Uuid firmwareCharacteristicUUID(TavrikBleProtocolProfile profile);
// Data characteristic first, firmware second, for characteristic discovery.
std::vector<Uuid> characteristicUUIDs(TavrikBleProtocolProfile profile);

// The service of each profile in order of preference, for scanning and service discovery.
std::vector<Uuid> scanServiceUUIDs();

// The first preferred profile whose service the peripheral offers; none when it offers neither.
std::optional<TavrikBleProtocolProfile> chooseTavrikBleProtocolProfile(const std::vector<Uuid>& discoveredServiceUUIDs);

} // namespace tavrik
