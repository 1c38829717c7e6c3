#pragma once

#include "TavrikCore/Support/ScheduledTask.hpp"

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace tavrik {

// A piece of work that keeps the link to the device up while it runs.
enum class LinkClaim {
    load,
    restore,
    commandConnection, // edits, clock and Wi-Fi requests waiting for or using a connection
    routineControl, // a routine start sent, its answer awaited
    wifiRequest,
    firmwareTransfer,
    tagScan,
};

// Which work holds the link. Some claims are taken here; the others are held by the part that runs
// the work (the sync session, the Wi-Fi requests, the firmware install) and asked for through a
// callback, so there is one answer to "may the link end?". Every bounded claim that goes unanswered
// ends with its own failure text, and a run of failed connects rests before the next look.
class LinkClaims {
public:
    struct Rule {
        // How long the claim may wait for the device; none when it ends on its own road (an answer,
        // the user, the link's end) or its bound lives with the part that runs it.
        std::optional<std::chrono::milliseconds> bound;
        // What the user reads when the bound runs out; empty when there is no bound here.
        std::string_view failure;
    };
    // The one table of bounds and failure texts.
    static Rule rule(LinkClaim claim);

    struct Callbacks {
        // The claims other parts hold right now.
        std::function<bool(LinkClaim)> heldElsewhere;
        // A bounded claim got no answer in time: it is already released here.
        std::function<void(LinkClaim, const std::string& failure)> expired;
        // The rest after failed connects is over: the device may be looked for again.
        std::function<void()> restOver;
    };

    static constexpr int connectFailuresBeforeRest = 3;
    static constexpr std::chrono::milliseconds connectRest { 10000 };

    LinkClaims(Scheduler& scheduler, Callbacks callbacks);
    LinkClaims(const LinkClaims&) = delete;
    LinkClaims& operator=(const LinkClaims&) = delete;

    // Takes or drops one of the claims kept here; dropping one also stops its bound.
    void set(LinkClaim claim, bool held);
    void take(LinkClaim claim) { set(claim, true); }
    void release(LinkClaim claim) { set(claim, false); }
    // Starts (again) the claim's bound from now; the device answered, or the wait begins.
    void arm(LinkClaim claim);
    // Stops the bound and keeps the claim: the device waits for its user and reports its own end.
    void disarm(LinkClaim claim);
    bool isArmed(LinkClaim claim) const;

    // Taken here.
    bool taken(LinkClaim claim) const { return held.contains(claim); }
    // Taken here or held elsewhere.
    bool holds(LinkClaim claim) const;
    // Some work holds the link: the idle minute must not end it.
    bool any() const;

    // A connect failed: true when the device may be looked for again at once, false when a rest
    // begins (`restOver` follows).
    bool connectFailed();
    // The link carries messages, or the connection starts afresh: the next failure begins a new run.
    void resetConnectFailures();
    bool isResting() const { return rest.isPending(); }

private:
    Scheduler& scheduler;
    Callbacks callbacks;
    std::set<LinkClaim> held;
    std::map<LinkClaim, ScheduledTask> bounds;
    int failuresInARow = 0;
    ScheduledTask rest;
};

} // namespace tavrik
