#include "TavrikLink/Ui/UnixSignalNotifier.hpp"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace tavrik {

namespace {
// The write end, for the handler; -1 while no notifier exists.
volatile std::sig_atomic_t signalWriteSocket = -1;
} // namespace

UnixSignalNotifier::UnixSignalNotifier(const std::vector<int>& signalNumbers, QObject* parent)
    : QObject(parent)
{
    if (signalWriteSocket != -1) {
        throw std::logic_error("only one UnixSignalNotifier may exist at a time");
    }
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0) {
        throw std::runtime_error(std::string("socketpair failed: ") + std::strerror(errno));
    }
    // A burst of signals must never block the handler; extra bytes are simply dropped.
    ::fcntl(sockets[0], F_SETFL, ::fcntl(sockets[0], F_GETFL) | O_NONBLOCK);
    ::fcntl(sockets[1], F_SETFL, ::fcntl(sockets[1], F_GETFL) | O_NONBLOCK);
    signalWriteSocket = sockets[0];

    notifier = new QSocketNotifier(sockets[1], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &UnixSignalNotifier::readPending);

    for (const int signalNumber : signalNumbers) {
        struct sigaction action { };
        action.sa_handler = &UnixSignalNotifier::handle;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        struct sigaction old { };
        if (::sigaction(signalNumber, &action, &old) == 0) {
            previous.emplace(signalNumber, old);
        }
    }
}

UnixSignalNotifier::~UnixSignalNotifier()
{
    for (const auto& [signalNumber, old] : previous) {
        ::sigaction(signalNumber, &old, nullptr);
    }
    signalWriteSocket = -1;
    delete notifier;
    ::close(sockets[0]);
    ::close(sockets[1]);
}

void UnixSignalNotifier::handle(int signalNumber)
{
    const int savedErrno = errno;
    const int socket = signalWriteSocket;
    if (socket != -1) {
        const unsigned char byte = static_cast<unsigned char>(signalNumber);
        [[maybe_unused]] const auto written = ::write(socket, &byte, 1);
    }
    errno = savedErrno;
}

void UnixSignalNotifier::readPending()
{
    unsigned char buffer[64];
    for (;;) {
        const auto count = ::read(sockets[1], buffer, sizeof buffer);
        if (count <= 0) {
            break;
        }
        for (ssize_t i = 0; i < count; ++i) {
            emit signalReceived(buffer[i]);
        }
    }
}

} // namespace tavrik
