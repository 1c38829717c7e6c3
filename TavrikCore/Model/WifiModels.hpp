#pragma once

#include "TavrikCore/Support/Json.hpp"
#include "TavrikCore/Support/Uuid.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace tavrik {

// One network saved on the device. The device sends its flags as numbers; non-zero means yes.
struct WifiCredentialSummary {
    std::string ssid;
    std::int64_t verified = 0;
    std::int64_t lastSuccessful = 0;

    const std::string& id() const { return ssid; }
    bool isVerified() const { return verified != 0; }
    bool isLastSuccessful() const { return lastSuccessful != 0; }

    friend bool operator==(const WifiCredentialSummary&, const WifiCredentialSummary&) = default;
};

// The "wifi" member of sync data.
struct WifiCapabilityPayload {
    std::int64_t supported = 0;
    std::int64_t capacity = 0;
    std::vector<WifiCredentialSummary> credentials;

    bool isSupported() const { return supported != 0; }

    friend bool operator==(const WifiCapabilityPayload&, const WifiCapabilityPayload&) = default;
};

// One network found by a device scan.
struct WifiScannedNetwork {
    std::string ssid;
    std::int64_t rssi = 0;
    std::string security;
    std::int64_t supported = 0;

    const std::string& id() const { return ssid; }
    bool isSupported() const { return supported != 0; }

    friend bool operator==(const WifiScannedNetwork&, const WifiScannedNetwork&) = default;
};

// A request to the device: "wifi_scan", "wifi_check_saved", "wifi_validate", "wifi_upsert" or
// "wifi_remove". `requestId` is repeated in the device's answers.
struct WifiRequestEnvelope {
    std::string type;
    std::string requestId;
    std::optional<std::string> ssid;
    std::optional<std::string> password;
    std::optional<std::string> timezone;
    std::optional<bool> verified;

    friend bool operator==(const WifiRequestEnvelope&, const WifiRequestEnvelope&) = default;
};

// The answer to "wifi_scan" ("wifi_scan_results").
struct WifiScanResultsEnvelope {
    std::string type;
    std::string requestId;
    std::vector<WifiScannedNetwork> networks;

    friend bool operator==(const WifiScanResultsEnvelope&, const WifiScanResultsEnvelope&) = default;
};

// Progress and outcome of a request ("wifi_status"); `stage` is "scanning", "connecting",
// "waiting_for_ntp", "success" or "failed", `reason` a failure code.
struct WifiStatusEnvelope {
    std::string type;
    std::string requestId;
    std::string operation;
    std::string stage;
    std::optional<std::string> ssid;
    std::optional<std::string> reason;
    std::optional<std::string> message;

    friend bool operator==(const WifiStatusEnvelope&, const WifiStatusEnvelope&) = default;
};

Json toJson(const WifiCredentialSummary& value);
Json toJson(const WifiCapabilityPayload& value);
Json toJson(const WifiScannedNetwork& value);
Json toJson(const WifiRequestEnvelope& value);

// Strict readers: a missing required key or a wrong-typed value throws JsonDecodeError.
WifiCredentialSummary wifiCredentialSummaryFromJson(const Json& json);
WifiCapabilityPayload wifiCapabilityPayloadFromJson(const Json& json);
WifiScannedNetwork wifiScannedNetworkFromJson(const Json& json);
WifiScanResultsEnvelope wifiScanResultsEnvelopeFromJson(const Json& json);
WifiStatusEnvelope wifiStatusEnvelopeFromJson(const Json& json);

// A network as the user entered it.
struct WifiCandidate {
    std::string ssid;
    std::string password;

    friend bool operator==(const WifiCandidate&, const WifiCandidate&) = default;
};

enum class WifiRequestActivityKind {
    scanning,
    checking,
    saving,
};

// What an outstanding request is for.
struct WifiRequestContext {
    struct Validate {
        WifiCandidate candidate;
        friend bool operator==(const Validate&, const Validate&) = default;
    };
    struct Upsert {
        WifiCandidate candidate;
        bool verified = false;
        friend bool operator==(const Upsert&, const Upsert&) = default;
    };
    struct Remove {
        std::string ssid;
        friend bool operator==(const Remove&, const Remove&) = default;
    };
    struct Scan {
        friend bool operator==(const Scan&, const Scan&) = default;
    };
    struct CheckSaved {
        friend bool operator==(const CheckSaved&, const CheckSaved&) = default;
    };

    std::variant<Validate, Upsert, Remove, Scan, CheckSaved> value;

    static WifiRequestContext validate(WifiCandidate candidate) { return { Validate { std::move(candidate) } }; }
    static WifiRequestContext upsert(WifiCandidate candidate, bool verified)
    {
        return { Upsert { std::move(candidate), verified } };
    }
    static WifiRequestContext remove(std::string ssid) { return { Remove { std::move(ssid) } }; }
    static WifiRequestContext scan() { return { Scan {} }; }
    static WifiRequestContext checkSaved() { return { CheckSaved {} }; }

    WifiRequestActivityKind activityKind() const;

    friend bool operator==(const WifiRequestContext&, const WifiRequestContext&) = default;
};

// The one request whose progress the window shows; empty when idle.
struct WifiRequestActivityState {
    std::optional<std::string> requestId;
    std::optional<WifiRequestActivityKind> kind;

    bool isScanning() const { return kind == WifiRequestActivityKind::scanning; }
    bool isChecking() const { return kind == WifiRequestActivityKind::checking; }
    bool isSaving() const { return kind == WifiRequestActivityKind::saving; }
    bool isActive() const { return requestId.has_value(); }

    // Replaces any earlier request.
    void begin(std::string newRequestId, WifiRequestActivityKind newKind);
    // Clears the state only when it tracks this request; answers of older requests leave it alone.
    bool finish(const std::string& finishedRequestId);
    void clear();

    friend bool operator==(const WifiRequestActivityState&, const WifiRequestActivityState&) = default;
};

// One-shot notice of a Wi-Fi success; each notice gets its own id.
struct WifiConnectionNotice {
    Uuid id;
    std::string message;

    explicit WifiConnectionNotice(std::string message);
    WifiConnectionNotice(Uuid id, std::string message);

    friend bool operator==(const WifiConnectionNotice&, const WifiConnectionNotice&) = default;
};

// One-shot notice that a network failed validation; each notice gets its own id.
struct WifiValidationFailure {
    Uuid id;
    std::string ssid;
    std::string message;

    WifiValidationFailure(std::string ssid, std::string message);
    WifiValidationFailure(Uuid id, std::string ssid, std::string message);

    friend bool operator==(const WifiValidationFailure&, const WifiValidationFailure&) = default;
};

} // namespace tavrik
