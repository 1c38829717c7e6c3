#include "TavrikUSBFlasher/PosixSerialPort.hpp"

#include "TavrikUSBFlasher/UsbPortIdentity.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace tavrik {

namespace {

volatile std::sig_atomic_t terminationFlag = 0;
sigset_t terminationSignals;

void onTerminationSignal(int)
{
    terminationFlag = 1;
}

speed_t speedFor(int baudRate)
{
    switch (baudRate) {
    case 9600:
        return B9600;
    case 57600:
        return B57600;
    case 230400:
        return B230400;
    case 460800:
        return B460800;
    case 921600:
        return B921600;
    default:
        return B115200;
    }
}

timespec toTimespec(std::chrono::nanoseconds duration)
{
    if (duration.count() < 0) {
        duration = std::chrono::nanoseconds(0);
    }
    timespec spec {};
    spec.tv_sec = static_cast<time_t>(duration.count() / 1000000000);
    spec.tv_nsec = static_cast<long>(duration.count() % 1000000000);
    return spec;
}

bool meansDisconnected(int error)
{
    return error == EIO || error == ENXIO || error == ENODEV;
}

} // namespace

std::string PosixSerialPort::openFailureText(const std::string& path, int error)
{
    switch (error) {
    case EACCES:
    case EPERM: {
        // The group that may open the port is the node's own: "dialout" on most systems, "uucp" on some.
        std::string group = "dialout";
        struct stat node { };
        if (::stat(path.c_str(), &node) == 0) {
            if (const struct group* entry = ::getgrgid(node.st_gid); entry != nullptr && node.st_gid != 0) {
                group = entry->gr_name;
            }
        }
        return "Cannot open " + path + ": permission denied. Your user is not in the \"" + group
            + "\" group that may use serial ports. Join it with \"sudo usermod -aG " + group
            + " $USER\", log out and log in again (the group counts only from a new login), then try again.";
    }
    case EBUSY:
    case EWOULDBLOCK:
        return "Cannot open " + path + ": the port is in use by another program" + holdersNote(path)
            + ". Close that program, then try again.";
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return "Cannot open " + path + ": the port does not exist. Reconnect the device, then try again.";
    default:
        return "Cannot open " + path + ": " + std::strerror(error) + ".";
    }
}

void PosixSerialPort::installSignalHandling()
{
    sigemptyset(&terminationSignals);
    for (const int signal : { SIGTERM, SIGINT, SIGHUP }) {
        sigaddset(&terminationSignals, signal);
    }
    // No SA_RESTART: a blocking read elsewhere (standard input) returns and sees the flag.
    struct sigaction action { };
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    for (const int signal : { SIGTERM, SIGINT, SIGHUP }) {
        sigaction(signal, &action, nullptr);
    }
    std::signal(SIGPIPE, SIG_IGN);
    // Delivered at any step; waits block them only between their check and ppoll.
    sigprocmask(SIG_UNBLOCK, &terminationSignals, nullptr);
}

void PosixSerialPort::throwIfTerminationRequested()
{
    if (terminationFlag) {
        throw InterruptedError("Stopped on request.");
    }
}

bool PosixSerialPort::terminationRequested()
{
    return terminationFlag != 0;
}

PosixSerialPort::PosixSerialPort(
    const std::string& path, int baudRate, std::chrono::milliseconds appearWithin, std::string sysfsRoot)
    : path_(path)
    , baudRate_(baudRate)
    , sysfsRoot_(std::move(sysfsRoot))
{
    openDevice(now() + appearWithin);
    usbDevice_ = usbDeviceDirectoryOf(path_, sysfsRoot_).value_or("");
}

PosixSerialPort::~PosixSerialPort()
{
    closeDevice();
}

