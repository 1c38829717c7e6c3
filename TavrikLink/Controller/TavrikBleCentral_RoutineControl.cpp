#include "TavrikLink/Controller/TavrikBleCentral.hpp"

namespace tavrik {

void TavrikBleCentral::sendRoutineCommand(const std::string&)
{
    // Completed with the routine control commands.
}

void TavrikBleCentral::sendPendingClockCommandIfNeeded()
{
    // Completed with the device clock sync.
}

void TavrikBleCentral::sendTagCommand(const std::string&)
{
    // Completed with the routine control and tag commands.
}

} // namespace tavrik
