#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QObject;

namespace tavrik {

// The serial ports that could be a board: USB serial adapters by their name in the device
// directory. Built-in serial ports (ttyS*) and pseudo-terminals are never candidates.
class UsbSerialPorts {
public:
    UsbSerialPorts() = delete;

    static bool isCandidateName(std::string_view name);
    // Full paths of the candidates in `directory`, in plain string order; empty when the directory
    // cannot be read.
    static std::vector<std::string> list(const std::string& directory = "/dev");
    // Calls onChange (from the event loop) whenever `directory` changes; the watch lasts as long as
    // the returned object. Nothing when the directory cannot be watched.
    static std::unique_ptr<QObject> watch(const std::string& directory, std::function<void()> onChange);
};

} // namespace tavrik
