#pragma once

#include "TavrikCore/Link/BleDataChannel.hpp"
#include "TavrikCore/Support/Data.hpp"
#include "TavrikCore/Support/Json.hpp"
#include "tests/support/InMemoryBleTransport.hpp"
#include "tests/support/SequenceRandomSource.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrik::test {

// A Tavrik on the far side of a physical link, for a session host: it reads the frames the
// application writes with a data channel of its own and answers with frames, plain or with reliable
// delivery.
class ScriptedDevice {
public:
    explicit ScriptedDevice(int writeLength = 185);

    // Feeds frames the application wrote to the device's channel.
    void receiveFrames(const std::vector<Data>& frames);
    // Keeps only the newest received messages.
    void keepNewest(std::size_t count);
    // Whole messages the device has received, in order, as text.
    const std::vector<std::string>& receivedTexts() const { return texts; }
    // The received messages that are JSON objects.
    std::vector<Json> receivedJson() const;
    // The last received JSON message of the type.
    std::optional<Json> lastReceived(std::string_view type) const;
    void forgetReceived() { texts.clear(); }

    // Frames of one message as the device notifies it: plain, through the device's channel.
    std::vector<Data> framesFor(const Json& message);
    // Frames of one message with reliable delivery for the session number the app offered.
    std::vector<Data> reliableFramesFor(const Json& message, std::uint32_t session);

    int writeLength;

private:
    std::shared_ptr<InMemoryBleTransport> notifications = std::make_shared<InMemoryBleTransport>();
    SequenceRandomSource random { { 5 } };
    BleDataChannel channel;
    std::vector<std::string> texts;
    std::uint16_t nextReliableId = 40000;
};

} // namespace tavrik::test
