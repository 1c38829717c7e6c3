#pragma once

#include "TavrikCore/Link/BleWriteType.hpp"
#include "TavrikCore/Support/Data.hpp"

namespace tavrik {

// The link the data channel writes through. Write completions and ready-to-send events do not come
// through here: the link's owner forwards them to the channel.
class BleDataTransport {
public:
    virtual ~BleDataTransport() = default;

    // Whether the link can write without response at all.
    virtual bool supportsWriteWithoutResponse() const = 0;
    // Whether a write without response may be issued right now.
    virtual bool canSendWriteWithoutResponse() const = 0;
    // The largest single write the link accepts for that write type, in bytes.
    virtual int maximumWriteValueLength(BleWriteType type) const = 0;
    virtual void write(const Data& data, BleWriteType type) = 0;
};

} // namespace tavrik
