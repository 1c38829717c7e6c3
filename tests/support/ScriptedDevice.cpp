#include "tests/support/ScriptedDevice.hpp"

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
    std::vector<Json> messages;
    for (const std::string& text : texts) {
        Json value = Json::parse(text, nullptr, false);
        if (value.is_object()) {
            messages.push_back(std::move(value));
        }
    }
    return messages;
}

std::optional<Json> ScriptedDevice::lastReceived(std::string_view type) const
{
    std::optional<Json> found;
    for (const Json& message : receivedJson()) {
        if (message.value("type", "") == type) {
            found = message;
        }
    }
    return found;
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
    const std::string text = dumpJson(message);
    const std::size_t chunkSize = static_cast<std::size_t>(writeLength) - frameOverhead - 4;
    const std::size_t count = (text.size() + chunkSize - 1) / chunkSize;
    const std::uint16_t messageId = nextReliableId++;
    std::vector<Data> frames;
    for (std::size_t index = 0; index < count; ++index) {
        Data payload {
            static_cast<std::uint8_t>(session & 0xFFU),
            static_cast<std::uint8_t>((session >> 8) & 0xFFU),
            static_cast<std::uint8_t>((session >> 16) & 0xFFU),
            static_cast<std::uint8_t>(session >> 24),
        };
        const std::string_view chunk = std::string_view(text).substr(index * chunkSize, chunkSize);
        payload.insert(payload.end(), chunk.begin(), chunk.end());
        frames.push_back(makeFrame(BleDataChannel::reliableFlags, messageId, static_cast<std::uint16_t>(index),
            static_cast<std::uint16_t>(count), payload));
    }
    return frames;
}

} // namespace tavrik::test
