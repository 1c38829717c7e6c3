#include "TavrikLink/Controller/WifiRequests.hpp"

#include "TavrikCore/Support/Uuid.hpp"

#include <utility>

namespace tavrik {

WifiRequests::WifiRequests(Scheduler& scheduler, RandomSource& random, Callbacks callbacks)
    : random(random)
    , callbacks(std::move(callbacks))
    , timeoutTask(scheduler)
{
}

std::string WifiRequests::newId()
{
    return Uuid::random(random).text();
}

void WifiRequests::begin(const WifiRequestEnvelope& envelope, const WifiRequestContext& context)
{
    forget();
    WifiRequestActivityState activity;
    activity.begin(envelope.requestId, context.activityKind());
    show(std::move(activity));
    outstanding.insert_or_assign(envelope.requestId, context);
    // Progress stages do not extend this: the device gets one fixed span for the whole request.
    timeoutTask.schedule(timeout, [this, requestId = envelope.requestId] {
        if (const auto expired = finish(requestId)) {
            callbacks.expired(*expired);
        }
    });
}

std::optional<WifiRequestContext> WifiRequests::finish(const std::string& requestId)
{
    const auto entry = outstanding.find(requestId);
    if (shown.requestId != requestId || entry == outstanding.end()) {
        return std::nullopt;
    }
    WifiRequestContext context = std::move(entry->second);
    outstanding.erase(entry);
    show(WifiRequestActivityState {});
    if (held && held->requestId == requestId) {
        held.reset();
    }
    timeoutTask.cancel();
    return context;
}

const WifiRequestContext* WifiRequests::find(const std::string& requestId) const
{
    const auto entry = outstanding.find(requestId);
    return entry == outstanding.end() ? nullptr : &entry->second;
}

void WifiRequests::forget()
{
    timeoutTask.cancel();
    outstanding.clear();
    held.reset();
    show(WifiRequestActivityState {});
}

std::optional<WifiRequestEnvelope> WifiRequests::takeHeld()
{
    return std::exchange(held, std::nullopt);
}

void WifiRequests::show(WifiRequestActivityState activity)
{
    if (shown == activity) {
        return;
    }
    shown = std::move(activity);
    callbacks.activityChanged();
}

} // namespace tavrik
