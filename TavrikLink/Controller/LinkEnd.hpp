#pragma once

#include "TavrikCore/Support/ScheduledTask.hpp"

#include <chrono>
#include <functional>
#include <optional>

namespace tavrik {

// When the link ends: the idle minute after the user's last touch, and the short graces that give
// the device a moment to act on a last command before the link is cut. The minute runs out unseen
// while work holds the link; its countdown is shown only when it will really end the link.
class LinkEnd {
public:
    static constexpr int idleSeconds = 60;
    static constexpr int countdownVisibleSeconds = 30;
    static constexpr std::chrono::milliseconds disconnectGrace { 250 };
    static constexpr std::chrono::milliseconds quitGrace { 300 };

    struct Callbacks {
        // The idle minute may run: the link is up with the device's data loaded, and may end.
        std::function<bool()> mayRun;
        // The link carries messages.
        std::function<bool()> linkUp;
        // Some work holds the link.
        std::function<bool()> heldByWork;
        // The minute ran out: work that cannot finish gives up before the link is judged idle.
        std::function<void()> givingUp;
        // The seconds shown before the link ends, or none.
        std::function<void(std::optional<int>)> countdown;
        // The minute ran out with nothing holding the link.
        std::function<void()> idle;
    };

    LinkEnd(Scheduler& scheduler, Callbacks callbacks);
    LinkEnd(const LinkEnd&) = delete;
    LinkEnd& operator=(const LinkEnd&) = delete;

    // The user did something: the minute starts again, if it may run.
    void restart();
    // The minute stops and its countdown goes.
    void stop();
    bool isRunning() const { return minute.isPending(); }

    // Runs `then` after the disconnect grace, at once when the device did not take the command.
    void afterDisconnect(bool accepted, std::function<void()> then);
    // Runs `then` after the quit grace.
    void afterQuit(std::function<void()> then);
    // Stops the minute and a disconnect grace still running; the quit lets go of the link itself.
    void stopForQuit();

private:
    void step(int remaining);
    void runOut();

    Callbacks callbacks;
    ScheduledTask minute;
    ScheduledTask disconnectTask;
    ScheduledTask quitTask;
};

} // namespace tavrik
