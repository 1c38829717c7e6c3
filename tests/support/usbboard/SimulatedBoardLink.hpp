#pragma once

#include "TavrikUSBFlasher/FlasherCommands.hpp"
#include "TavrikUSBFlasher/PosixSerialPort.hpp"
#include "tests/support/usbboard/SimulatedUsbBoard.hpp"

#include <memory>
#include <ostream>
#include <string>

namespace tavrik {

// The helper's own serial port to a simulated board, plus what a pseudo-terminal cannot carry:
// DTR and RTS go to the board's reset wiring.
class SimulatedBoardLink final : public SerialLink {
public:
    SimulatedBoardLink(SimulatedUsbBoard& board, std::unique_ptr<PosixSerialPort> port);

    void write(const Data& bytes) override;
    Data read(std::chrono::milliseconds timeout) override;
    bool setModemLines(bool dtr, bool rts) override;
    void setBaudRate(int baudRate) override;
    bool reconnect(std::chrono::milliseconds vanish, std::chrono::milliseconds comeBack) override;
    void discardInput() override;
    void pause(std::chrono::milliseconds duration) override;
    Clock::time_point now() const override;
    std::string name() const override;

private:
    SimulatedUsbBoard& board_;
    std::unique_ptr<PosixSerialPort> port_;
};

// Runs the helper's subcommands in this process against `board`: its ports carry the modem lines
// when `modemLines` is set, and lines printed go to `output`.
FlasherEnvironment simulatedBoardEnvironment(
    SimulatedUsbBoard& board, std::ostream& output, const std::string& sysfsRoot, bool modemLines = true);

} // namespace tavrik
