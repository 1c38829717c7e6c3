#include "tests/support/usbboard/SimulatedBoardLink.hpp"

namespace tavrik {

SimulatedBoardLink::SimulatedBoardLink(SimulatedUsbBoard& board, std::unique_ptr<PosixSerialPort> port)
    : board_(board)
    , port_(std::move(port))
{
}

void SimulatedBoardLink::write(const Data& bytes)
{
    port_->write(bytes);
}

Data SimulatedBoardLink::read(std::chrono::milliseconds timeout)
{
    return port_->read(timeout);
}

bool SimulatedBoardLink::setModemLines(bool dtr, bool rts)
{
    board_.setModemLines(dtr, rts);
    return true;
}

void SimulatedBoardLink::setBaudRate(int baudRate)
{
    port_->setBaudRate(baudRate);
}

bool SimulatedBoardLink::reconnect(std::chrono::milliseconds vanish, std::chrono::milliseconds comeBack)
{
    return port_->reconnect(vanish, comeBack);
}

void SimulatedBoardLink::discardInput()
{
    port_->discardInput();
}

void SimulatedBoardLink::pause(std::chrono::milliseconds duration)
{
    port_->pause(duration);
}

SerialLink::Clock::time_point SimulatedBoardLink::now() const
{
    return port_->now();
}

std::string SimulatedBoardLink::name() const
{
    return port_->name();
}

FlasherEnvironment simulatedBoardEnvironment(
    SimulatedUsbBoard& board, std::ostream& output, const std::string& sysfsRoot, bool modemLines)
{
    FlasherEnvironment environment;
    environment.openPort
        = [&board, modemLines, sysfsRoot](const std::string& port, std::chrono::seconds limit,
              const std::string& message, std::chrono::seconds appearWithin) -> std::unique_ptr<SerialLink> {
        auto serial = std::make_unique<PosixSerialPort>(port, 115200, appearWithin, sysfsRoot);
        serial->setDeadline(serial->now() + limit, message);
        if (!modemLines) {
            return serial;
        }
        return std::make_unique<SimulatedBoardLink>(board, std::move(serial));
    };
    environment.readStandardInput = [] { return std::string(); };
    environment.readFile = readFileBytes;
    environment.output = &output;
    environment.sysfsRoot = sysfsRoot;
    return environment;
}

} // namespace tavrik
