#include "TavrikCore/Firmware/FirmwareUpdateNotice.hpp"

#include <utility>

namespace tavrik {

FirmwareUpdateNotice::FirmwareUpdateNotice(std::string version, std::string message)
    : id(Uuid::make())
    , version(std::move(version))
    , message(std::move(message))
{
}

} // namespace tavrik
