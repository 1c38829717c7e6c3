#include "tests/robustness/HostileScenario.hpp"

#include "TavrikCore/Firmware/FirmwareIntegrity.hpp"
#include "TavrikCore/Link/BleDataChannel.hpp"
#include "TavrikCore/Link/BleDataFrame.hpp"

#include <chrono>

namespace tavrik::test {

namespace {

using namespace std::chrono_literals;

const std::vector<std::string> argumentKeys { "id", "generation", "maximumWriteLength", "requestId", "error",
    "appVersion", "operation", "ssid", "password", "timeZone", "mute", "killSwitchUid", "killSwitch", "kind", "nodeId",
    "parentId", "position", "direction" };

const Json& deviceData()
{
    static const Json data = sampleDeviceDataWithOneTimeSchedule();
    return data;
}

} // namespace

const std::vector<std::string>& hostileActionNames()
{
    static const std::vector<std::string> names { "state", "interact", "tick", "clearLogs", "dismissClockNotice",
        "connectSimulator", "receiveMessage", "migrateBackup", "connect", "disconnect", "receiveFrame", "writeComplete",
        "firmwareCheck", "firmwareInstall", "firmwareCancel", "downloadResult", "load", "restore", "saveTag", "deleteTag",
        "saveRoutine", "deleteRoutine", "saveSchedule", "deleteSchedule", "settings", "scanTag", "cancelScan",
        "triggerRoutine", "stopRoutine", "clock", "wifi", "editRoutineDraft", "State", "", "route", "constructor" };
    return names;
}

const std::vector<Json>& deviceMessageTemplates()
{
    static const std::vector<Json> templates {
        sampleDeviceDataWithOneTimeSchedule(),
        { { "type", "sync_waiting" }, { "code", "0001" } },
        { { "type", "sync_ready" }, { "code", "0001" } },
        { { "type", "sync_done" }, { "code", "0001" } },
        { { "type", "sync_error" }, { "code", "0001" }, { "message", "Denied" }, { "reason", "timeout" } },
        { { "type", "error" }, { "message", "Device failure" } },
        parseJson(R"({"type":"routine_detail","id":1,"label":"Morning","startTagIds":[2],"groups":[],
            "steps":[{"id":1,"position":0,"parentId":0,"tagId":"1","seconds":60,"instruction":"Wash","unstoppable":0}]})"),
        parseJson(R"({"type":"routines_state","routines":[{"id":1,"label":"Morning","stepCount":1}],
            "active":{"id":1,"step":0,"label":"Morning","stepCount":1}})"),
        { { "type", "routine_event" }, { "event", "trigger" }, { "id", 1 }, { "step", 0 } },
        { { "type", "routine_event" }, { "event", "escape_required" } },
        parseJson(R"({"type":"state","schedules":[{"id":3,"routineId":2,"hour":6,"minute":5,"days":128,
            "type":"single","year":2026,"month":2,"day":29,"enabled":1}]})"),
        parseJson(R"({"type":"tags_state","tags":[{"id":1,"uid":"04 11 22 33 44 55 66","name":"Kitchen"}]})"),
        { { "type", "scan_pending" } },
        { { "type", "scan_result" }, { "uid", "04 99 88 77" }, { "tagType", "NTAG" } },
        { { "type", "scan_timeout" } },
        { { "type", "wifi_status" }, { "requestId", "ABC" }, { "stage", "success" }, { "ssid", "Home" },
            { "message", "Saved" } },
        { { "type", "wifi_status" }, { "stage", "failed" }, { "reason", "auth" } },
        parseJson(
            R"({"type":"wifi_scan_results","networks":[{"ssid":"Cafe","rssi":-60,"security":"wpa2","supported":1}]})"),
        parseJson(R"({"type":"clock_state","valid":1,"year":2025,"month":6,"day":15,"hour":15,"minute":6,"second":40,
            "message":"Clock set"})"),
        parseJson(R"({"type":"firmware_status","state":"ready","nextChunkIndex":0,"ackIntervalChunks":4})"),
        parseJson(R"({"type":"firmware_status","state":"receiving","nextChunkIndex":2,"receivedBytes":300,
            "expectedBytes":600})"),
        parseJson(R"({"type":"firmware_status","state":"complete","version":"2.0.0","elapsedMs":1200,
            "chunksReceived":5,"ackIntervalChunks":4})"),
        { { "type", "firmware_status" }, { "state", "error" }, { "message", "Flash failed" } },
        { { "type", "simulator_disconnected" } },
        { { "type", "note" }, { "message", "hello" } },
    };
    return templates;
}