void PosixSerialPort::openDevice(Clock::time_point giveUp)
{
    int lastError = 0;
    std::optional<Clock::time_point> otherFailureGiveUp;
    while (true) {
        fd_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ >= 0) {
            if (::ioctl(fd_, TIOCEXCL) != 0 && errno == EBUSY) {
                lastError = EBUSY;
            } else if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
                lastError = EBUSY;
                ::ioctl(fd_, TIOCNXCL);
            } else {
                break;
            }
            ::close(fd_);
            fd_ = -1;
        } else {
            lastError = errno;
        }
        // A missing node may still come (a board starting its USB); any other failure gets the
        // couple of seconds udev needs to set a new node's group.
        if (lastError != ENOENT && !otherFailureGiveUp) {
            otherFailureGiveUp = std::min(giveUp, now() + std::chrono::seconds(2));
        }
        if (now() >= (lastError == ENOENT ? giveUp : *otherFailureGiveUp)) {
            throw PortUnavailableError(openFailureText(path_, lastError));
        }
        pause(std::chrono::milliseconds(100));
    }

    termios settings {};
    if (::tcgetattr(fd_, &settings) != 0) {
        const int error = errno;
        closeDevice();
        throw std::runtime_error("Cannot use " + path_ + " as a serial port: " + std::strerror(error) + ".");
    }
    ::cfmakeraw(&settings);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS | CSIZE);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    ::cfsetispeed(&settings, speedFor(baudRate_));
    ::cfsetospeed(&settings, speedFor(baudRate_));
    if (::tcsetattr(fd_, TCSANOW, &settings) != 0) {
        const int error = errno;
        closeDevice();
        throw std::runtime_error("Cannot configure " + path_ + ": " + std::strerror(error) + ".");
    }
    ::tcflush(fd_, TCIOFLUSH);
}

void PosixSerialPort::closeDevice()
{
    if (fd_ >= 0) {
        // The exclusive flag outlives the descriptor while anyone else holds the tty open.
        ::ioctl(fd_, TIOCNXCL);
        ::flock(fd_, LOCK_UN);
        ::close(fd_);
        fd_ = -1;
    }
}

void PosixSerialPort::setBaudRate(int baudRate)
{
    termios settings {};
    if (fd_ < 0 || ::tcgetattr(fd_, &settings) != 0) {
        throwFailure("Cannot configure ", fd_ < 0 ? EIO : errno);
    }
    ::cfsetispeed(&settings, speedFor(baudRate));
    ::cfsetospeed(&settings, speedFor(baudRate));
    if (::tcsetattr(fd_, TCSADRAIN, &settings) != 0) {
        throwFailure("Cannot configure ", errno);
    }
    baudRate_ = baudRate;
}

