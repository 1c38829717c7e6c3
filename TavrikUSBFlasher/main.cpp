#include "TavrikUSBFlasher/FlasherCommands.hpp"
#include "TavrikUSBFlasher/PosixSerialPort.hpp"

#include <cerrno>
#include <iostream>

#include <unistd.h>

namespace {

constexpr int failureStatus = 1;
constexpr int usageStatus = 2;
// This computer cannot open the port: the application shows the text as a problem of this
// computer, not of the board.
constexpr int portUnavailableStatus = 3;
constexpr int stoppedStatus = 143;

std::string readStandardInput()
{
    std::string text;
    char buffer[4096];
    while (true) {
        const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (count > 0) {
            text.append(buffer, static_cast<std::size_t>(count));
        } else if (count == 0 || errno != EINTR) {
            return text;
        }
        tavrik::PosixSerialPort::throwIfTerminationRequested();
    }
}

} // namespace

int main(int argc, char** argv)
{
    using namespace tavrik;
    PosixSerialPort::installSignalHandling();
    FlasherEnvironment environment;
    environment.openPort = [](const std::string& port, std::chrono::seconds limit, const std::string& message,
                               std::chrono::seconds appearWithin) {
        auto link = std::make_unique<PosixSerialPort>(port, 115200, appearWithin);
        link->setDeadline(link->now() + limit, message);
        return std::unique_ptr<SerialLink>(std::move(link));
    };
    environment.readStandardInput = readStandardInput;
    environment.readFile = [](const std::string& path, std::uint64_t limit, const std::string& tooLarge) {
        Data bytes = readFileBytes(path, limit, tooLarge);
        PosixSerialPort::throwIfTerminationRequested();
        return bytes;
    };
    environment.output = &std::cout;
    try {
        const FlasherArguments arguments = FlasherArguments::parse(std::vector<std::string>(argv + 1, argv + argc));
        return runFlasherCommand(arguments, environment);
    } catch (const UsageError& error) {
        std::cerr << error.what() << '\n';
        return usageStatus;
    } catch (const PortUnavailableError& error) {
        std::cerr << error.what() << '\n';
        return portUnavailableStatus;
    } catch (const InterruptedError&) {
        // The port was closed and unlocked on the way out.
        std::cerr << "Stopped; the serial port was released.\n";
        return stoppedStatus;
    } catch (const std::exception& error) {
        std::cerr << error.what() << '\n';
        return failureStatus;
    }
}
