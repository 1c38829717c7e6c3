#include "TavrikLink/Support/BackgroundWork.hpp"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QThreadPool>

#include <utility>

namespace tavrik {

BackgroundWork::Run BackgroundWork::threadPool(QObject& receiver)
{
    const QPointer<QObject> target(&receiver);
    return [target](std::function<void()> work, std::function<void()> done) {
        QThreadPool::globalInstance()->start([target, work = std::move(work), done = std::move(done)]() mutable {
            work();
            // The application outlives the pool's threads; whether the receiver is still there is
            // asked only on the main thread, where it could be deleted.
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [target, done = std::move(done)] {
                    if (target) {
                        done();
                    }
                },
                Qt::QueuedConnection);
        });
    };
}

} // namespace tavrik
