#include "TavrikLink/Controller/LinkEnd.hpp"

#include <utility>

namespace tavrik {

LinkEnd::LinkEnd(Scheduler& scheduler, Callbacks callbacks)
    : callbacks(std::move(callbacks))
    , minute(scheduler)
    , disconnectTask(scheduler)
    , quitTask(scheduler)
{
}

void LinkEnd::restart()
{
    stop();
    if (!callbacks.mayRun()) {
        return;
    }
    step(idleSeconds);
}

void LinkEnd::stop()
{
    minute.cancel();
    callbacks.countdown(std::nullopt);
}

void LinkEnd::step(int remaining)
{
    // The countdown is a promise that the link ends: while work holds the link the minute runs out
    // unseen and starts again.
    const bool shown = remaining <= countdownVisibleSeconds && !callbacks.heldByWork();
    callbacks.countdown(shown ? std::optional<int>(remaining) : std::nullopt);
    minute.schedule(std::chrono::seconds(1), [this, remaining] {
        if (remaining > 1) {
            step(remaining - 1);
            return;
        }
        callbacks.countdown(std::nullopt);
        runOut();
    });
}

void LinkEnd::runOut()
{
    callbacks.givingUp();
    if (!callbacks.linkUp() || callbacks.heldByWork()) {
        restart();
        return;
    }
    callbacks.idle();
}

void LinkEnd::afterDisconnect(bool accepted, std::function<void()> then)
{
    disconnectTask.schedule(accepted ? disconnectGrace : std::chrono::milliseconds(0), std::move(then));
}

void LinkEnd::afterQuit(std::function<void()> then)
{
    quitTask.schedule(quitGrace, std::move(then));
}

void LinkEnd::stopForQuit()
{
    stop();
    disconnectTask.cancel();
}

} // namespace tavrik
