#pragma once

#include "TavrikCore/Support/Scheduler.hpp"

#include <QElapsedTimer>
#include <QObject>

#include <map>

class QTimer;

namespace tavrik {

// The application's scheduler: single-shot timers on the thread's Qt event loop.
class QtScheduler final : public QObject, public Scheduler {
    Q_OBJECT
public:
    explicit QtScheduler(QObject* parent = nullptr);
    ~QtScheduler() override;

    Handle schedule(std::chrono::milliseconds delay, std::function<void()> fn) override;
    void cancel(Handle handle) override;
    bool fireNow(Handle handle) override;
    std::chrono::milliseconds now() const override;

private:
    struct Pending {
        QTimer* timer;
        std::function<void()> fn;
    };
    void run(Handle handle);

    std::map<Handle, Pending> pending;
    Handle nextHandle = 1;
    QElapsedTimer elapsed;
};

} // namespace tavrik
