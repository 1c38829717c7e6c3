#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <functional>

namespace tavrik::test {

// For tests of real Qt I/O (sockets, processes, D-Bus): runs the event loop until the condition
// holds or the deadline passes. Time-driven logic uses ManualScheduler instead.
inline bool processEventsUntil(const std::function<bool()>& condition, int timeoutMs = 10000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

} // namespace tavrik::test
