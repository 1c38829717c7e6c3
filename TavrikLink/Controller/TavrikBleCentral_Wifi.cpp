#include "TavrikLink/Controller/TavrikBleCentral.hpp"

#include "TavrikCore/Model/CompanionTimeZone.hpp"
#include "TavrikCore/Model/WifiOrdering.hpp"
#include "TavrikCore/Support/Json.hpp"
#include "TavrikCore/Support/Text.hpp"

#include <algorithm>
#include <exception>

namespace tavrik {

namespace {

constexpr const char* demoRefusal = "Wi-Fi changes and checks require a connected Tavrik.";
constexpr const char* legacyRefusal = "Wi-Fi management requires secure Bluetooth.";
constexpr const char* simulatorRefusal = "Wi-Fi management is unavailable in the simulator.";
constexpr const char* sendFailure = "Could not send the Wi-Fi request.";
constexpr const char* scanningText = "Scanning for nearby networks…";

WifiRequestEnvelope plainWifiRequest(std::string type, std::string requestId)
{
    WifiRequestEnvelope envelope;
    envelope.type = std::move(type);
    envelope.requestId = std::move(requestId);
    return envelope;
}

std::string ssidOrWifi(const std::optional<std::string>& ssid)
{
    return ssid.value_or("Wi-Fi");
}

} // namespace

void TavrikBleCentral::scanWifiNetworks()
{
    if (!wifiSupported_) {
        return;
    }
    recordUserInteraction();
    publish(nearbyWifiNetworks_, std::vector<WifiScannedNetwork> {}, &TavrikBleCentral::nearbyWifiNetworksChanged);
    setWifiSettingsMessage(scanningText);
    sendWifiRequest(plainWifiRequest("wifi_scan", wifiRequests_.newId()), WifiRequestContext::scan());
}

void TavrikBleCentral::checkSavedWifiCredentials()
{
    if (!wifiSupported_) {
        return;
    }
    recordUserInteraction();
    setWifiSettingsMessage("Checking saved Wi-Fi networks…");
    sendWifiRequest(plainWifiRequest("wifi_check_saved", wifiRequests_.newId()), WifiRequestContext::checkSaved());
}

void TavrikBleCentral::validateAndSaveWifiCredential(const std::string& ssid, const std::string& password)
{
    if (!wifiSupported_) {
        return;
    }
    const std::string name = text::trimmed(ssid);
    if (name.empty()) {
        publish(wifiValidationFailure_, WifiValidationFailure(Uuid::random(random), "", "Enter a Wi-Fi network name."),
            &TavrikBleCentral::wifiValidationFailureChanged);
        return;
    }
    recordUserInteraction();
    failedWifiCandidate_.reset();
    clearWifiValidationFailure();
    publish(wifiLastSavedSsid_, std::nullopt, &TavrikBleCentral::wifiLastSavedSsidChanged);
    setWifiSettingsMessage("Checking " + name + "…");
    // The password goes exactly as typed: blanks may belong to it.
    WifiRequestEnvelope envelope { "wifi_validate", wifiRequests_.newId(), name, password, wifiTimeZone(), std::nullopt };
    sendWifiRequest(envelope, WifiRequestContext::validate({ name, password }));
}

void TavrikBleCentral::sendWifiUpsert(const WifiCandidate& candidate, bool verified)
{
    setWifiSettingsMessage("Saving " + candidate.ssid + "…");
    WifiRequestEnvelope envelope { "wifi_upsert", wifiRequests_.newId(), candidate.ssid, candidate.password,
        wifiTimeZone(), verified };
    sendWifiRequest(envelope, WifiRequestContext::upsert(candidate, verified));
}

void TavrikBleCentral::removeWifiCredential(const std::string& ssid)
{
    if (!wifiSupported_) {
        return;
    }
    recordUserInteraction();
    setWifiSettingsMessage("Removing " + ssid + "…");
    WifiRequestEnvelope envelope { "wifi_remove", wifiRequests_.newId(), ssid, std::nullopt, std::nullopt, std::nullopt };
    sendWifiRequest(envelope, WifiRequestContext::remove(ssid));
}

void TavrikBleCentral::clearWifiValidationFailure()
{
    publish(wifiValidationFailure_, std::nullopt, &TavrikBleCentral::wifiValidationFailureChanged);
}

void TavrikBleCentral::clearWifiSettingsMessage()
{
    setWifiSettingsMessage(std::nullopt);
}

void TavrikBleCentral::dismissWifiConnectionNotice()
{
    publish(wifiConnectionNotice_, std::nullopt, &TavrikBleCentral::wifiConnectionNoticeChanged);
}

void TavrikBleCentral::sendWifiRequest(const WifiRequestEnvelope& envelope, const WifiRequestContext& context)
{
    if (isReviewDemo_) {
        resetWifiRequestState();
        setWifiSettingsMessage(demoRefusal);
        return;
    }
    if (activeBleProfile_ == TavrikBleProtocolProfile::legacyUnencryptedV1) {
        resetWifiRequestState();
        setWifiSettingsMessage(legacyRefusal);
        finishControlSessionIfIdle();
        return;
    }
    if (link().attached() && !link().supportsWifi()) {
        resetWifiRequestState();
        setWifiSettingsMessage(simulatorRefusal);
        finishControlSessionIfIdle();
        return;
    }
    wifiRequests_.begin(envelope, context);
    // Keeps the connection up for the answer.
    claims_.take(LinkClaim::commandConnection);
    if (isDeviceAttached()) {
        if (!link().sendMessage(toJson(envelope))) {
            wifiRequests_.finish(envelope.requestId);
            setWifiSettingsMessage(sendFailure);
            finishControlSessionIfIdle();
        }
        return;
    }
    // The time-out already runs while the request waits for the connection.
    wifiRequests_.hold(envelope);
    // A running sync session owns the connection; opening a command connection would end it.
    if (!sessionMode_) {
        startCommandConnection();
    }
}

void TavrikBleCentral::sendPendingWifiRequestIfNeeded()
{
    if (!wifiRequests_.hasHeld()) {
        return;
    }
    const bool legacy = activeBleProfile_ == TavrikBleProtocolProfile::legacyUnencryptedV1;
    // Still connecting: the request waits for the data channel rather than failing to send.
    if (!legacy && !localLink_->attached() && !isDeviceAttached()) {
        return;
    }
    const WifiRequestEnvelope envelope = *wifiRequests_.takeHeld();
    if (legacy) {
        wifiRequests_.finish(envelope.requestId);
        setWifiSettingsMessage(legacyRefusal);
    } else if (!link().supportsWifi()) {
        wifiRequests_.finish(envelope.requestId);
        setWifiSettingsMessage(simulatorRefusal);
    } else if (!link().sendMessage(toJson(envelope))) {
        wifiRequests_.finish(envelope.requestId);
        setWifiSettingsMessage(sendFailure);
    }
    finishControlSessionIfIdle();
}

void TavrikBleCentral::handleWifiStatus(const Data& payload)
{
    std::optional<WifiStatusEnvelope> status;
    try {
        status = wifiStatusEnvelopeFromJson(parseJson(payload));
    } catch (const std::exception&) {
    }
    const WifiRequestContext* known = status ? wifiRequests_.find(status->requestId) : nullptr;
    if (known == nullptr) {
        appendLog("Received an unexpected Wi-Fi status", true);
        return;
    }
    const std::string& stage = status->stage;
    if (stage == "scanning") {
        const bool scan = std::holds_alternative<WifiRequestContext::Scan>(known->value);
        setWifiSettingsMessage(scan ? scanningText : "Looking for saved Wi-Fi networks…");
    } else if (stage == "connecting") {
        setWifiSettingsMessage("Connecting to " + ssidOrWifi(status->ssid) + "…");
    } else if (stage == "waiting_for_ntp") {
        setWifiSettingsMessage("Connected to " + ssidOrWifi(status->ssid) + "; waiting for time sync…");
    } else if (stage == "success") {
        if (const auto context = wifiRequests_.finish(status->requestId)) {
            handleSuccessfulWifiRequest(*context, status->ssid);
            finishControlSessionIfIdle();
        }
    } else if (stage == "failed") {
        if (const auto context = wifiRequests_.finish(status->requestId)) {
            handleFailedWifiRequest(*context, status->reason.value_or("connection_timeout"), status->message);
            finishControlSessionIfIdle();
        }
    }
}

void TavrikBleCentral::handleWifiScanResults(const Data& payload)
{
    std::optional<WifiScanResultsEnvelope> results;
    try {
        results = wifiScanResultsEnvelopeFromJson(parseJson(payload));
    } catch (const std::exception&) {
    }
    const auto context = results ? wifiRequests_.finish(results->requestId) : std::nullopt;
    if (!context || !std::holds_alternative<WifiRequestContext::Scan>(context->value)) {
        appendLog("Received an unexpected Wi-Fi scan result", true);
        if (context) {
            // The request is over; its progress text must not stay up, nor the session with nothing to wait for.
            setWifiSettingsMessage(wifiFailureMessage("", std::nullopt));
            finishControlSessionIfIdle();
        }
        return;
    }
    std::vector<WifiScannedNetwork> networks = sortedNearbyWifiNetworks(results->networks, clock.localeId());
    const std::size_t count = networks.size();
    publish(nearbyWifiNetworks_, std::move(networks), &TavrikBleCentral::nearbyWifiNetworksChanged);
    setWifiSettingsMessage(count == 0
            ? std::string("No nearby Wi-Fi networks found.")
            : "Found " + std::to_string(count) + " nearby network" + (count == 1 ? "" : "s") + ".");
    finishControlSessionIfIdle();
}

void TavrikBleCentral::handleSuccessfulWifiRequest(
    const WifiRequestContext& context, const std::optional<std::string>& ssid)
{
    if (const auto* validate = std::get_if<WifiRequestContext::Validate>(&context.value)) {
        // Validation and saving are two requests in a row.
        sendWifiUpsert(validate->candidate, true);
    } else if (const auto* upsert = std::get_if<WifiRequestContext::Upsert>(&context.value)) {
        failedWifiCandidate_.reset();
        clearWifiValidationFailure();
        const std::string& name = upsert->candidate.ssid;
        std::vector<WifiCredentialSummary> saved = savedWifiCredentials_;
        std::erase_if(saved, [&](const WifiCredentialSummary& entry) { return entry.ssid == name; });
        if (upsert->verified) {
            for (WifiCredentialSummary& entry : saved) {
                entry.lastSuccessful = 0;
            }
        }
        const std::int64_t flag = upsert->verified ? 1 : 0;
        saved.push_back({ name, flag, flag });
        publish(savedWifiCredentials_, sortedSavedWifiCredentials(std::move(saved), clock.localeId()),
            &TavrikBleCentral::savedWifiCredentialsChanged);
        setWifiSettingsMessage(
            name + (upsert->verified ? " was verified and saved." : " was saved without verification."));
        publish(wifiLastSavedSsid_, name, &TavrikBleCentral::wifiLastSavedSsidChanged);
    } else if (const auto* remove = std::get_if<WifiRequestContext::Remove>(&context.value)) {
        std::vector<WifiCredentialSummary> saved = savedWifiCredentials_;
        std::erase_if(saved, [&](const WifiCredentialSummary& entry) { return entry.ssid == remove->ssid; });
        publish(savedWifiCredentials_, std::move(saved), &TavrikBleCentral::savedWifiCredentialsChanged);
        setWifiSettingsMessage(remove->ssid + " was removed.");
    } else if (std::holds_alternative<WifiRequestContext::CheckSaved>(context.value)) {
        if (!ssid) {
            setWifiSettingsMessage("Wi-Fi time synchronization completed.");
            return;
        }
        std::vector<WifiCredentialSummary> saved = savedWifiCredentials_;
        for (WifiCredentialSummary& entry : saved) {
            if (entry.ssid == *ssid) {
                entry.verified = 1;
                entry.lastSuccessful = 1;
            } else {
                entry.lastSuccessful = 0;
            }
        }
        publish(savedWifiCredentials_, std::move(saved), &TavrikBleCentral::savedWifiCredentialsChanged);
        setWifiSettingsMessage("Time synchronized using " + *ssid + ".");
    }
    // A scan's results arrive in their own message.
}

void TavrikBleCentral::handleFailedWifiRequest(
    const WifiRequestContext& context, const std::string& reason, const std::optional<std::string>& message)
{
    const std::string text = wifiFailureMessage(reason, message);
    setWifiSettingsMessage(text);
    const WifiCandidate* candidate = nullptr;
    if (const auto* validate = std::get_if<WifiRequestContext::Validate>(&context.value)) {
        candidate = &validate->candidate;
    } else if (const auto* upsert = std::get_if<WifiRequestContext::Upsert>(&context.value)) {
        candidate = &upsert->candidate;
    }
    if (candidate) {
        failedWifiCandidate_ = *candidate;
        publish(wifiValidationFailure_, WifiValidationFailure(Uuid::random(random), candidate->ssid, text),
            &TavrikBleCentral::wifiValidationFailureChanged);
        return;
    }
    if (std::holds_alternative<WifiRequestContext::CheckSaved>(context.value) && reason != "cancellation"
        && !didShowWifiFailureForCurrentSession_) {
        didShowWifiFailureForCurrentSession_ = true;
        publish(wifiConnectionNotice_, WifiConnectionNotice(Uuid::random(random), text),
            &TavrikBleCentral::wifiConnectionNoticeChanged);
    }
}

std::string TavrikBleCentral::wifiFailureMessage(const std::string& reason, const std::optional<std::string>& fallback)
{
    static const std::map<std::string, std::string, std::less<>> texts {
        { "no_credentials", "No Wi-Fi credentials are saved." },
        { "no_visible_saved_network", "None of the saved Wi-Fi networks are available." },
        { "authentication_failure", "The Wi-Fi password was not accepted." },
        { "connection_timeout", "The Wi-Fi connection timed out." },
        { "ntp_timeout", "Wi-Fi connected, but no NTP response was received." },
        { "request_timeout", "The Wi-Fi request timed out." },
        { "unsupported_security", "This network uses unsupported enterprise or legacy security." },
        { "cancellation", "The Wi-Fi check was cancelled." },
        { "capacity_reached", "Tavrik can store up to eight Wi-Fi networks." },
    };
    if (const auto known = texts.find(reason); known != texts.end()) {
        return known->second;
    }
    return fallback.value_or("The Wi-Fi operation failed.");
}

void TavrikBleCentral::resetWifiRequestState()
{
    const bool dropsRequest = wifiRequests_.isBusy();
    wifiRequests_.forget();
    // A command connection kept only for the dropped request's answer ends with it.
    if (!dropsRequest || !claims_.taken(LinkClaim::commandConnection) || sessionMode_ || isReviewDemo_) {
        return;
    }
    if (isConnected_) {
        finishControlSessionIfIdle();
    } else if (commandPath_.queued().empty() && !pendingRoutineCommand_ && !pendingClockCommand_) {
        claims_.release(LinkClaim::commandConnection);
        central.stopScan();
        setSyncStage(SyncStage::idle());
        updateStatus("Bluetooth idle");
    }
}

void TavrikBleCentral::setWifiSettingsMessage(std::optional<std::string> message)
{
    publish(wifiSettingsMessage_, std::move(message), &TavrikBleCentral::wifiSettingsMessageChanged);
}

std::string TavrikBleCentral::wifiTimeZone() const
{
    return CompanionTimeZone::posixValue(clock.timeZoneId(), clock);
}

} // namespace tavrik
