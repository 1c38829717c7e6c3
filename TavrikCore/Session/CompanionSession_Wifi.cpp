#include "TavrikCore/Session/CompanionSession.hpp"
#include "TavrikCore/Session/SessionRequest.hpp"

#include "TavrikCore/Model/CompanionTimeZone.hpp"
#include "TavrikCore/Model/SyncImportError.hpp"
#include "TavrikCore/Support/Text.hpp"
#include "TavrikCore/Support/Uuid.hpp"

#include <algorithm>

namespace tavrik {

namespace {

constexpr std::size_t maximumNetworkNameBytes = 32;

} // namespace

void CompanionSession::wifiAction(const Json& request)
{
    if (!capabilities.wifi) {
        throw SyncImportError("Wi-Fi management requires a secure supported Tavrik");
    }
    const std::string operation = json::optionalString(request, "operation").value_or("");
    if (operation == "dismiss") {
        wifiCandidate.reset();
        wifiFailure.reset();
        return;
    }
    if (wifiRequestId && operation != "cancel") {
        throw SyncImportError("Wait for the current Wi-Fi operation");
    }
    wifiFailure.reset();
    wifiSaved.reset();
    if (operation == "saveAnyway") {
        if (!wifiCandidate) {
            throw SyncImportError("No network to save");
        }
        wifiVerified = false;
        sendWifi("upsert");
        return;
    }
    if (!session::isOneOf(operation, { "scan", "check_saved", "save", "remove", "cancel" })) {
        throw SyncImportError("Unknown Wi-Fi operation");
    }
    if (operation == "save" || operation == "remove") {
        const std::string name = text::trimmed(json::optionalString(request, "ssid").value_or(""));
        if (name.empty() || name.size() > maximumNetworkNameBytes) {
            throw SyncImportError("Network name must contain 1–32 UTF-8 bytes");
        }
        if (operation == "save" && device && device->wifi) {
            const std::vector<WifiCredentialSummary>& saved = device->wifi->credentials;
            const bool known = std::any_of(
                saved.begin(), saved.end(), [&](const WifiCredentialSummary& network) { return network.ssid == name; });
            if (!known && static_cast<std::int64_t>(saved.size()) >= device->wifi->capacity) {
                throw SyncImportError("Tavrik's saved network capacity is full");
            }
        }
        // The dispatch ignores a "timeZone" that is not a string; so does the choice of zone here.
        const std::string zone = knownZoneOrSystem(session::stringMember(request, "timeZone"));
        wifiCandidate = WifiCandidateNetwork {
            .ssid = name,
            .password = json::optionalString(request, "password").value_or(""),
            .timezone = CompanionTimeZone::posixValue(zone, clock),
        };
    }
    sendWifi(operation == "save" ? "validate" : operation);
}

void CompanionSession::sendWifi(std::string_view operation)
{
    wifiRequestId = Uuid::random(random).text();
    wifiOperation = std::string(operation);
    wifiResult.reset();
    lastProgress = uptimeNow();

    WifiRequestEnvelope request;
    request.type = "wifi_" + std::string(operation);
    request.requestId = *wifiRequestId;
    if (wifiCandidate && session::isOneOf(operation, { "validate", "upsert", "remove" })) {
        request.ssid = wifiCandidate->ssid;
        if (operation != "remove") {
            request.password = wifiCandidate->password;
        }
        request.timezone = wifiCandidate->timezone;
    }
    if (operation == "upsert") {
        request.verified = wifiVerified;
    }
    send(request);
}

void CompanionSession::handleWifi(const Json& message)
{
    // A late answer to a cancelled or timed-out request carries an id that is no longer outstanding.
    if (const std::optional<std::string> requestId = session::stringMember(message, "requestId")) {
        if (!wifiRequestId || *wifiRequestId != *requestId) {
            return;
        }
    } else if (wifiRequestId) {
        return;
    }
    wifiResult = message;
    if (session::stringMember(message, "type") == "wifi_scan_results") {
        wifiRequestId.reset();
        return;
    }
    const std::string stage = session::stringMember(message, "stage").value_or("");
    if (stage != "success" && stage != "failed") {
        return;
    }
    wifiRequestId.reset();

    if (stage == "failed") {
        const std::string text = session::stringMember(message, "message")
                                     .value_or(session::stringMember(message, "reason").value_or("Wi-Fi request failed"));
        if (wifiOperation == "validate") {
            // Kept so that "saveAnyway" can store the network that failed its trial.
            wifiFailure = text;
        } else {
            wifiCandidate.reset();
        }
        status = text;
        return;
    }

    if (wifiOperation == "validate") {
        wifiVerified = true;
        sendWifi("upsert");
        return;
    }
    if (device && device->wifi) {
        std::vector<WifiCredentialSummary> networks = device->wifi->credentials;
        const auto dropCandidate = [&] {
            std::erase_if(
                networks, [&](const WifiCredentialSummary& network) { return network.ssid == wifiCandidate->ssid; });
        };
        if (wifiOperation == "upsert" && wifiCandidate) {
            dropCandidate();
            if (wifiVerified) {
                for (WifiCredentialSummary& network : networks) {
                    network.lastSuccessful = 0;
                }
            }
            const std::int64_t flag = wifiVerified ? 1 : 0;
            networks.push_back({ .ssid = wifiCandidate->ssid, .verified = flag, .lastSuccessful = flag });
            wifiSaved = wifiCandidate->ssid;
        } else if (wifiOperation == "remove" && wifiCandidate) {
            dropCandidate();
        } else if (const std::optional<std::string> working = session::stringMember(message, "ssid");
                   wifiOperation == "check_saved" && working) {
            for (WifiCredentialSummary& network : networks) {
                if (network.ssid == *working) {
                    network.verified = 1;
                    network.lastSuccessful = 1;
                } else {
                    network.lastSuccessful = 0;
                }
            }
        }
        device = replaceDevice({ .wifi = WifiCapabilityPayload {
                                     .supported = device->wifi->supported,
                                     .capacity = device->wifi->capacity,
                                     .credentials = std::move(networks),
                                 } });
    }
    wifiCandidate.reset();
    status = session::stringMember(message, "message").value_or("Wi-Fi request completed");
}

} // namespace tavrik
