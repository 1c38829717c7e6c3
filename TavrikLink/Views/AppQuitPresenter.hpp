#pragma once

#include "TavrikCore/Support/Scheduler.hpp"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace tavrik {

// The orderly quit: every request (menu, window close, SIGTERM/SIGINT) first lets the shutdown the
// window installed run (closing the device session), then exits with status 0. Requests while one is under way are
// ignored, and a shutdown that never reports back cannot keep the program alive past `waitLimit`.
class AppQuitPresenter {
public:
    // The controller's own shutdown waits 300 ms after "disconnect" and stops a running USB probe;
    // five seconds covers that with room to spare and still ends well inside a logout's patience.
    static constexpr std::chrono::milliseconds defaultWaitLimit { 5000 };

    enum class State { running, waitingForShutdown, quitting };

    // Starts the shutdown and calls the completion once it has ended, possibly before returning.
    using PrepareForTermination = std::function<void(std::function<void()> completion)>;

    AppQuitPresenter(Scheduler& scheduler, std::function<void(int status)> exit,
        std::chrono::milliseconds waitLimit = defaultWaitLimit);
    ~AppQuitPresenter();

    AppQuitPresenter(const AppQuitPresenter&) = delete;
    AppQuitPresenter& operator=(const AppQuitPresenter&) = delete;

    // What must finish before the program may quit; the window installs it while it is shown.
    void setPrepareForTermination(PrepareForTermination operation) { prepare = std::move(operation); }
    void clearPrepareForTermination() { prepare.reset(); }
    const std::optional<PrepareForTermination>& prepareForTermination() const { return prepare; }

    void requestQuit();
    State state() const { return current; }
    // True when the exit went ahead because the shutdown had not finished within the limit.
    bool gaveUpWaiting() const { return timedOut; }

private:
    void finish(bool afterTimeout);

    Scheduler& scheduler;
    std::optional<PrepareForTermination> prepare;
    std::function<void(int)> exit;
    std::chrono::milliseconds waitLimit;
    State current = State::running;
    bool timedOut = false;
    Scheduler::Handle limitHandle = Scheduler::invalidHandle;
    // A completion that arrives after this presenter is gone must not touch it.
    std::shared_ptr<AppQuitPresenter*> self;
};

} // namespace tavrik
