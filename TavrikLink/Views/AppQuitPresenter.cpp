#include "TavrikLink/Views/AppQuitPresenter.hpp"

#include <QtGlobal>

#include <exception>

namespace tavrik {

AppQuitPresenter::AppQuitPresenter(
    Scheduler& scheduler, std::function<void(int status)> exit, std::chrono::milliseconds waitLimit)
    : scheduler(scheduler)
    , exit(std::move(exit))
    , waitLimit(waitLimit)
    , self(std::make_shared<AppQuitPresenter*>(this))
{
}

AppQuitPresenter::~AppQuitPresenter()
{
    *self = nullptr;
    if (limitHandle != Scheduler::invalidHandle) {
        scheduler.cancel(limitHandle);
    }
}

void AppQuitPresenter::requestQuit()
{
    if (current != State::running) {
        return;
    }
    if (!prepare || !*prepare) {
        finish(false);
        return;
    }
    current = State::waitingForShutdown;
    limitHandle = scheduler.schedule(waitLimit, [this] {
        limitHandle = Scheduler::invalidHandle;
        finish(true);
    });
    std::weak_ptr<AppQuitPresenter*> weak = self;
    auto completion = [weak] {
        if (auto presenter = weak.lock(); presenter && *presenter) {
            (*presenter)->finish(false);
        }
    };
    // Copied so that the window clearing its shutdown while it runs cannot free it mid-call.
    const auto operation = *prepare;
    try {
        operation(completion);
    } catch (const std::exception& error) {
        qWarning("Shutdown before quitting failed: %s", error.what());
        finish(false);
    } catch (...) {
        qWarning("Shutdown before quitting failed");
        finish(false);
    }
}

void AppQuitPresenter::finish(bool afterTimeout)
{
    if (current == State::quitting) {
        return;
    }
    current = State::quitting;
    timedOut = afterTimeout;
    if (limitHandle != Scheduler::invalidHandle) {
        scheduler.cancel(limitHandle);
        limitHandle = Scheduler::invalidHandle;
    }
    if (afterTimeout) {
        qWarning("Quitting without waiting further for the device session to shut down");
    }
    exit(0);
}

} // namespace tavrik
