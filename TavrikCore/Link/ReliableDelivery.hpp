#pragma once

#include "TavrikCore/Support/Data.hpp"
#include "TavrikCore/Support/Json.hpp"

#include <cstdint>
#include <string>

namespace tavrik {

// What the application offers the device in its sync start on the secure profile. The channel does not
// use `window` itself; it only travels to the device.
struct ReliableDeliveryOffer {
    int version = 1;
    std::uint32_t session = 0;
    int window = 4;

    bool operator==(const ReliableDeliveryOffer&) const = default;
};

Json toJson(const ReliableDeliveryOffer& offer);
// The offer as a device or simulator reads it from a sync start.
ReliableDeliveryOffer reliableDeliveryOfferFromJson(const Json& object);

// Tells the device how many leading chunks of a message have arrived, i.e. which chunk it needs next
// (the chunk count once the message is complete).
struct ReliableDeliveryAcknowledgement {
    std::string type = "ble_ack";
    std::uint32_t session = 0;
    std::uint16_t messageId = 0;
    std::uint16_t nextChunk = 0;

    bool operator==(const ReliableDeliveryAcknowledgement&) const = default;
};

Json toJson(const ReliableDeliveryAcknowledgement& acknowledgement);

// The same bytes as dumping `toJson(acknowledgement)`, without building a JSON tree: a long reliable
// message is acknowledged every few chunks, so this sits on the receive path.
Data encodeAcknowledgement(const ReliableDeliveryAcknowledgement& acknowledgement);

} // namespace tavrik