FirmwareRelease sampleFirmwareRelease(HostileInput& input)
{
    FirmwareRelease release;
    release.image = input.noise(700);
    release.image.resize(std::max<std::size_t>(release.image.size(), 1), 0xE9);
    release.channelManifest = {
        { "channel", "stable" },
        { "version", "2.0.0" },
        { "minimumTavrikLinkVersion", "1.0.0" },
        { "binaryAssets",
            { { "m5stick-c",
                { { "url", "https://tavrik.app/releases/firmware/2.0.0/tavrik.bin" },
                    { "sizeBytes", release.image.size() }, { "sha256", FirmwareIntegrity::sha256(release.image) } } } } },
    };
    return release;
}

HostileScenario::HostileScenario(std::uint64_t seed, HostileHost& host)
    : input(seed)
    , host(host)
{
    release = sampleFirmwareRelease(input);
    host.context = "seed " + std::to_string(seed);
}

void HostileScenario::begin()
{
    switch (input.below(4)) {
    case 0:
    case 1:
        host.loadOverPhysicalLink(deviceData());
        break;
    case 2:
        host.loadOverSimulator(deviceData());
        break;
    default:
        break;
    }
}

void HostileScenario::run(int steps)
{
    for (int step = 0; step < steps; ++step) {
        if (!host.connected() && input.chance(60)) {
            begin();
            continue;
        }
        const std::size_t kind = input.below(100);
        if (kind < 30) {
            hostileAction();
        } else if (kind < 60) {
            deviceMessage();
        } else if (kind < 70) {
            linkEvent();
        } else if (kind < 75) {
            timeJump();
        } else if (kind < 85) {
            firmwareStep();
        } else if (kind < 93) {
            wifiStep();
        } else {
            restoreStep();
        }
    }
}

Data HostileScenario::hostileBytes(const Json& document)
{
    const std::size_t choice = input.below(100);
    if (choice < 25) {
        return bytesOf(input.mutated(document));
    }
    if (choice < 50) {
        return bytesOf(input.nudged(document));
    }
    if (choice < 75) {
        return bytesOf(document);
    }
    if (choice < 92) {
        return input.brokenText(document);
    }
    return choice < 96 ? bytesOf(input.value(3)) : Data {};
}

Json HostileScenario::argumentValue(const std::string& key)
{
    if (input.chance(30)) {
        return input.value(1);
    }
    if (key == "generation") {
        return input.chance(80) ? host.generation() : host.generation() + 1;
    }
    if (key == "requestId") {
        return host.downloads.empty() ? Json("X") : Json(host.downloads.back().value("requestId", "X"));
    }
    if (key == "operation") {
        return input.pick(std::vector<std::string> { "scan", "check_saved", "save", "remove", "cancel", "dismiss",
            "saveAnyway", "appendStep", "appendGroup", "removeGroup", "removeStep", "parent", "drop", "move" });
    }
    if (key == "kind") {
        return input.pick(std::vector<std::string> { "steps", "groups", "other" });
    }
    if (key == "timeZone") {
        return input.pick(
            std::vector<std::string> { "Europe/Berlin", "Pacific/Kiritimati", "Nowhere/Zone", "", "Etc/GMT+12" });
    }
    if (key == "maximumWriteLength") {
        return input.pick(std::vector<int> { 11, 12, 23, 185, 517, 518 });
    }
    if (key == "appVersion") {
        return input.pick(std::vector<std::string> { "1.0.0", "0.1", "", "99999999999999999999.0" });
    }
    if (key == "ssid" || key == "password" || key == "killSwitchUid" || key == "error") {
        return input.pick(std::vector<std::string> { "Home", "", " ", std::string(33, 'n'), "04 99" });
    }
    if (key == "mute" || key == "killSwitch") {
        return input.chance(50);
    }
    return input.pick(std::vector<std::int64_t> { 0, 1, 2, 3, 5, -1, 99, 4294967295 });
}

