#include "TavrikLink/Controller/LinkClaims.hpp"

#include "TavrikLink/Controller/WifiRequests.hpp"

namespace tavrik {

namespace {

constexpr std::string_view stalledSync = "Tavrik stopped sending data. Enable connection mode on Tavrik and try again.";
constexpr std::chrono::milliseconds syncSilence { 15000 };

constexpr LinkClaim allClaims[] = { LinkClaim::load, LinkClaim::restore, LinkClaim::commandConnection,
    LinkClaim::routineControl, LinkClaim::wifiRequest, LinkClaim::firmwareTransfer, LinkClaim::tagScan };

} // namespace

LinkClaims::Rule LinkClaims::rule(LinkClaim claim)
{
    switch (claim) {
    case LinkClaim::load:
    case LinkClaim::restore:
        // From "sync_start" to the first answer, and between the answers that carry the data.
        return { syncSilence, stalledSync };
    case LinkClaim::routineControl:
        return { WifiRequests::timeout, "The routine request timed out." };
    case LinkClaim::commandConnection:
        // Ends when nothing waits on it; edits the link keeps refusing are given up by the idle minute.
    case LinkClaim::wifiRequest:
        // Bounded by the Wi-Fi requests themselves, with their own failure text.
    case LinkClaim::firmwareTransfer:
        // Bounded by the firmware install.
    case LinkClaim::tagScan:
        // Ends on the device's answer, the user's cancel or the link's end.
        return {};
    }
    return {};
}

LinkClaims::LinkClaims(Scheduler& scheduler, Callbacks callbacks)
    : scheduler(scheduler)
    , callbacks(std::move(callbacks))
    , rest(scheduler)
{
}

void LinkClaims::set(LinkClaim claim, bool isHeld)
{
    if (isHeld) {
        held.insert(claim);
        return;
    }
    held.erase(claim);
    disarm(claim);
}

void LinkClaims::arm(LinkClaim claim)
{
    const Rule limits = rule(claim);
    if (!limits.bound) {
        return;
    }
    auto task = bounds.try_emplace(claim, scheduler).first;
    task->second.schedule(*limits.bound, [this, claim, failure = std::string(limits.failure)] {
        held.erase(claim);
        if (callbacks.expired) {
            callbacks.expired(claim, failure);
        }
    });
}

void LinkClaims::disarm(LinkClaim claim)
{
    if (const auto task = bounds.find(claim); task != bounds.end()) {
        task->second.cancel();
    }
}

bool LinkClaims::isArmed(LinkClaim claim) const
{
    const auto task = bounds.find(claim);
    return task != bounds.end() && task->second.isPending();
}

bool LinkClaims::holds(LinkClaim claim) const
{
    return held.contains(claim) || (callbacks.heldElsewhere && callbacks.heldElsewhere(claim));
}

bool LinkClaims::any() const
{
    for (const LinkClaim claim : allClaims) {
        if (holds(claim)) {
            return true;
        }
    }
    return false;
}

bool LinkClaims::connectFailed()
{
    ++failuresInARow;
    rest.cancel();
    if (failuresInARow < connectFailuresBeforeRest) {
        return true;
    }
    rest.schedule(connectRest, [this] {
        if (callbacks.restOver) {
            callbacks.restOver();
        }
    });
    return false;
}

void LinkClaims::resetConnectFailures()
{
    failuresInARow = 0;
    rest.cancel();
}

} // namespace tavrik
