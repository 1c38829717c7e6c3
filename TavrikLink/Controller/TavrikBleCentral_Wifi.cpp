#include "TavrikLink/Controller/TavrikBleCentral.hpp"

namespace tavrik {

void TavrikBleCentral::scanWifiNetworks() {}
void TavrikBleCentral::checkSavedWifiCredentials() {}
void TavrikBleCentral::validateAndSaveWifiCredential(const std::string&, const std::string&) {}
void TavrikBleCentral::sendWifiUpsert(const WifiCandidate&, bool) {}
void TavrikBleCentral::removeWifiCredential(const std::string&) {}

void TavrikBleCentral::clearWifiValidationFailure()
{
    publish(wifiValidationFailure_, std::nullopt, &TavrikBleCentral::wifiValidationFailureChanged);
}

void TavrikBleCentral::clearWifiSettingsMessage()
{
    publish(wifiSettingsMessage_, std::nullopt, &TavrikBleCentral::wifiSettingsMessageChanged);
}

void TavrikBleCentral::dismissWifiConnectionNotice()
{
    publish(wifiConnectionNotice_, std::nullopt, &TavrikBleCentral::wifiConnectionNoticeChanged);
}

void TavrikBleCentral::handleWifiStatus(const Data&) {}
void TavrikBleCentral::handleWifiScanResults(const Data&) {}
void TavrikBleCentral::sendPendingWifiRequestIfNeeded() {}

void TavrikBleCentral::resetWifiRequestState()
{
    cancelTask(wifiRequestTimeoutTask_);
    wifiRequests_.clear();
    pendingWifiRequest_.reset();
    publish(wifiRequestActivity_, WifiRequestActivityState {}, &TavrikBleCentral::wifiRequestActivityChanged);
}

std::string TavrikBleCentral::wifiFailureMessage(const std::string&, const std::optional<std::string>& fallback)
{
    return fallback.value_or("The Wi-Fi operation failed.");
}

void TavrikBleCentral::sendWifiRequest(const WifiRequestEnvelope&, const WifiRequestContext&) {}
void TavrikBleCentral::beginWifiRequest(const WifiRequestEnvelope&, const WifiRequestContext&) {}
std::optional<WifiRequestContext> TavrikBleCentral::finishWifiRequest(const std::string&) { return std::nullopt; }
void TavrikBleCentral::handleSuccessfulWifiRequest(const WifiRequestContext&, const std::optional<std::string>&) {}
void TavrikBleCentral::handleFailedWifiRequest(
    const WifiRequestContext&, const std::string&, const std::optional<std::string>&)
{
}
void TavrikBleCentral::setWifiSettingsMessage(std::optional<std::string> message)
{
    publish(wifiSettingsMessage_, std::move(message), &TavrikBleCentral::wifiSettingsMessageChanged);
}
std::string TavrikBleCentral::newWifiRequestId() { return Uuid::random(random).text(); }
std::string TavrikBleCentral::wifiTimeZone() const { return {}; }

} // namespace tavrik
