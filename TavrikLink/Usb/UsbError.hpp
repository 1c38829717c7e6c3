#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace tavrik {

// A failure of a USB operation: what() is the user text, the domain and code say where it came from
// ("TavrikLinkProcess" with the helper's exit status, "TavrikLinkFirmware", "TavrikLinkUSB").
class UsbError : public std::runtime_error {
public:
    UsbError(std::string domain, std::int64_t code, const std::string& description)
        : std::runtime_error(description)
        , errorDomain(std::move(domain))
        , errorCode(code)
    {
    }

    static UsbError cancellation() { return UsbError(cancellationDomain, 1, "The operation was cancelled."); }

    const std::string& domain() const { return errorDomain; }
    std::int64_t code() const { return errorCode; }
    std::string description() const { return what(); }
    bool isCancellation() const { return errorDomain == cancellationDomain; }

    static constexpr const char* processDomain = "TavrikLinkProcess";
    static constexpr const char* firmwareDomain = "TavrikLinkFirmware";
    static constexpr const char* usbDomain = "TavrikLinkUSB";
    static constexpr const char* cancellationDomain = "Cancellation";

private:
    std::string errorDomain;
    std::int64_t errorCode;
};

} // namespace tavrik
