#pragma once

#include <stdexcept>
#include <string>

namespace tavrik {

// An error of the "TavrikLinkFirmware" family: what() is the text shown to the user, code tells
// the cases apart.
class TavrikLinkFirmwareError : public std::runtime_error {
public:
    static constexpr const char* domain = "TavrikLinkFirmware";

    TavrikLinkFirmwareError(int code, const std::string& message)
        : std::runtime_error(message)
        , errorCode(code)
    {
    }

    int code() const { return errorCode; }

private:
    int errorCode;
};

} // namespace tavrik
