#pragma once

#include <QObject>

#include <functional>

namespace tavrik {

// Counts the user's key presses, mouse presses, wheel turns and pointer moves (dragging included)
// anywhere in the application, and the application becoming active or another of its windows
// taking focus. Events are only watched, never consumed.
class UserActivityMonitor : public QObject {
    Q_OBJECT
public:
    explicit UserActivityMonitor(std::function<void()> onActivity, QObject* parent = nullptr);
    ~UserActivityMonitor() override;

    // Both may be called again; a running monitor is not installed twice.
    void start();
    void stop();
    bool isRunning() const { return running; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<void()> onActivity;
    bool running = false;
    QMetaObject::Connection stateConnection;
    QMetaObject::Connection focusConnection;
};

} // namespace tavrik
