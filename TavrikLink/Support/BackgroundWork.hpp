#pragma once

#include <functional>

class QObject;

namespace tavrik {

// Work too long for one turn of the window's event loop. `work` runs on a worker thread and must
// touch nothing the window's thread uses meanwhile; `done` then runs on the application's main
// thread at a later turn, and not at all once the receiver is gone. Tests hand in a runner they
// drive by hand.
class BackgroundWork {
public:
    using Run = std::function<void(std::function<void()> work, std::function<void()> done)>;

    // Runs work on Qt's global thread pool, which the application waits for before it ends.
    static Run threadPool(QObject& receiver);
};

} // namespace tavrik
