#pragma once

#include "TavrikCore/Model/WifiModels.hpp"

#include <string_view>
#include <vector>

namespace tavrik {

// Saved networks as the list shows them: the one that worked last first, then by name in the
// user's locale without regard to case; equal entries keep their order.
std::vector<WifiCredentialSummary> sortedSavedWifiCredentials(
    std::vector<WifiCredentialSummary> credentials, std::string_view localeId);

// Scan results as the picker shows them: networks without a name dropped, the strongest signal
// first, equal signals by name in the user's locale without regard to case; ties keep their order.
std::vector<WifiScannedNetwork> sortedNearbyWifiNetworks(
    const std::vector<WifiScannedNetwork>& networks, std::string_view localeId);

} // namespace tavrik
