#include "TavrikLink/Ui/UserActivityMonitor.hpp"

#include <QEvent>
#include <QGuiApplication>
#include <QWindow>

namespace tavrik {

UserActivityMonitor::UserActivityMonitor(std::function<void()> onActivity, QObject* parent)
    : QObject(parent)
    , onActivity(std::move(onActivity))
{
}

UserActivityMonitor::~UserActivityMonitor()
{
    stop();
}

void UserActivityMonitor::start()
{
    if (running || !QCoreApplication::instance()) {
        return;
    }
    running = true;
    QCoreApplication::instance()->installEventFilter(this);
    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        stateConnection
            = connect(gui, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
                  if (state == Qt::ApplicationActive && onActivity) {
                      onActivity();
                  }
              });
        focusConnection = connect(gui, &QGuiApplication::focusWindowChanged, this, [this](QWindow* window) {
            if (window && onActivity) {
                onActivity();
            }
        });
    }
}

void UserActivityMonitor::stop()
{
    if (!running) {
        return;
    }
    running = false;
    if (QCoreApplication::instance()) {
        QCoreApplication::instance()->removeEventFilter(this);
    }
    disconnect(stateConnection);
    disconnect(focusConnection);
}

bool UserActivityMonitor::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::MouseMove:
        // Each input event reaches the window first and then the widget under it; the window sees
        // every pointer move whether or not a widget tracks the mouse, so it alone is counted.
        if (watched->isWindowType() && onActivity) {
            onActivity();
        }
        break;
    default:
        break;
    }
    return false;
}

} // namespace tavrik
