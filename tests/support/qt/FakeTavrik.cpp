#include "tests/support/qt/FakeTavrik.hpp"

#include "tests/support/ReceivedMessages.hpp"
#include "tests/support/ReliableFrames.hpp"

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
            // A device replaced or gone before the answer is due answers nothing.
            scheduler.schedule(std::chrono::milliseconds(0), [this, token = alive] {
                if (*token) {
                    channel.handleWriteResponse();
                }
            });
        }
    }

    ~NotifyTransport() override { *alive = false; }

private:
    ManualScheduler& scheduler;
    FakeBlePeripheral& radio;
    BleDataChannel& channel;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
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
        } else if (write.characteristic.uuid == firmwareCharacteristicUUID(this->profile)) {
            receiveFirmwareChunk(write.data);
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
    for (const Data& frame :
        reliableFrames(dumpJson(message), delivery->session, nextReliableId++, radio->maximumWriteLength)) {
        radio->notify(frame);
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
    return jsonMessages(texts);
}

std::optional<Json> FakeTavrik::lastReceived(std::string_view type) const
{
    return lastMessageOfType(texts, type);
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
    } else if (takesFirmware && type.starts_with("firmware_")) {
        receiveFirmwareMessage(type, message);
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

void FakeTavrik::sendFirmwareStatus(Json status)
{
    Json message = { { "type", "firmware_status" } };
    message.update(status);
    // Status reports go out plain: a transfer may run on a connection that never began a sync.
    send(message, false);
}

void FakeTavrik::receiveFirmwareMessage(const std::string& type, const Json& message)
{
    if (type == "firmware_begin") {
        image.clear();
        chunksReceived = 0;
        if (message.value("hardwareTarget", "") != data.hardwareTarget) {
            firmwareBegin.reset();
            sendFirmwareStatus({ { "state", "error" }, { "message", "Firmware is for another board" } });
            return;
        }
        firmwareBegin = message;
        sendFirmwareStatus({ { "state", "ready" }, { "nextChunkIndex", 0 }, { "ackIntervalChunks", firmwareAckInterval },
            { "expectedBytes", message.value("size", std::int64_t { 0 }) }, { "receivedBytes", 0 } });
    } else if (type == "firmware_commit") {
        if (!firmwareBegin
            || static_cast<std::int64_t>(image.size()) != firmwareBegin->value("size", std::int64_t { -1 })) {
            sendFirmwareStatus({ { "state", "error" }, { "message", "Firmware image incomplete" } });
            return;
        }
        installed = true;
        const std::string version = firmwareInstalledVersion.value_or(firmwareBegin->value("version", ""));
        firmwareBegin.reset();
        data.firmwareVersion = version;
        sendFirmwareStatus({ { "state", "complete" }, { "version", version },
            { "receivedBytes", static_cast<std::int64_t>(image.size()) }, { "chunksReceived", chunksReceived } });
    } else if (type == "firmware_abort") {
        firmwareBegin.reset();
    }
}

void FakeTavrik::receiveFirmwareChunk(const Data& chunk)
{
    if (silent || !firmwareBegin) {
        return;
    }
    const auto word = [&](std::size_t at) {
        return static_cast<std::uint32_t>(chunk[at]) | (static_cast<std::uint32_t>(chunk[at + 1]) << 8)
            | (static_cast<std::uint32_t>(chunk[at + 2]) << 16) | (static_cast<std::uint32_t>(chunk[at + 3]) << 24);
    };
    if (chunk.size() <= 8 || word(0) != chunksReceived || word(4) != image.size()) {
        firmwareBegin.reset();
        sendFirmwareStatus({ { "state", "error" }, { "message", "Firmware chunk out of order" } });
        return;
    }
    image.insert(image.end(), chunk.begin() + 8, chunk.end());
    const std::int64_t index = chunksReceived++;
    if (onFirmwareChunk) {
        onFirmwareChunk(index);
    }
    if (silent || !firmwareBegin) {
        return;
    }
    const auto size = static_cast<std::int64_t>(image.size());
    if (chunksReceived % firmwareAckInterval == 0 || size == firmwareBegin->value("size", std::int64_t { -1 })) {
        sendFirmwareStatus({ { "state", "receiving" }, { "nextChunkIndex", chunksReceived }, { "receivedBytes", size },
            { "expectedBytes", firmwareBegin->value("size", std::int64_t { 0 }) } });
    }
}

} // namespace tavrik::test
