#include "TavrikCore/Model/WifiOrdering.hpp"

#include "TavrikCore/Support/LocalizedOrder.hpp"

#include <algorithm>
#include <iterator>

namespace tavrik {

std::vector<WifiCredentialSummary> sortedSavedWifiCredentials(
    std::vector<WifiCredentialSummary> credentials, std::string_view localeId)
{
    const LocalizedCaseInsensitiveOrder order { std::string(localeId) };
    std::stable_sort(credentials.begin(), credentials.end(),
        [&](const WifiCredentialSummary& lhs, const WifiCredentialSummary& rhs) {
            if (lhs.isLastSuccessful() != rhs.isLastSuccessful()) {
                return lhs.isLastSuccessful();
            }
            return order(lhs.ssid, rhs.ssid);
        });
    return credentials;
}

std::vector<WifiScannedNetwork> sortedNearbyWifiNetworks(
    const std::vector<WifiScannedNetwork>& networks, std::string_view localeId)
{
    std::vector<WifiScannedNetwork> named;
    std::copy_if(networks.begin(), networks.end(), std::back_inserter(named),
        [](const WifiScannedNetwork& network) { return !network.ssid.empty(); });
    sortByStrengthThenName(named, localeId);
    return named;
}

} // namespace tavrik