Json HostileScenario::arguments()
{
    Json arguments = Json::object();
    for (std::size_t count = input.below(5); count > 0; --count) {
        const std::string& key = input.pick(argumentKeys);
        arguments[key] = argumentValue(key);
    }
    if (input.chance(60)) {
        arguments["generation"] = host.generation();
    }
    return arguments;
}

Data HostileScenario::payloadFor(const std::string& action)
{
    if (action == "saveTag") {
        return hostileBytes({ { "id", 0 }, { "uid", "04 01 02" }, { "name", "Hall" } });
    }
    if (action == "saveRoutine" || action == "editRoutineDraft") {
        Json routine = deviceData().at("routines").at(1);
        if (input.chance(40)) {
            routine["id"] = 0;
        }
        return hostileBytes(routine);
    }
    if (action == "saveSchedule") {
        return hostileBytes(deviceData().at("schedules").at(input.below(2)));
    }
    if (action == "migrateBackup") {
        Json backup = deviceData();
        backup["dataVersion"] = input.pick(std::vector<int> { 9, 8, 7, 6, 5, 4, 3, 2 });
        return hostileBytes(backup);
    }
    if (action == "downloadResult") {
        return input.chance(50) ? hostileBytes(release.channelManifest) : release.image;
    }
    if (action == "receiveMessage") {
        return hostileBytes(input.pick(deviceMessageTemplates()));
    }
    if (action == "receiveFrame") {
        return input.noise(40);
    }
    return hostileBytes(input.value(2));
}

void HostileScenario::hostileAction()
{
    const std::string& action = input.pick(hostileActionNames());
    host.dispatch(action, arguments(), payloadFor(action));
    host.settleWrites();
}

void HostileScenario::deviceMessage()
{
    if (!host.connected()) {
        // Callbacks of a link that is gone must be refused without harm.
        host.callback(
            input.chance(50) ? "receiveMessage" : "receiveFrame", bytesOf(input.pick(deviceMessageTemplates())));
        return;
    }
    host.deviceSends(hostileBytes(input.pick(deviceMessageTemplates())), input.chance(30));
}

void HostileScenario::linkEvent()
{
    switch (input.below(8)) {
    case 0:
        host.dispatch("connect", { { "maximumWriteLength", input.pick(std::vector<int> { 12, 23, 185, 517 }) } });
        break;
    case 1:
        host.dispatch("connectSimulator");
        break;
    case 2:
        host.dispatch("disconnect");
        break;
    case 3:
        host.dispatch("load");
        host.settleWrites();
        break;
    case 4:
        // A write completion nobody waits for.
        host.callback("writeComplete");
        break;
    case 5: {
        // A frame with a valid checksum whose header lies about its chunks.
        const Data frame = makeFrame(static_cast<std::uint8_t>(input.below(4)),
            static_cast<std::uint16_t>(input.below(3)), static_cast<std::uint16_t>(input.below(70000)),
            static_cast<std::uint16_t>(input.below(70000)), input.noise(30));
        host.callback("receiveFrame", frame);
        break;
    }
    case 6:
        host.callback("receiveFrame", input.noise(300));
        break;
    default:
        // A callback of the link before this one.
        const std::uint64_t earlier = host.generation() - std::min<std::uint64_t>(host.generation(), 1);
        host.dispatch("receiveFrame", { { "generation", earlier } }, input.noise(20));
        break;
    }
}

