#pragma once

#include "TavrikUSBFlasher/SerialLink.hpp"

#include <array>
#include <optional>

namespace tavrik {

// A serial port opened for this program alone (TIOCEXCL and flock), raw 8N1 at the given speed.
// Every wait is a ppoll that also wakes for a termination signal and honours the run's deadline.
class PosixSerialPort final : public SerialLink {
public:
    // Retries for about two seconds: udev sets the group of a new node only after creating it. A
    // port that does not exist yet is waited for up to `appearWithin`. `sysfsRoot` tells which USB
    // device is behind the port, so that a reconnect can follow it to another name.
    PosixSerialPort(const std::string& path, int baudRate,
        std::chrono::milliseconds appearWithin = std::chrono::seconds(2), std::string sysfsRoot = "/sys");
    ~PosixSerialPort() override;
    PosixSerialPort(const PosixSerialPort&) = delete;
    PosixSerialPort& operator=(const PosixSerialPort&) = delete;

    void write(const Data& bytes) override;
    Data read(std::chrono::milliseconds timeout) override;
    bool setModemLines(bool dtr, bool rts) override;
    void setBaudRate(int baudRate) override;
    bool reconnect(std::chrono::milliseconds vanish, std::chrono::milliseconds comeBack) override;
    void discardInput() override;
    void pause(std::chrono::milliseconds duration) override;
    Clock::time_point now() const override;
    std::string name() const override { return path_; }

    // Past this point every wait throws DeadlineError with `message`.
    void setDeadline(Clock::time_point deadline, std::string message);

    // Routes the termination signals to a flag that every wait checks; a signal that lands between
    // a check and its wait still ends that wait at once.
    static void installSignalHandling();
    static bool terminationRequested();
    // Throws InterruptedError once a termination signal came.
    static void throwIfTerminationRequested();
    // What the user reads when the port cannot be opened (errno `error`), and what to do about it.
    static std::string openFailureText(const std::string& path, int error);

private:
    // Waits for `events` until `until`; false on time-out. Throws on a signal or the deadline.
    bool waitFor(int fd, short events, Clock::time_point until);
    // Opens, locks and configures the port, retrying until `giveUp` while it is missing and for
    // about two seconds for any other failure.
    void openDevice(Clock::time_point giveUp);
    // The port's node now: its own path, or the node of the same USB device under another name.
    std::optional<std::string> currentNode() const;
    void closeDevice();
    bool deviceGone() const;
    [[noreturn]] void throwFailure(const std::string& what, int error) const;

    std::string path_;
    int baudRate_;
    std::string sysfsRoot_;
    // The USB device behind the port, as sysfs names it; empty when it is none.
    std::string usbDevice_;
    int fd_ = -1;
    std::array<std::uint8_t, 4096> readBuffer_ {};
    std::optional<Clock::time_point> deadline_;
    std::string deadlineMessage_;
};

} // namespace tavrik
