#include "TavrikCore/Link/BleDataMessageLogDetail.hpp"

namespace tavrik {

std::string_view rawValue(BleDataMessageLogDetail::Direction direction)
{
    switch (direction) {
    case BleDataMessageLogDetail::Direction::inbound:
        return "inbound";
    case BleDataMessageLogDetail::Direction::outbound:
        return "outbound";
    }
    return "inbound";
}

} // namespace tavrik
