#include "TavrikCore/Model/SyncControlPolicy.hpp"

#include "TavrikCore/Model/SyncPayloads.hpp"
#include "TavrikCore/Support/Json.hpp"

#include <utility>

namespace tavrik {

SyncControlOutcome SyncControlOutcome::failed(std::string message)
{
    SyncControlOutcome outcome(Kind::failed);
    outcome.text = std::move(message);
    return outcome;
}

SyncControlOutcome SyncControlOutcome::staleError(std::string code)
{
    SyncControlOutcome outcome(Kind::staleError);
    outcome.text = std::move(code);
    return outcome;
}

namespace {

SyncControlOutcome evaluateDone(const std::optional<std::string>& mode, bool hasLoadedData, bool hasPendingControl)
{
    // The session's own mode decides; the envelope's "mode" key is not trusted for this.
    if (!mode) {
        return SyncControlOutcome::completed();
    }
    if (*mode == "load") {
        return hasLoadedData ? SyncControlOutcome::completed() : SyncControlOutcome::incompleteLoad();
    }
    if (*mode == "restore") {
        return SyncControlOutcome::restored();
    }
    if (*mode == "control") {
        return hasPendingControl ? SyncControlOutcome::controlPending() : SyncControlOutcome::controlCompleted();
    }
    return SyncControlOutcome::completed();
}

SyncControlOutcome evaluateError(const SyncControlEnvelope& envelope, const std::optional<std::string>& currentCode)
{
    if (envelope.code && currentCode && *envelope.code != *currentCode) {
        return SyncControlOutcome::staleError(*envelope.code);
    }
    if (envelope.reason == "timeout") {
        return SyncControlOutcome::confirmationTimedOut();
    }
    return SyncControlOutcome::failed(envelope.message.value_or("Connect error"));
}

} // namespace

SyncControlOutcome SyncControlPolicy::evaluate(const Data& message, const std::optional<std::string>& mode,
    const std::optional<std::string>& currentCode, bool hasLoadedData, bool hasPendingControl)
{
    SyncControlEnvelope envelope;
    try {
        envelope = syncControlEnvelopeFromJson(parseJson(message));
    } catch (const JsonDecodeError&) {
        return SyncControlOutcome::unknown();
    }
    if (envelope.type == "sync_waiting") {
        return SyncControlOutcome::waiting();
    }
    if (envelope.type == "sync_ready") {
        return SyncControlOutcome::ready();
    }
    if (envelope.type == "sync_done") {
        return evaluateDone(mode, hasLoadedData, hasPendingControl);
    }
    if (envelope.type == "sync_error") {
        return evaluateError(envelope, currentCode);
    }
    return SyncControlOutcome::unknown();
}

} // namespace tavrik
