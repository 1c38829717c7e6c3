#pragma once

#include "TavrikCore/Link/BleDataChannel.hpp"
#include "TavrikCore/Link/ReliableDelivery.hpp"
#include "TavrikCore/Model/SyncPayloads.hpp"
#include "TavrikCore/Model/TavrikBleProtocolProfile.hpp"
#include "TavrikCore/Support/Json.hpp"
#include "tests/support/ManualScheduler.hpp"
#include "tests/support/SequenceRandomSource.hpp"
#include "tests/support/qt/FakeBleCentral.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavrik::test {

// A Tavrik behind a FakeBlePeripheral: it reads the app's frames with a real data channel and
// answers like the device. "sync_start" gets "sync_ready", the sync data and "sync_done" (the data
// with reliable delivery when the app offered it); "sync_restore" is kept and answered with
// "sync_done"; commands are recorded and answered by `answerCommand`. Faults are switched on per test.
class FakeTavrik {
public:
    FakeTavrik(ManualScheduler& scheduler, FakeBleCentral& central,
        TavrikBleProtocolProfile profile = TavrikBleProtocolProfile::secureV2,
        std::optional<std::string> name = "Tavrik");

    const std::shared_ptr<FakeBlePeripheral>& peripheral() const { return radio; }

    // What "sync_data" carries; `syncDataJson` replaces it whole when set.
    SyncDataEnvelope data;
    std::optional<Json> syncDataJson;

    // Script of the sync exchange.
    bool answerSyncStart = true;
    bool sendWaitingFirst = false;
    bool sendSyncData = true; // false: "sync_done" comes without data
    bool stopAfterReady = false; // "sync_ready", then nothing more
    bool answerRestore = true;
    // Stops answering anything at all.
    bool silent = false;
    // Answers of a "channel:command" text; by default none.
    std::function<std::vector<Json>(const std::string& channel, const std::string& command)> answerCommand;

    // The over-the-air side, off unless `takesFirmware` is set: "firmware_begin" for this device's
    // target is answered "ready" with `firmwareAckInterval`; chunks on the firmware characteristic
    // must come in order and are acknowledged ("receiving") every interval and at the image's end;
    // "firmware_commit" of a whole image is answered "complete" with `firmwareInstalledVersion`, or
    // the begun version when unset. Anything out of order is answered "error".
    bool takesFirmware = false;
    std::int64_t firmwareAckInterval = 4;
    std::optional<std::string> firmwareInstalledVersion;
    // Called with each chunk's index after it was taken, before it is acknowledged.
    std::function<void(std::int64_t chunkIndex)> onFirmwareChunk;

    // The image bytes taken since the last "firmware_begin".
    const Data& firmwareImage() const { return image; }
    std::int64_t firmwareChunksReceived() const { return chunksReceived; }
    bool firmwareInstalled() const { return installed; }

    // Sends a message as the device: plain, or with reliable delivery when the app offered it and
    // `reliable` is not false.
    void send(const Json& message, std::optional<bool> reliable = std::nullopt);
    // Any payload as one plain single-frame message, e.g. bytes that are not UTF-8.
    void sendPayload(const Data& payload);

    // What the device received.
    const std::vector<std::string>& receivedTexts() const { return texts; }
    std::vector<Json> receivedJson() const;
    std::optional<Json> lastReceived(std::string_view type) const;
    // "channel:command" texts, in order.
    std::vector<std::string> receivedCommands() const;
    const std::optional<ReliableDeliveryOffer>& offeredDelivery() const { return delivery; }
    const std::optional<SyncStartEnvelope>& lastSyncStart() const { return syncStart; }
    const std::optional<SyncRestoreEnvelope>& lastRestore() const { return restore; }

private:
    class NotifyTransport;
    void receive(const Data& payload);
    void answerSyncStartMessage(const SyncStartEnvelope& start);
    void receiveFirmwareMessage(const std::string& type, const Json& message);
    void receiveFirmwareChunk(const Data& chunk);
    void sendFirmwareStatus(Json status);

    ManualScheduler& scheduler;
    TavrikBleProtocolProfile profile;
    std::shared_ptr<FakeBlePeripheral> radio;
    SequenceRandomSource random { { 7 } };
    BleDataChannel channel;
    std::shared_ptr<NotifyTransport> transport;
    std::vector<std::string> texts;
    std::optional<ReliableDeliveryOffer> delivery;
    std::optional<SyncStartEnvelope> syncStart;
    std::optional<SyncRestoreEnvelope> restore;
    std::uint16_t nextReliableId = 40000;
    std::uint16_t nextPlainId = 30000;
    // The transfer in progress, if any.
    std::optional<Json> firmwareBegin;
    Data image;
    std::int64_t chunksReceived = 0;
    bool installed = false;
};

} // namespace tavrik::test
