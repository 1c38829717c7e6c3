#pragma once

#include "TavrikUSBFlasher/FlasherArguments.hpp"
#include "TavrikUSBFlasher/SerialLink.hpp"
#include "TavrikUSBProtocol/Support/Data.hpp"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>

namespace tavrik {

struct FlasherEnvironment {
    // Opens the port, waiting up to `appearWithin` for it to exist; every wait on it fails with
    // DeadlineError(`deadlineMessage`) after `limit`.
    std::function<std::unique_ptr<SerialLink>(const std::string& port, std::chrono::seconds limit,
        const std::string& deadlineMessage, std::chrono::seconds appearWithin)>
        openPort;
    // All of standard input, read to its end.
    std::function<std::string()> readStandardInput;
    // A file's bytes, refused (with `tooLarge` as the text) when it holds more than `limit`.
    std::function<Data(const std::string& path, std::uint64_t limit, const std::string& tooLarge)> readFile;
    // Gets every output line; each is written and flushed at once.
    std::ostream* output = nullptr;
    // Where sysfs tells the USB ids behind a port, which decide how the board is reset.
    std::string sysfsRoot = "/sys";
};

// Runs one subcommand and gives the exit status. Failures are thrown (their text is for the
// user); a hardware probe that reached the board reports its failure as a result line instead.
int runFlasherCommand(const FlasherArguments& arguments, const FlasherEnvironment& environment);

// The password given on standard input: all of it, less exactly one trailing line feed.
std::string passwordFromStandardInput(std::string input);

// All of a regular file's bytes. A directory, a pipe, a device or a file larger than `limit` is
// refused before anything is read (`tooLarge` is the text for the last). Throws std::runtime_error
// with a user text naming the path.
Data readFileBytes(const std::string& path, std::uint64_t limit, const std::string& tooLarge);

} // namespace tavrik