void HostileScenario::timeJump()
{
    static const std::vector<std::chrono::milliseconds> jumps { 0ms, 999ms, 30'001ms, 60'000ms, 65'001ms, 24h };
    std::chrono::milliseconds jump = input.pick(jumps);
    if (input.chance(5) && hugeJumps < 2) {
        ++hugeJumps;
        jump = std::chrono::milliseconds(1'000'000'000'000);
    }
    host.clock.advance(jump);
    host.dispatch("tick");
}

void HostileScenario::wifiStep()
{
    std::optional<Json> request;
    for (auto message = host.sentMessages().rbegin(); message != host.sentMessages().rend() && !request; ++message) {
        const Json value = Json::parse(*message, nullptr, false);
        if (value.is_object() && value.value("type", "").starts_with("wifi_")) {
            request = value;
        }
    }
    if (request && input.chance(60)) {
        Json answer = { { "type", "wifi_status" }, { "requestId", request->value("requestId", "") },
            { "operation", request->value("type", "") }, { "stage", input.chance(70) ? "success" : "failed" },
            { "ssid", request->value("ssid", "Home") }, { "message", "Done" } };
        if (request->value("type", "") == "wifi_scan") {
            const Json network = { { "ssid", "Cafe" }, { "rssi", -50 }, { "security", "wpa2" }, { "supported", 1 } };
            answer = { { "type", "wifi_scan_results" }, { "requestId", request->value("requestId", "") },
                { "networks", Json::array({ network }) } };
        }
        host.deviceSends(bytesOf(input.chance(70) ? answer : input.nudged(answer)));
        return;
    }
    static const std::vector<std::string> operations { "scan", "check_saved", "save", "remove", "cancel", "dismiss",
        "saveAnyway" };
    Json arguments = { { "operation", input.pick(operations) }, { "ssid", input.chance(50) ? "Home" : "Office" },
        { "password", "secret" } };
    host.dispatch("wifi", input.chance(30) ? input.nudged(arguments) : arguments);
    host.settleWrites();
}

void HostileScenario::restoreStep()
{
    switch (input.below(4)) {
    case 0:
        host.dispatch(
            "migrateBackup", Json::object(), bytesOf(input.chance(70) ? deviceData() : input.nudged(deviceData())));
        break;
    case 1:
        host.dispatch("restore");
        host.settleWrites();
        break;
    case 2:
        host.deviceSends(bytesOf(Json { { "type", "sync_ready" }, { "code", "" } }));
        break;
    default:
        host.deviceSends(bytesOf(Json { { "type", "sync_done" }, { "code", "" } }));
        break;
    }
}

void HostileScenario::answerDownload()
{
    if (host.downloads.empty()) {
        return;
    }
    const HostileHost::Document download = host.downloads.back();
    host.downloads.pop_back();
    Json arguments = { { "requestId", download.value("requestId", "") },
        { "generation", download.value("generation", std::uint64_t { 0 }) } };
    if (input.chance(10)) {
        arguments["error"] = input.chance(50) ? Json("HTTP 404") : input.value(1);
    }
    Data payload;
    if (download.value("url", "").ends_with(".bin")) {
        payload = input.chance(85) ? release.image : input.noise(700);
    } else {
        payload = input.chance(75) ? bytesOf(release.channelManifest) : bytesOf(input.mutated(release.channelManifest));
    }
    host.firmwareWrites = 0;
    host.dispatch("downloadResult", arguments, payload);
    host.settleWrites();
}

void HostileScenario::answerUpload()
{
    // The device's side of an upload: acknowledgements near the truth, sometimes bent.
    const auto written = static_cast<std::int64_t>(host.firmwareWrites);
    Json status = { { "type", "firmware_status" } };
    switch (input.below(6)) {
    case 0:
        status["state"] = "ready";
        status["nextChunkIndex"] = 0;
        status["ackIntervalChunks"] = input.pick(std::vector<std::int64_t> { 1, 4, 64, 0, -3 });
        break;
    case 1:
    case 2:
    case 3:
        status["state"] = "receiving";
        status["nextChunkIndex"] = written - static_cast<std::int64_t>(input.below(2));
        status["receivedBytes"] = written * 170;
        break;
    case 4:
        status["state"] = "complete";
        status["version"] = "2.0.0";
        break;
    default:
        status["state"] = "error";
        break;
    }
    host.deviceSends(bytesOf(input.chance(80) ? status : input.nudged(status)));
}

void HostileScenario::firmwareStep()
{
    if (host.firmwareActive() && input.chance(70)) {
        answerUpload();
        return;
    }
    if (!host.downloads.empty() && input.chance(70)) {
        answerDownload();
        return;
    }
    if (input.chance(40)) {
        // The whole way to a running installation in one move, so that the upload itself gets traffic.
        host.downloads.clear();
        host.dispatch("firmwareCheck", { { "appVersion", "1.2.0" } });
        answerDownload();
        host.dispatch("firmwareInstall");
        host.settleWrites();
        answerDownload();
        return;
    }
    switch (input.below(3)) {
    case 0:
        host.dispatch("firmwareCheck", { { "appVersion", "1.2.0" } });
        break;
    case 1:
        host.dispatch("firmwareInstall");
        host.settleWrites();
        break;
    default:
        host.dispatch("firmwareCancel");
        break;
    }
}

} // namespace tavrik::test
