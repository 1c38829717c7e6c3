#include "TavrikCore/Session/CompanionSession.hpp"

#include "TavrikCore/Model/SyncImportError.hpp"
#include "TavrikCore/Support/Base64.hpp"

#include <functional>
#include <utility>

namespace tavrik {

// The data channel's link on a physical connection: every frame becomes a "write" effect of the
// action being dispatched. It claims no writes without response, so each frame waits for the host's
// "writeComplete".
class CompanionSession::EffectTransport final : public BleDataTransport {
public:
    using Emit = std::function<void(const Data&, BleWriteType)>;

    EffectTransport(int maximumLength, Emit emit)
        : maximumLength(maximumLength)
        , emit(std::move(emit))
    {
    }

    bool supportsWriteWithoutResponse() const override { return false; }
    bool canSendWriteWithoutResponse() const override { return true; }
    int maximumWriteValueLength(BleWriteType) const override { return maximumLength; }
    void write(const Data& data, BleWriteType type) override { emit(data, type); }

private:
    int maximumLength;
    Emit emit;
};

void CompanionSession::connect(const Json& request)
{
    const Json* length = json::member(request, "maximumWriteLength");
    if (!length || !json::isInteger(*length) || json::asInt(*length) < 12 || json::asInt(*length) > 517) {
        throw SyncImportError("Invalid maximum write length");
    }
    disconnect();
    messages.clear();
    transport = std::make_shared<EffectTransport>(
        static_cast<int>(json::asInt(*length)), [this](const Data& data, BleWriteType type) {
            emitEffect(Json {
                { "type", "write" },
                { "payload", base64Encoded(data) },
                { "withResponse", type == BleWriteType::withResponse },
            });
        });
    channel->configure(transport);
    disconnectNotice.reset();
    connected = true;
    status = "Connected securely";
}

void CompanionSession::connectSimulator()
{
    if (!allowSimulator) {
        throw SyncImportError("Simulator is debug-only");
    }
    disconnect();
    disconnectNotice.reset();
    connected = true;
    simulator = true;
    status = "Simulator · Local";
}

void CompanionSession::disconnect()
{
    if (syncMode == "restore") {
        disconnectNotice = "Tavrik disconnected while restoring the backup. Reconnect and retry.";
    }
    if (busy()) {
        disconnectNotice = "Firmware update interrupted by disconnect. Reconnect and retry.";
        interruptFirmwareTransfer(*disconnectNotice);
    }
    downloadId.reset();
    downloadKind.reset();
    firmwareAsset.reset();
    device.reset();
    editedRoutine.reset();
    scanResult.reset();
    wifiResult.reset();
    wifiSaved.reset();
    pendingRoutines.clear();
    activeRoutine.reset();
    ++generation;
    connected = false;
    simulator = false;
    channel->configure(nullptr);
    transport.reset();
    capabilities = DeviceCapabilities();
    syncCode.reset();
    syncMode.reset();
    scanActive = false;
    wifiRequestId.reset();
    wifiCandidate.reset();
    wifiFailure.reset();
    wifiOperation.reset();
    clockNotice.reset();
    scanPurposeKillSwitch = false;
    restorePending = false;
    status = "Disconnected";
}

void CompanionSession::receiveFrame(Bytes payload)
{
    channel->handleIncoming(payload);
}

void CompanionSession::writeComplete()
{
    channel->handleWriteResponse();
}

void CompanionSession::receiveSimulatorMessage(Bytes payload)
{
    if (!simulator) {
        throw SyncImportError("Unframed data requires simulator transport");
    }
    receiveMessage(payload);
}

void CompanionSession::tick()
{
    if (!connected) {
        return;
    }
    const double now = uptimeNow();
    if (timeOutFirmwareTransfer(now)) {
        return;
    }
    const std::int64_t sinceProgress = elapsedMilliseconds(now, lastProgress);
    if (syncMode && sinceProgress > 30'000) {
        disconnect();
        status = "Sync timed out. Enable connection mode on Tavrik and retry.";
        emitDisconnectEffect();
        return;
    }
    if ((scanActive || wifiRequestId) && sinceProgress > 65'000) {
        scanActive = false;
        wifiRequestId.reset();
        status = "Device operation timed out. Retry after reconnecting.";
        emitDisconnectEffect();
        return;
    }
    if (!busy() && !scanActive && !wifiRequestId && !syncMode && elapsedMilliseconds(now, lastInteraction) >= 60'000) {
        disconnect();
        status = "Disconnected after 60 seconds idle";
        emitDisconnectEffect();
    }
}

} // namespace tavrik
