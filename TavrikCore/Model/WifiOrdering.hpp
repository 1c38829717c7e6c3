#pragma once

#include "TavrikCore/Model/WifiModels.hpp"
#include "TavrikCore/Support/LocalizedOrder.hpp"

#include <algorithm>
#include <string>
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

// The order of both scan lists (over Bluetooth and over USB): the strongest signal first, equal
// signals by name in the user's locale without regard to case; ties keep their order. `Network`
// has `ssid` and `rssi`.
template <typename Network>
void sortByStrengthThenName(std::vector<Network>& networks, std::string_view localeId)
{
    const LocalizedCaseInsensitiveOrder order { std::string(localeId) };
    std::stable_sort(networks.begin(), networks.end(), [&](const Network& lhs, const Network& rhs) {
        if (lhs.rssi != rhs.rssi) {
            return lhs.rssi > rhs.rssi;
        }
        return order(lhs.ssid, rhs.ssid);
    });
}

} // namespace tavrik
