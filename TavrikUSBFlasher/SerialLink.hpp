#pragma once

#include "TavrikUSBProtocol/Support/Data.hpp"

#include <chrono>
#include <stdexcept>
#include <string>

namespace tavrik {

// The byte pipe to a board. The protocol code above it is deterministic; everything that touches
// time or the device goes through here so tests can replace it.
class SerialLink {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~SerialLink() = default;

    virtual void write(const Data& bytes) = 0;
    // Whatever arrives within `timeout`; empty when nothing did.
    virtual Data read(std::chrono::milliseconds timeout) = 0;
    // Drives DTR and RTS (true = asserted). False when the port has no modem lines, as on a
    // pseudo-terminal; that is not an error.
    virtual bool setModemLines(bool dtr, bool rts) = 0;
    // Changes the line speed once what was written has left.
    virtual void setBaudRate(int baudRate) = 0;
    // After a reset that can drop a USB device off the bus: waits up to `vanish` for the port to go
    // (not at all when it already went); once gone, waits up to `comeBack` for it to return and
    // opens it again at the same speed. False when it went and did not come back in time.
    virtual bool reconnect(std::chrono::milliseconds vanish, std::chrono::milliseconds comeBack) = 0;
    virtual void discardInput() = 0;
    virtual void pause(std::chrono::milliseconds duration) = 0;
    virtual Clock::time_point now() const = 0;
    // The port's name for messages.
    virtual std::string name() const = 0;
};

// The run was asked to stop (SIGTERM, SIGINT, SIGHUP).
class InterruptedError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The device went away under an open port: unplugged, or its USB connection dropped.
class DisconnectedError : public std::runtime_error {
public:
    DisconnectedError()
        : std::runtime_error("The board was disconnected.")
    {
    }
};

// This computer cannot open the port (permission, another program, no such node): no fault of the
// board. The helper exits with its own status for it.
class PortUnavailableError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A whole subcommand ran past its own time-out.
class DeadlineError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace tavrik
