#include "TavrikLink/Controller/TavrikBleCentral.hpp"

namespace tavrik {

void TavrikBleCentral::handleWifiStatus(const Data&)
{
    // Completed with the Wi-Fi operations.
}

void TavrikBleCentral::handleWifiScanResults(const Data&)
{
    // Completed with the Wi-Fi operations.
}

void TavrikBleCentral::sendPendingWifiRequestIfNeeded()
{
    // Completed with the Wi-Fi operations.
}

void TavrikBleCentral::resetWifiRequestState()
{
    cancelTask(wifiRequestTimeoutTask_);
    wifiRequests_.clear();
    pendingWifiRequest_.reset();
    publish(wifiRequestActivity_, WifiRequestActivityState {}, &TavrikBleCentral::wifiRequestActivityChanged);
}

} // namespace tavrik
