#include "tests/support/qt/FakeTavrik.hpp"

#include "TavrikCore/Link/BleDataFrame.hpp"

namespace tavrik::test {

// The device's side of the data characteristic: each frame it writes becomes a notification, and
// the write is answered on the next turn.
class FakeTavrik::NotifyTransport final : public BleDataTransport {
public:
    NotifyTransport(ManualScheduler& scheduler, FakeBlePeripheral& radio, BleDataChannel& channel)
        : scheduler(scheduler)
        , radio(radio)
        , channel(channel)
    {
    }

    bool supportsWriteWithoutResponse() const override { return false; }
    bool canSendWriteWithoutResponse() const override { return false; }
    int maximumWriteValueLength(BleWriteType) const override { return radio.maximumWriteLength; }
    void write(const Data& data, BleWriteType type) override
    {
        radio.notify(data);
        if (type == BleWriteType::withResponse) {
            scheduler.schedule(std::chrono::milliseconds(0), [this] { channel.handleWriteResponse(); });
        }
    }

private:
    ManualScheduler& scheduler;
    FakeBlePeripheral& radio;
    BleDataChannel& channel;
};

FakeTavrik::FakeTavrik(ManualScheduler& scheduler, FakeBleCentral& central, TavrikBleProtocolProfile profile,
    std::optional<std::string> name)
    : scheduler(scheduler)
    , profile(profile)
    , radio(std::make_shared<FakeBlePeripheral>(scheduler, "AA:BB:CC:DD:EE:01", std::move(name)))
    , channel([](const std::string&) {}, random)
{
    radio->offerProfile(profile);
    central.addPeripheral(radio);
    transport = std::make_shared<NotifyTransport>(scheduler, *radio, channel);
    channel.configure(transport);
    channel.onMessage = [this](std::uint16_t, const Data& payload) { receive(payload); };
    radio->onWrite = [this](const FakeBlePeripheral::Write& write) {
        if (write.characteristic.uuid == dataCharacteristicUUID(this->profile)) {
            channel.handleIncoming(write.data);
        }
    };
    data.dataVersion = 9;
    data.firmwareVersion = "1.4.0";
    data.hardwareTarget = "m5stick-s3";
}

void FakeTavrik::send(const Json& message, std::optional<bool> reliable)
{
    if (silent) {
        return;
    }
    if (!reliable.value_or(delivery.has_value()) || !delivery) {
        channel.sendEncodable(message);
        return;
    }
    const std::string text = dumpJson(message);
    const std::size_t chunkSize = static_cast<std::size_t>(radio->maximumWriteLength) - frameOverhead - 4;
    const std::size_t count = (text.size() + chunkSize - 1) / chunkSize;
    const std::uint16_t messageId = nextReliableId++;
    const std::uint32_t session = delivery->session;
    for (std::size_t index = 0; index < count; ++index) {
        Data payload {
            static_cast<std::uint8_t>(session & 0xFFU),
            static_cast<std::uint8_t>((session >> 8) & 0xFFU),
            static_cast<std::uint8_t>((session >> 16) & 0xFFU),
            static_cast<std::uint8_t>(session >> 24),
        };
        const std::string_view chunk = std::string_view(text).substr(index * chunkSize, chunkSize);
        payload.insert(payload.end(), chunk.begin(), chunk.end());
        radio->notify(makeFrame(BleDataChannel::reliableFlags, messageId, static_cast<std::uint16_t>(index),
            static_cast<std::uint16_t>(count), payload));
    }
}

void FakeTavrik::sendPayload(const Data& payload)
{
    if (!silent) {
        radio->notify(makeFrame(BleDataChannel::plainFlags, nextPlainId++, 0, 1, payload));
    }
}

std::vector<Json> FakeTavrik::receivedJson() const
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

std::optional<Json> FakeTavrik::lastReceived(std::string_view type) const
{
    std::optional<Json> found;
    for (const Json& message : receivedJson()) {
        if (message.value("type", "") == type) {
            found = message;
        }
    }
    return found;
}

std::vector<std::string> FakeTavrik::receivedCommands() const
{
    std::vector<std::string> commands;
    for (const std::string& text : texts) {
        if (!text.empty() && text.front() != '{') {
            commands.push_back(text);
        }
    }
    return commands;
}

void FakeTavrik::receive(const Data& payload)
{
    const std::string text = stringFromData(payload);
    const Json message = Json::parse(text, nullptr, false);
    if (message.is_object() && message.value("type", "") == "ble_ack") {
        return;
    }
    texts.push_back(text);
    if (silent) {
        return;
    }
    if (!message.is_object()) {
        const auto colon = text.find(':');
        if (colon != std::string::npos && answerCommand) {
            for (const Json& answer : answerCommand(text.substr(0, colon), text.substr(colon + 1))) {
                send(answer);
            }
        }
        return;
    }
    const std::string type = message.value("type", "");
    if (type == "sync_start") {
        syncStart = syncStartEnvelopeFromJson(message);
        delivery = syncStart->delivery;
        if (answerSyncStart) {
            answerSyncStartMessage(*syncStart);
        }
    } else if (type == "sync_restore") {
        restore = syncRestoreEnvelopeFromJson(message);
        if (answerRestore) {
            send({ { "type", "sync_done" }, { "mode", "restore" }, { "code", restore->code } });
        }
    }
}

void FakeTavrik::answerSyncStartMessage(const SyncStartEnvelope& start)
{
    if (sendWaitingFirst) {
        send({ { "type", "sync_waiting" }, { "mode", start.mode }, { "code", start.code } });
    }
    send({ { "type", "sync_ready" }, { "mode", start.mode }, { "code", start.code } });
    if (stopAfterReady || start.mode != "load") {
        return;
    }
    if (sendSyncData) {
        send(syncDataJson ? *syncDataJson : Json(toJson(data)));
    }
    send({ { "type", "sync_done" }, { "mode", start.mode }, { "code", start.code } });
}

} // namespace tavrik::test
