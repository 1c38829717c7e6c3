#include "TavrikCore/Session/CompanionSession.hpp"

#include "TavrikCore/Backup/BackupMigrationPipeline.hpp"
#include "TavrikCore/Model/SyncControlPolicy.hpp"
#include "TavrikCore/Model/SyncImportError.hpp"

#include <algorithm>
#include <cstdio>

namespace tavrik {

namespace {

std::string_view textOf(CompanionSession::Bytes bytes)
{
    return { reinterpret_cast<const char*>(bytes.data()), bytes.size() };
}

std::string unsupportedHardwareTargetMessage(const std::string& target)
{
    return "Connected Tavrik reports unsupported hardware target '" + target + "'.";
}

// A "supported" that is a non-zero number in the message's "wifi" object.
bool reportsWifiSupport(const Json& message)
{
    const Json* wifi = json::member(message, "wifi");
    if (!wifi || !wifi->is_object()) {
        return false;
    }
    const Json* supported = json::member(*wifi, "supported");
    return supported && supported->is_number() && supported->get<double>() != 0;
}

bool reportsKillSwitch(const Json& message)
{
    const Json* settings = json::member(message, "settings");
    if (!settings || !settings->is_object()) {
        return false;
    }
    const Json* uid = json::member(*settings, "killSwitchUid");
    return uid && uid->is_string();
}

} // namespace

void CompanionSession::beginLoad()
{
    if (!connected) {
        throw SyncImportError("Connect to Tavrik first");
    }
    char code[8];
    std::snprintf(code, sizeof code, "%04u", static_cast<unsigned>(random.uniform(0, 9999)));
    syncCode = code;
    syncMode = "load";
    status = "Starting sync";
    lastProgress = uptimeNow();
    send(SyncStartEnvelope(
        "load", *syncCode, simulator ? std::nullopt : std::optional<ReliableDeliveryOffer>(channel->deliveryOffer())));
}

void CompanionSession::restore()
{
    requireDevice();
    if (capabilities.schemaVersion < 9 || capabilities.simulator || !backup) {
        throw SyncImportError("Restore requires a backup and compatible physical Tavrik");
    }
    restorePending = true;
    syncMode = "restore";
    syncCode = "";
    // Like a load, a restore starts its own wait for the device; the quiet before it does not count.
    lastProgress = uptimeNow();
    send(SyncStartEnvelope("restore", "", std::nullopt));
    status = "Starting restore";
}

void CompanionSession::migrateBackup(Bytes payload)
{
    BackupMigrationResult result = BackupMigrationPipeline::migrate(textOf(payload));
    // A backup of unknown hardware could only be restored wrongly; it is refused before anything changes.
    if (result.envelope.hardwareTarget && !isKnownHardwareTarget(*result.envelope.hardwareTarget)) {
        throw SyncImportError(unsupportedHardwareTargetMessage(*result.envelope.hardwareTarget));
    }
    backup = std::move(result.envelope);
    sourceVersion = rawValue(result.sourceVersion);
    warnings = std::move(result.warnings);
}

void CompanionSession::reportStatus(const std::string& text)
{
    status = text;
    appendLog(text);
}

void CompanionSession::receiveMessage(Bytes bytes)
{
    lastProgress = uptimeNow();
    Json message;
    try {
        message = parseJson(textOf(bytes));
    } catch (const std::exception& failure) {
        reportStatus(failure.what());
        return;
    }
    const Json* typeValue = message.is_object() ? json::member(message, "type") : nullptr;
    if (!typeValue || !typeValue->is_string()) {
        return;
    }
    const std::string type = typeValue->get<std::string>();
    try {
        if (type == "sync_data") {
            installSyncData(bytes, message);
        } else if (type == "sync_waiting" || type == "sync_ready" || type == "sync_done" || type == "sync_error") {
            handleSyncControl(bytes);
        } else if (type == "error") {
            syncMode.reset();
            syncCode.reset();
            restorePending = false;
            const Json* text = json::member(message, "message");
            reportStatus(text && text->is_string() ? text->get<std::string>() : std::string("Tavrik reported an error"));
        } else if (type == "routine_detail") {
            handleRoutineDetail(message);
        } else if (type == "routines_state") {
            handleRoutinesState(message);
        } else if (type == "routine_event") {
            handleRoutineEvent(message);
        } else if (type == "state") {
            const ScheduleEnvelope envelope = scheduleEnvelopeFromJson(message);
            if (envelope.schedules) {
                device = replaceDevice({ .schedules = envelope.schedules });
            }
        } else if (type == "tags_state") {
            const TagEnvelope envelope = tagEnvelopeFromJson(message);
            if (envelope.tags) {
                device = replaceDevice({ .tags = envelope.tags });
            }
        } else if (type == "scan_pending") {
            scanActive = true;
            status = "Scan a tag on Tavrik";
        } else if (type == "scan_result") {
            handleScanResult(message);
        } else if (type == "scan_timeout") {
            scanActive = false;
            status = "Tag scan timed out";
        } else if (type == "wifi_status" || type == "wifi_scan_results") {
            handleWifi(message);
        } else if (type == "clock_state") {
            const DeviceClockSnapshot snapshot = deviceClockSnapshotFromJson(message);
            device = replaceDevice({ .clock = snapshot });
            if (snapshot.message) {
                reportStatus(*snapshot.message);
            }
        } else if (type == "firmware_status") {
            handleFirmwareStatus(bytes);
        } else if (type == "simulator_disconnected") {
            disconnect();
            emitDisconnectEffect();
        } else if (const Json* text = json::member(message, "message"); text && text->is_string()) {
            appendLog(text->get<std::string>());
        }
    } catch (const std::exception& failure) {
        reportStatus(failure.what());
    }
}

void CompanionSession::installSyncData(Bytes bytes, const Json& message)
{
    BackupMigrationResult result;
    try {
        result = BackupMigrationPipeline::migrate(textOf(bytes));
    } catch (const std::exception& failure) {
        reportStatus(failure.what());
        return;
    }
    // Checked before anything is installed: data of unknown hardware is not taken in at all.
    if (result.envelope.hardwareTarget && !isKnownHardwareTarget(*result.envelope.hardwareTarget)) {
        reportStatus(unsupportedHardwareTargetMessage(*result.envelope.hardwareTarget));
        return;
    }
    device = std::move(result.envelope);
    capabilities = DeviceCapabilities(rawValue(result.sourceVersion), !simulator, simulator,
        !simulator && reportsWifiSupport(message), reportsKillSwitch(message));
    status = simulator ? "Simulator · Local" : "Connected";
    syncCode.reset();
    syncMode.reset();
    lastInteraction = uptimeNow();
    // Last, so that a failing clock check cannot leave the data half installed.
    evaluateClock(device->clock);
}

void CompanionSession::handleSyncControl(Bytes bytes)
{
    const SyncControlOutcome outcome
        = SyncControlPolicy::evaluate(Data(bytes.begin(), bytes.end()), syncMode, syncCode, syncMode != "load", false);
    switch (outcome.kind()) {
    case SyncControlOutcome::Kind::failed:
        syncMode.reset();
        syncCode.reset();
        restorePending = false;
        reportStatus(outcome.failureMessage());
        break;
    case SyncControlOutcome::Kind::staleError:
    case SyncControlOutcome::Kind::controlPending:
    case SyncControlOutcome::Kind::unknown:
        break;
    case SyncControlOutcome::Kind::waiting:
        status = "Starting sync";
        break;
    case SyncControlOutcome::Kind::ready:
        status = "Loading data";
        if (restorePending && backup) {
            restorePending = false;
            try {
                send(SyncRestoreEnvelope(syncCode.value_or(""), backup->settings.value_or(SyncSettingsPayload()),
                    backup->storeSnapshot, backup->schedules, backup->tags, backup->routines));
                status = "Restoring backup";
            } catch (const std::exception& failure) {
                reportStatus(failure.what());
            }
        }
        break;
    case SyncControlOutcome::Kind::incompleteLoad:
        disconnect();
        status = "Tavrik finished sync without a complete snapshot. Reconnect and retry.";
        emitDisconnectEffect();
        break;
    case SyncControlOutcome::Kind::restored:
        syncMode.reset();
        try {
            beginLoad();
        } catch (const std::exception& failure) {
            reportStatus(failure.what());
        }
        break;
    case SyncControlOutcome::Kind::controlCompleted:
    case SyncControlOutcome::Kind::completed:
        syncMode.reset();
        syncCode.reset();
        break;
    case SyncControlOutcome::Kind::confirmationTimedOut:
        syncMode.reset();
        syncCode.reset();
        restorePending = false;
        status = "Sync timed out. Reload to try again.";
        break;
    }
}

void CompanionSession::handleRoutineDetail(const Json& message)
{
    const RoutineEnvelope envelope = routineEnvelopeFromJson(message);
    if (!envelope.id || !envelope.label) {
        return;
    }
    RoutinePayload received {
        .id = *envelope.id,
        .label = *envelope.label,
        .steps = envelope.steps.value_or(std::vector<RoutineStepPayload> {}),
        .groups = envelope.groups.value_or(std::vector<RoutineGroupPayload> {}),
        .startTagIds = envelope.startTagIds.value_or(std::vector<std::uint32_t> {}),
    };
    // An answer that does not match the routine just saved is an older state; the save stays pending.
    if (const auto pending = pendingRoutines.find(received.id); pending != pendingRoutines.end()
        && detail(pending->second).syncSignature() != detail(received).syncSignature()) {
        return;
    }
    pendingRoutines.erase(received.id);
    if (!device) {
        return;
    }
    std::vector<RoutinePayload> routines;
    routines.reserve(device->routines.size() + 1);
    for (const RoutinePayload& routine : device->routines) {
        if (routine.id != received.id) {
            routines.push_back(routine);
        }
    }
    routines.push_back(std::move(received));
    device = replaceDevice({ .routines = std::move(routines) });
}

void CompanionSession::handleRoutinesState(const Json& message)
{
    const RoutineEnvelope envelope = routineEnvelopeFromJson(message);
    activeRoutine = envelope.active;
    if (envelope.routines && device) {
        // Sorted once, so a long list from the device costs no more than reading it.
        std::vector<std::uint32_t> listed;
        listed.reserve(envelope.routines->size());
        for (const RoutineSummary& summary : *envelope.routines) {
            listed.push_back(summary.id);
        }
        std::sort(listed.begin(), listed.end());
        std::vector<RoutinePayload> kept;
        for (const RoutinePayload& routine : device->routines) {
            if (std::binary_search(listed.begin(), listed.end(), routine.id)) {
                kept.push_back(routine);
            }
        }
        device = replaceDevice({ .routines = std::move(kept) });
    }
}

void CompanionSession::handleRoutineEvent(const Json& message)
{
    const RoutineEnvelope envelope = routineEnvelopeFromJson(message);
    const std::string event = envelope.event.value_or("");
    if ((event == "trigger" || event == "resume") && envelope.id) {
        RoutineActiveState active;
        active.id = *envelope.id;
        active.step = envelope.step.value_or(0);
        if (device) {
            for (const RoutinePayload& routine : device->routines) {
                if (routine.id == *envelope.id) {
                    active.label = routine.label;
                    active.stepCount = static_cast<std::int64_t>(routine.steps.size());
                    break;
                }
            }
        }
        activeRoutine = std::move(active);
    } else if (event == "stop" || event == "complete") {
        activeRoutine.reset();
    } else if (event == "escape_required") {
        status = "Strict escape armed on Tavrik. Hold the A button to begin.";
    }
}

void CompanionSession::handleScanResult(const Json& message)
{
    scanActive = false;
    scanResult = message;
    status = "Tag scanned";
    const Json* uid = json::member(message, "uid");
    if (scanPurposeKillSwitch && uid && uid->is_string()) {
        scanPurposeKillSwitch = false;
        try {
            performEdit("settings", Json { { "killSwitchUid", uid->get<std::string>() } }, {});
        } catch (const std::exception& failure) {
            reportStatus(failure.what());
        }
    }
}

} // namespace tavrik