bool PosixSerialPort::deviceGone() const
{
    struct stat node { };
    if (fd_ < 0 || ::stat(path_.c_str(), &node) != 0) {
        return true;
    }
    pollfd entry { fd_, 0, 0 };
    return ::poll(&entry, 1, 0) > 0 && (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

bool PosixSerialPort::reconnect(std::chrono::milliseconds vanish, std::chrono::milliseconds comeBack)
{
    using namespace std::chrono_literals;
    const auto vanished = now() + vanish;
    while (!deviceGone()) {
        if (now() >= vanished) {
            return true;
        }
        pause(20ms);
    }
    // Closed at once: while it is held open, the returning device can get another name.
    closeDevice();
    const auto giveUp = now() + comeBack;
    while (true) {
        if (const auto node = currentNode()) {
            try {
                path_ = *node;
                openDevice(giveUp);
                return true;
            } catch (const InterruptedError&) {
                throw;
            } catch (const DeadlineError&) {
                throw;
            } catch (const std::runtime_error&) {
            }
        }
        if (now() >= giveUp) {
            return false;
        }
        pause(50ms);
    }
}

std::optional<std::string> PosixSerialPort::currentNode() const
{
    struct stat node { };
    if (::stat(path_.c_str(), &node) == 0) {
        return path_;
    }
    // A native USB port can come back under another name (ttyACM0 becomes ttyACM1 while the old
    // node is still held somewhere): follow the device, not the name.
    if (usbDevice_.empty()) {
        return std::nullopt;
    }
    const std::string directory = std::filesystem::path(path_).parent_path().string();
    return portOfUsbDevice(usbDevice_, directory.empty() ? "." : directory, sysfsRoot_);
}

void PosixSerialPort::setDeadline(Clock::time_point deadline, std::string message)
{
    deadline_ = deadline;
    deadlineMessage_ = std::move(message);
}

SerialLink::Clock::time_point PosixSerialPort::now() const
{
    return Clock::now();
}

bool PosixSerialPort::waitFor(int fd, short events, Clock::time_point until)
{
    // A signal that lands between the check and ppoll stays pending and ends ppoll at once.
    sigset_t previous;
    sigprocmask(SIG_BLOCK, &terminationSignals, &previous);
    struct MaskRestorer {
        const sigset_t& mask;
        ~MaskRestorer() { sigprocmask(SIG_SETMASK, &mask, nullptr); }
    } restorer { previous };
    sigset_t waitMask = previous;
    for (const int signal : { SIGTERM, SIGINT, SIGHUP }) {
        sigdelset(&waitMask, signal);
    }
    while (true) {
        throwIfTerminationRequested();
        auto limit = until;
        if (deadline_ && *deadline_ <= limit) {
            limit = *deadline_;
        }
        const auto current = now();
        if (current >= limit) {
            if (deadline_ && current >= *deadline_) {
                throw DeadlineError(deadlineMessage_);
            }
            return false;
        }
        const timespec spec = toTimespec(limit - current);
        pollfd entry { fd, events, 0 };
        const int ready = ::ppoll(fd >= 0 ? &entry : nullptr, fd >= 0 ? 1 : 0, &spec, &waitMask);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw std::runtime_error("Cannot wait for " + path_ + ": " + std::strerror(errno) + ".");
        }
        if (ready > 0) {
            if ((entry.revents & (POLLERR | POLLNVAL)) != 0
                || ((entry.revents & POLLHUP) != 0 && (entry.revents & POLLIN) == 0)) {
                throw DisconnectedError();
            }
            return true;
        }
    }
}

void PosixSerialPort::throwFailure(const std::string& what, int error) const
{
    if (meansDisconnected(error)) {
        throw DisconnectedError();
    }
    throw std::runtime_error(what + path_ + ": " + std::strerror(error) + ".");
}

void PosixSerialPort::write(const Data& bytes)
{
    if (fd_ < 0) {
        throw DisconnectedError();
    }
    std::size_t written = 0;
    const auto giveUp = now() + std::chrono::seconds(5);
    while (written < bytes.size()) {
        const ssize_t count = ::write(fd_, bytes.data() + written, bytes.size() - written);
        if (count > 0) {
            written += static_cast<std::size_t>(count);
            continue;
        }
        if (count < 0 && errno != EAGAIN && errno != EINTR) {
            throwFailure("Cannot write to ", errno);
        }
        if (!waitFor(fd_, POLLOUT, giveUp)) {
            throw std::runtime_error("Cannot write to " + path_ + ": the port does not accept data.");
        }
    }
}

Data PosixSerialPort::read(std::chrono::milliseconds timeout)
{
    if (fd_ < 0) {
        throw DisconnectedError();
    }
    if (!waitFor(fd_, POLLIN, now() + timeout)) {
        return {};
    }
    const ssize_t count = ::read(fd_, readBuffer_.data(), readBuffer_.size());
    if (count < 0) {
        if (errno == EAGAIN || errno == EINTR) {
            return {};
        }
        throwFailure("Cannot read from ", errno);
    }
    return Data(readBuffer_.begin(), readBuffer_.begin() + count);
}

bool PosixSerialPort::setModemLines(bool dtr, bool rts)
{
    int lines = 0;
    if (::ioctl(fd_, TIOCMGET, &lines) != 0) {
        return false;
    }
    lines = dtr ? (lines | TIOCM_DTR) : (lines & ~TIOCM_DTR);
    lines = rts ? (lines | TIOCM_RTS) : (lines & ~TIOCM_RTS);
    return ::ioctl(fd_, TIOCMSET, &lines) == 0;
}

void PosixSerialPort::discardInput()
{
    ::tcflush(fd_, TCIFLUSH);
}

void PosixSerialPort::pause(std::chrono::milliseconds duration)
{
    const auto until = now() + duration;
    while (waitFor(-1, 0, until)) { }
}

} // namespace tavrik
