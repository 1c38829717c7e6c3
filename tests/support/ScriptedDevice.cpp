#include "tests/support/ScriptedDevice.hpp"

#include "tests/support/ReceivedMessages.hpp"
#include "tests/support/ReliableFrames.hpp"

#include "TavrikCore/Link/BleDataFrame.hpp"

#include <stdexcept>

namespace tavrik::test {

ScriptedDevice::ScriptedDevice(int writeLength)
    : writeLength(writeLength)
    , channel([](const std::string&) {}, random)
{
    notifications->setMaximumWriteLength(writeLength);
    notifications->bind(&channel);
    channel.configure(notifications);
    channel.onMessage = [this](std::uint16_t, const Data& payload) { texts.push_back(stringFromData(payload)); };
}

void ScriptedDevice::receiveFrames(const std::vector<Data>& frames)
{
    for (const Data& frame : frames) {
        channel.handleIncoming(frame);
    }
}

void ScriptedDevice::keepNewest(std::size_t count)
{
    if (texts.size() > count) {
        texts.erase(texts.begin(), texts.end() - static_cast<std::ptrdiff_t>(count));
    }
}

std::vector<Json> ScriptedDevice::receivedJson() const
{
    return jsonMessages(texts);
}

std::optional<Json> ScriptedDevice::lastReceived(std::string_view type) const
{
    return lastMessageOfType(texts, type);
}

std::vector<Data> ScriptedDevice::framesFor(const Json& message)
{
    notifications->setMaximumWriteLength(writeLength);
    notifications->clearWrites();
    if (!channel.sendEncodable(message)) {
        throw std::runtime_error("the device could not send its message");
    }
    notifications->completeAllWrites();
    std::vector<Data> frames = notifications->frames();
    notifications->clearWrites();
    return frames;
}

std::vector<Data> ScriptedDevice::reliableFramesFor(const Json& message, std::uint32_t session)
{
    return reliableFrames(dumpJson(message), session, nextReliableId++, writeLength);
}

} // namespace tavrik::test
