#pragma once

#include "TavrikUSBProtocol/Support/Data.hpp"

#include <vector>

namespace tavrik {

// One packet framed for the ROM loader: C0, the escaped bytes, C0.
Data slipEncode(const Data& packet);

// Appends `length` bytes escaped for the inside of a frame (no frame ends). Runs without a byte to
// escape are copied whole.
void appendSlipEscaped(Data& out, const std::uint8_t* bytes, std::size_t length);

// Pulls whole frames out of a byte stream. Bytes outside a frame (the ROM's boot text) are skipped,
// empty frames are nothing, and a frame with a broken escape is dropped whole.
class SlipDecoder {
public:
    std::vector<Data> feed(const Data& bytes);
    // True once any byte at all has arrived, frame or not: tells a silent port from a noisy one.
    bool sawBytes() const { return sawBytes_; }

private:
    Data frame_;
    bool inFrame_ = false;
    bool escaping_ = false;
    bool broken_ = false;
    bool sawBytes_ = false;
};

} // namespace tavrik
