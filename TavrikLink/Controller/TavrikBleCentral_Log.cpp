#include "TavrikLink/Controller/TavrikBleCentral.hpp"

namespace tavrik {

void TavrikBleCentral::appendLog(const std::string& text, bool allowDuplicates)
{
    log_.append(text, allowDuplicates);
}

void TavrikBleCentral::appendBleDataLog(const BleDataMessageLogDetail& detail)
{
    // Every inbound chunk shows the device is still sending: a running load gets another full wait.
    if (detail.direction == BleDataMessageLogDetail::Direction::inbound && sessionMode_ == SyncMode::load
        && claims_.isArmed(LinkClaim::load)) {
        armSyncBound();
    }
    log_.appendTransfer(detail);
}

void TavrikBleCentral::clearLog()
{
    log_.clear();
}

} // namespace tavrik
