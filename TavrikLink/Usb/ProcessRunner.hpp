#pragma once

#include "TavrikCore/Support/Data.hpp"
#include "TavrikLink/Usb/UsbError.hpp"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tavrik {

// How one helper run ended: its output, or the error.
struct UsbRunOutcome {
    std::optional<std::string> output;
    std::optional<UsbError> error;

    bool succeeded() const { return output.has_value(); }
    static UsbRunOutcome success(std::string text) { return { std::move(text), std::nullopt }; }
    static UsbRunOutcome failure(UsbError error) { return { std::nullopt, std::move(error) }; }
};

using UsbRunCompletion = std::function<void(UsbRunOutcome)>;
using UsbLineCallback = std::function<void(const std::string&)>;
// Stops what was started; the completion still arrives (a terminated helper is a failed run). For
// a helper run the first call asks it to stop (SIGTERM) and a further call kills it (SIGKILL).
using UsbCancel = std::function<void()>;

// Runs the USB helper as a child process with an argument list (never a shell) on the Qt event
// loop. The completion is called exactly once, always from the event loop, never inside the call.
// A non-zero exit status, or death by a signal, fails with a "TavrikLinkProcess" error whose code
// is the status (128 + the signal number for a signal).
class ProcessRunner {
public:
    ProcessRunner() = delete;

    // Collects both outputs until the helper ends. Standard input, when given, is written and then
    // closed; without it the helper reads the null device.
    static UsbCancel run(const std::string& executable, const std::vector<std::string>& arguments,
        std::optional<Data> standardInput, UsbRunCompletion completion);

    // Hands every LF-terminated line of either pipe to onLine as it arrives; the result is all
    // lines of both pipes, in arrival order, less progress and verification lines.
    static UsbCancel runStreaming(const std::string& executable, const std::vector<std::string>& arguments,
        UsbLineCallback onLine, UsbRunCompletion completion);

    // Drops empty lines and "USB_FLASH_PROGRESS " / "USB_FLASH_VERIFIED " lines.
    static std::string cleanProcessOutput(const std::string& output);
};

// Splits at LF (a CR before it goes too) and drops empty lines.
std::vector<std::string> splitUsbOutputLines(const std::string& text);

} // namespace tavrik
