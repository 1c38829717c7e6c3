#pragma once

#include "TavrikCore/Support/Uuid.hpp"

#include <string>

namespace tavrik {

// Tells the user a newer compatible release exists; every notice gets a fresh id.
struct FirmwareUpdateNotice {
    FirmwareUpdateNotice(std::string version, std::string message);

    Uuid id;
    std::string version;
    std::string message;

    friend bool operator==(const FirmwareUpdateNotice&, const FirmwareUpdateNotice&) = default;
};

} // namespace tavrik
