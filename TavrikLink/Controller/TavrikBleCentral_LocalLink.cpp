#include "TavrikLink/Controller/TavrikBleCentral.hpp"

namespace tavrik {

void TavrikBleCentral::startVirtualTavrikPolling()
{
    // Completed with the local simulator link.
}

void TavrikBleCentral::pollVirtualTavrikAdvertisingFile()
{
    // Completed with the local simulator link.
}

bool TavrikBleCentral::sendVirtualTavrikCommand(std::string_view, std::string_view)
{
    // Completed with the local simulator link.
    return false;
}

bool TavrikBleCentral::sendVirtualTavrikEncodable(const Json&)
{
    // Completed with the local simulator link.
    return false;
}

} // namespace tavrik
