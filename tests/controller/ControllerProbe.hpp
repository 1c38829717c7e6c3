#pragma once

#include "TavrikLink/Controller/TavrikBleCentral.hpp"

namespace tavrik::test {

// What tests reach inside the controller: internal steps they drive directly (a message or an event
// as if it had arrived, the resets the links and sessions run) and internal state they read.
class ControllerProbe {
public:
    explicit ControllerProbe(TavrikBleCentral& controller)
        : c(controller)
    {
    }

    void handleStateChange(BleManagerState state) { c.handleStateChange(state); }
    void handleServices(BlePeripheral& peripheral, const std::optional<BleError>& error)
    {
        c.handleServices(peripheral, error);
    }
    void handleDataEnvelope(std::uint16_t messageId, Data payload)
    {
        c.handleDataEnvelope(messageId, std::move(payload));
    }
    void handleDisconnect(const std::optional<BleError>& error) { c.handleDisconnect(error); }
    // Whether the idle minute is running (its countdown shows only when it will end the link).
    bool idleMinuteRunning() const { return c.linkEnd_.isRunning(); }
    void handleSyncControl(const Data& payload, const std::string& fallback) { c.handleSyncControl(payload, fallback); }
    void handleSchedulePayload(const Data& payload) { c.handleSchedulePayload(payload); }
    void handleTagPayload(const Data& payload) { c.handleTagPayload(payload); }
    void sendSyncStart() { c.sendSyncStart(); }
    void sendAtomicCommandsIfNeeded() { c.sendAtomicCommandsIfNeeded(); }
    void sendCurrentTimeToTavrik() { c.sendCurrentTimeToTavrik(); }
    void resetLocalData(bool preserveExpectedDisconnect) { c.resetLocalData(preserveExpectedDisconnect); }
    void resetConnectionState() { c.resetConnectionState(); }
    void resetTagState() { c.resetTagState(); }
    void resetRoutineState() { c.resetRoutineState(); }
    void startScanningIfPossible() { c.startScanningIfPossible(); }
    void persist(AtomicCommandChannel channel, const TavrikBleCentral::PersistId& id,
        const std::vector<std::string>& commands, bool debounce, const std::optional<std::string>& attribute)
    {
        c.persist(channel, id, commands, debounce, attribute);
    }
    SyncSnapshot currentSnapshot() const { return c.currentSnapshot(); }
    void updateNextLocalIds() { c.updateNextLocalIds(); }
    void disconnectAndReturnToLoad(std::string_view command, const std::string& logMessage)
    {
        c.disconnectAndReturnToLoad(command, logMessage);
    }
    void startCommandConnection() { c.startCommandConnection(); }
    void updateStatus(const std::string& text) { c.updateStatus(text); }
    void evaluateTimeSyncNeed(const std::optional<DeviceClockSnapshot>& clock) { c.evaluateTimeSyncNeed(clock); }
    void validateRoutineTagReferences(const std::vector<RoutineDetailModel>& details) const
    {
        c.validateRoutineTagReferences(details);
    }
    std::vector<TagInfo> normalizedTags(const std::vector<TagInfo>& tags) { return c.normalizedTags(tags); }
    void selectFirmwareAssetForConnectedTarget() { c.selectFirmwareAssetForConnectedTarget(); }
    void updateFirmwareNoticeIfNeeded() { c.updateFirmwareNoticeIfNeeded(); }
    std::string firmwareStatusMessage(const FirmwareAsset& asset) const { return c.firmwareStatusMessage(asset); }
    void startRoutineControl(const std::string& command) { c.startRoutineControl(command); }
    std::vector<ScheduledRoutine> schedulesResolvedForPersistence() const
    {
        return c.schedulesResolvedForPersistence();
    }

    const std::optional<std::string>& syncCode() const { return c.syncCode(); }
    const std::optional<SyncMode>& sessionMode() const { return c.sessionMode(); }
    const std::optional<SyncSnapshot>& baselineSnapshot() const { return c.baselineSnapshot(); }
    bool baselineFollowsData() const { return c.baselineSnapshot_.followsCurrent(); }
    const std::optional<TavrikBleProtocolProfile>& activeBleProfile() const { return c.activeBleProfile(); }
    const std::shared_ptr<BlePeripheral>& targetPeripheral() const { return c.targetPeripheral(); }
    const std::optional<BleCharacteristic>& dataCharacteristic() const { return c.dataCharacteristic(); }
    const std::optional<BleCharacteristic>& firmwareCharacteristic() const { return c.firmwareCharacteristic(); }
    bool isExpectingResetDisconnect() const { return c.isExpectingResetDisconnect(); }
    const std::optional<std::string>& pendingRoutineCommand() const { return c.pendingRoutineCommand(); }
    const std::optional<std::string>& pendingClockCommand() const { return c.pendingClockCommand(); }
    bool isReadingLoadInSlices() const { return c.isReadingLoadInSlices(); }
    std::uint32_t nextLocalScheduleId() const { return c.nextLocalScheduleId(); }
    std::uint32_t nextLocalTagId() const { return c.nextLocalTagId(); }
    std::uint32_t nextLocalRoutineId() const { return c.nextLocalRoutineId(); }
    TagScanPurpose tagScanPurpose() const { return c.tagScanPurpose(); }
    BleDataChannel& dataService() { return c.dataService(); }
    bool didOfferTimeSyncForCurrentLoad() const { return c.didOfferTimeSyncForCurrentLoad(); }
    const std::map<std::uint32_t, std::int64_t>& pendingRoutineDetailSignatures() const
    {
        return c.pendingRoutineDetailSignatures();
    }

private:
    TavrikBleCentral& c;
};

} // namespace tavrik::test
