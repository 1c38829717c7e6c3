#pragma once

#include "TavrikCore/Support/Data.hpp"

#include <optional>
#include <string>

namespace tavrik {

// What one sync control reply from the device means for the running session. `failed` carries the
// device's message, `staleError` the code of the session the error belongs to.
class SyncControlOutcome {
public:
    enum class Kind {
        failed,
        staleError,
        waiting,
        ready,
        incompleteLoad,
        restored,
        controlPending,
        controlCompleted,
        completed,
        confirmationTimedOut,
        unknown,
    };

    SyncControlOutcome() = default;

    static SyncControlOutcome failed(std::string message);
    static SyncControlOutcome staleError(std::string code);
    static SyncControlOutcome waiting() { return SyncControlOutcome(Kind::waiting); }
    static SyncControlOutcome ready() { return SyncControlOutcome(Kind::ready); }
    static SyncControlOutcome incompleteLoad() { return SyncControlOutcome(Kind::incompleteLoad); }
    static SyncControlOutcome restored() { return SyncControlOutcome(Kind::restored); }
    static SyncControlOutcome controlPending() { return SyncControlOutcome(Kind::controlPending); }
    static SyncControlOutcome controlCompleted() { return SyncControlOutcome(Kind::controlCompleted); }
    static SyncControlOutcome completed() { return SyncControlOutcome(Kind::completed); }
    static SyncControlOutcome confirmationTimedOut() { return SyncControlOutcome(Kind::confirmationTimedOut); }
    static SyncControlOutcome unknown() { return SyncControlOutcome(Kind::unknown); }

    Kind kind() const { return caseKind; }
    // The message of `failed`; empty for every other outcome.
    std::string failureMessage() const { return caseKind == Kind::failed ? text : std::string(); }
    // The device's code of `staleError`; empty for every other outcome.
    std::string staleCode() const { return caseKind == Kind::staleError ? text : std::string(); }

    friend bool operator==(const SyncControlOutcome&, const SyncControlOutcome&) = default;

private:
    explicit SyncControlOutcome(Kind kind)
        : caseKind(kind)
    {
    }

    Kind caseKind = Kind::unknown;
    std::string text;
};

// Classifies device replies for both the desktop controller and the session engine, so the two
// decide alike. Stateless.
class SyncControlPolicy {
public:
    SyncControlPolicy() = delete;

    // `message`: the complete message bytes. `mode`: "load", "restore" or "control" of the running
    // session, nothing outside one. `currentCode`: the session's sync code. An error whose code
    // names another session is stale, even when it reports a time-out.
    static SyncControlOutcome evaluate(const Data& message, const std::optional<std::string>& mode,
        const std::optional<std::string>& currentCode, bool hasLoadedData, bool hasPendingControl);
};

} // namespace tavrik
