#include "TavrikPlatform/Support/QtScheduler.hpp"

#include <QTimer>

namespace tavrik {

QtScheduler::QtScheduler(QObject* parent)
    : QObject(parent)
{
    elapsed.start();
}

QtScheduler::~QtScheduler()
{
    for (auto& [handle, entry] : pending) {
        delete entry.timer;
    }
}

Scheduler::Handle QtScheduler::schedule(std::chrono::milliseconds delay, std::function<void()> fn)
{
    const Handle handle = nextHandle++;
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    // Coarse timers may fire up to 5% late; the waits here are user-visible time-outs and countdowns.
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, [this, handle] { run(handle); });
    pending.emplace(handle, Pending { timer, std::move(fn) });
    timer->start(std::max(std::chrono::milliseconds(0), delay));
    return handle;
}

void QtScheduler::cancel(Handle handle)
{
    const auto found = pending.find(handle);
    if (found == pending.end()) {
        return;
    }
    found->second.timer->deleteLater();
    pending.erase(found);
}

bool QtScheduler::fireNow(Handle handle)
{
    if (pending.find(handle) == pending.end()) {
        return false;
    }
    run(handle);
    return true;
}

std::chrono::milliseconds QtScheduler::now() const
{
    return std::chrono::milliseconds(elapsed.elapsed());
}

void QtScheduler::run(Handle handle)
{
    const auto found = pending.find(handle);
    if (found == pending.end()) {
        return;
    }
    auto fn = std::move(found->second.fn);
    found->second.timer->stop();
    found->second.timer->deleteLater();
    pending.erase(found);
    fn();
}

} // namespace tavrik
