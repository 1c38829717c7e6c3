#include "TavrikCore/Model/WifiOrdering.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavrik {
namespace {

std::vector<std::string> names(const std::vector<WifiScannedNetwork>& networks)
{
    std::vector<std::string> result;
    for (const WifiScannedNetwork& network : networks) {
        result.push_back(network.ssid);
    }
    return result;
}

TEST(WifiOrdering, SavedNetworksPutTheLastWorkingOneFirstThenSortByName)
{
    const std::vector<WifiCredentialSummary> saved { { "zeta", 1, 0 }, { "Beta", 0, 0 }, { "Office", 1, 1 },
        { "alpha", 0, 0 }, { "BETA", 1, 0 }, { "Äbo", 0, 0 } };
    EXPECT_EQ(sortedSavedWifiCredentials(saved, "en_US"),
        (std::vector<WifiCredentialSummary> { { "Office", 1, 1 }, { "Äbo", 0, 0 }, { "alpha", 0, 0 }, { "Beta", 0, 0 },
            { "BETA", 1, 0 }, { "zeta", 1, 0 } }));
    EXPECT_EQ(sortedSavedWifiCredentials({ { "Äbo", 0, 0 }, { "zeta", 0, 0 } }, "sv_SE"),
        (std::vector<WifiCredentialSummary> { { "zeta", 0, 0 }, { "Äbo", 0, 0 } }));
}

TEST(WifiOrdering, NearbyNetworksSortBySignalThenNameAndDropNamelessOnes)
{
    const std::vector<WifiScannedNetwork> found { { "b", -40, "wpa2", 1 }, { "", -20, "open", 1 },
        { "A", -40, "wpa2", 1 }, { "c", -70, "wpa2", 0 }, { "Net", -55, "wpa2", 1 }, { "NET", -55, "wpa2", 1 },
        { "able", -55, "open", 1 } };
    EXPECT_EQ(names(sortedNearbyWifiNetworks(found, "en_US")),
        (std::vector<std::string> { "A", "b", "able", "Net", "NET", "c" }));
    EXPECT_TRUE(sortedNearbyWifiNetworks({ { "", -10, "open", 1 } }, "en_US").empty());
}

} // namespace
} // namespace tavrik
