#pragma once

#include <QObject>

#include <csignal>
#include <map>
#include <vector>

class QSocketNotifier;

namespace tavrik {

// Turns Unix signals into a Qt signal on the event loop: the handler only writes the signal's
// number into a pipe, which the loop reads. One instance at a time; the previous handlers come
// back when it is destroyed.
class UnixSignalNotifier : public QObject {
    Q_OBJECT
public:
    explicit UnixSignalNotifier(const std::vector<int>& signalNumbers, QObject* parent = nullptr);
    ~UnixSignalNotifier() override;

    UnixSignalNotifier(const UnixSignalNotifier&) = delete;
    UnixSignalNotifier& operator=(const UnixSignalNotifier&) = delete;

signals:
    void signalReceived(int signalNumber);

private:
    static void handle(int signalNumber);
    void readPending();

    int sockets[2] { -1, -1 };
    QSocketNotifier* notifier = nullptr;
    std::map<int, struct sigaction> previous;
};

} // namespace tavrik
