#pragma once

#include "TavrikCore/Model/WifiModels.hpp"
#include "TavrikCore/Support/RandomSource.hpp"
#include "TavrikCore/Support/ScheduledTask.hpp"

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace tavrik {

// The Wi-Fi requests to the device: one outstanding at a time, by id, with one fixed time-out for
// the whole request, and the request held while the connection is made.
class WifiRequests {
public:
    struct Callbacks {
        // The outstanding request got no answer in time; it is already forgotten.
        std::function<void(const WifiRequestContext&)> expired;
        // `activity()` changed.
        std::function<void()> activityChanged;
    };

    static constexpr std::chrono::milliseconds timeout { 65000 };

    WifiRequests(Scheduler& scheduler, RandomSource& random, Callbacks callbacks);

    std::string newId();
    // Starts the request, replacing any other, and its time-out.
    void begin(const WifiRequestEnvelope& envelope, const WifiRequestContext& context);
    // Ends the outstanding request with this id, giving its context; nothing for another id.
    std::optional<WifiRequestContext> finish(const std::string& requestId);
    // The outstanding request with this id.
    const WifiRequestContext* find(const std::string& requestId) const;
    // Forgets every request, the held one too, and the time-out.
    void forget();

    void hold(WifiRequestEnvelope envelope) { held = std::move(envelope); }
    std::optional<WifiRequestEnvelope> takeHeld();
    bool hasHeld() const { return held.has_value(); }
    // A request is outstanding or held.
    bool isBusy() const { return !outstanding.empty() || held.has_value(); }
    bool hasOutstanding() const { return !outstanding.empty(); }

    const WifiRequestActivityState& activity() const { return shown; }

private:
    void show(WifiRequestActivityState activity);

    RandomSource& random;
    Callbacks callbacks;
    std::map<std::string, WifiRequestContext> outstanding;
    std::optional<WifiRequestEnvelope> held;
    WifiRequestActivityState shown;
    ScheduledTask timeoutTask;
};

} // namespace tavrik
