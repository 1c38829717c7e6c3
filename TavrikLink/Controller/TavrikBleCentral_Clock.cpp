#include "TavrikLink/Controller/TavrikBleCentral.hpp"

namespace tavrik {

void TavrikBleCentral::handleClockPayload(const Data&)
{
    // Completed with the device clock sync.
}

void TavrikBleCentral::evaluateTimeSyncNeed(const std::optional<DeviceClockSnapshot>&)
{
    // Completed with the device clock sync.
}

} // namespace tavrik
