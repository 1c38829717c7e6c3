#include "tests/robustness/HostileScenario.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <limits>

namespace tavrik::test {
namespace {

// Values each member of a message or argument of an action is replaced with.
const std::vector<Json>& edgeValues()
{
    static const std::vector<Json> values {
        nullptr,
        true,
        -1,
        std::numeric_limits<std::int64_t>::min(),
        std::numeric_limits<std::uint64_t>::max(),
        1e300,
        0.5,
        "",
        std::string(2000, 'z'),
        Json::array({ Json::object() }),
    };
    return values;
}

void collectPointers(const Json& node, const Json::json_pointer& at, std::vector<Json::json_pointer>& pointers)
{
    if (!at.empty()) {
        pointers.push_back(at);
    }
    if (node.is_object()) {
        for (const auto& [key, value] : node.items()) {
            collectPointers(value, at / key, pointers);
        }
    } else if (node.is_array()) {
        for (std::size_t index = 0; index < node.size(); ++index) {
            collectPointers(node[index], at / index, pointers);
        }
    }
}

// The document with each member and element in turn replaced by edge values, and then removed. Each
// place takes `perPlace` of the values, the next place the next ones, so that the whole list is spread
// over the document while the number of variants stays proportional to its size. A number is always
// also tried as the smallest 64-bit integer, the value that breaks arithmetic on it most often.
void forEachSinglePointChange(const Json& document, std::size_t perPlace, const std::function<void(const Json&)>& visit)
{
    std::vector<Json::json_pointer> pointers;
    collectPointers(document, Json::json_pointer(), pointers);
    const std::vector<Json>& values = edgeValues();
    const Json smallest = std::numeric_limits<std::int64_t>::min();
    std::size_t next = 0;
    for (const Json::json_pointer& pointer : pointers) {
        bool triedSmallest = false;
        for (std::size_t count = 0; count < perPlace; ++count) {
            Json changed = document;
            changed[pointer] = values[next++ % values.size()];
            triedSmallest = triedSmallest || changed[pointer] == smallest;
            visit(changed);
        }
        if (document[pointer].is_number() && !triedSmallest) {
            Json changed = document;
            changed[pointer] = smallest;
            visit(changed);
        }
        Json changed = document;
        Json& parent = changed[pointer.parent_pointer()];
        if (parent.is_object()) {
            parent.erase(pointer.back());
        } else {
            parent.erase(static_cast<std::size_t>(std::stoul(pointer.back())));
        }
        visit(changed);
    }
}

void answerLastDownload(HostileHost& host, const Data& payload)
{
    host.dispatch("downloadResult",
        { { "requestId", host.downloads.back().at("requestId") }, { "generation", host.generation() } }, payload);
    host.settleWrites();
}

// Gets an image sent to the device: installs the release found before when the link still knows it,
// otherwise loads over a new physical link and finds the release first. True when the upload runs.
bool startUpload(HostileHost& host, const FirmwareRelease& release)
{
    host.downloads.clear();
    if (!host.connected() || !host.last().state().contains("firmwareAsset")) {
        host.loadOverPhysicalLink(sampleDeviceDataWithOneTimeSchedule());
        host.dispatch("firmwareCheck", { { "appVersion", "1.2.0" } });
        if (host.downloads.empty()) {
            return false;
        }
        answerLastDownload(host, bytesOf(release.channelManifest));
        host.downloads.clear();
    }
    host.dispatch("firmwareInstall");
    host.settleWrites();
    if (host.downloads.empty()) {
        return false;
    }
    answerLastDownload(host, release.image);
    host.deviceSends(bytesOf(Json { { "type", "firmware_status" }, { "state", "ready" }, { "nextChunkIndex", 0 } }));
    return host.firmwareActive();
}

// Hosts and devices that send anything in any order: actions with hostile arguments and payloads,
// device messages of every type (well-formed, bent or broken), stale callbacks, garbage frames, time
// jumps, firmware downloads and uploads. Every response keeps the host's promises (see HostileHost)
// and the session answers "state" at the end.
TEST(SessionHostileInputTest, KeepsEveryPromiseUnderRandomHostileTraffic)
{
    for (std::uint64_t seed = 1; seed <= 8; ++seed) {
        HostileHost host;
        HostileScenario scenario(seed, host);
        scenario.begin();
        scenario.run(40);
        const HostileHost::Reply reply = host.dispatch("state");
        EXPECT_TRUE(reply.ok) << host.context << ": " << reply.error;
        if (HasFailure()) {
            return;
        }
    }
}

// Each device message type with each of its members bent or removed in turn, over the simulator link
// (the device's answers reach the same handlers as framed ones).
TEST(SessionHostileInputTest, EveryDeviceMessageSurvivesEverySinglePointChange)
{
    HostileHost host;
    host.loadOverSimulator(sampleDeviceDataWithOneTimeSchedule());
    int sent = 0;
    for (const Json& message : deviceMessageTemplates()) {
        forEachSinglePointChange(message, 2, [&](const Json& changed) {
            if (!host.connected()) {
                host.loadOverSimulator(sampleDeviceDataWithOneTimeSchedule());
            }
            if (++sent % 64 == 0) {
                // Keeps the responses small; the log's own limit is another test's business.
                host.dispatch("clearLogs");
            }
            host.context = "device message " + dumpJson(changed).substr(0, 300);
            host.deviceSends(bytesOf(changed));
        });
    }
    EXPECT_TRUE(host.dispatch("state").ok);
}

// Every action with all its arguments set to edge values (three per action, the list spread over the
// actions), on no link, a loaded simulator and a loaded physical link.
TEST(SessionHostileInputTest, EveryActionSurvivesEdgeArguments)
{
    static const std::vector<std::string> keys { "id", "maximumWriteLength", "requestId", "error", "appVersion",
        "operation", "ssid", "password", "timeZone", "mute", "killSwitchUid", "killSwitch", "kind", "nodeId",
        "parentId", "position", "direction" };
    const Json routine = sampleDeviceDataWithOneTimeSchedule().at("routines").at(1);
    for (int start = 0; start < 3; ++start) {
        HostileHost host;
        const auto reset = [&] {
            if (start == 1) {
                host.loadOverSimulator(sampleDeviceDataWithOneTimeSchedule());
            } else if (start == 2) {
                host.loadOverPhysicalLink(sampleDeviceDataWithOneTimeSchedule());
            }
        };
        reset();
        std::size_t next = static_cast<std::size_t>(start);
        for (const std::string& action : hostileActionNames()) {
            for (int count = 0; count < 3; ++count) {
                const Json& value = edgeValues()[next++ % edgeValues().size()];
                if (start > 0 && (!host.connected() || host.firmwareActive())) {
                    host.dispatch("disconnect");
                    reset();
                }
                Json arguments = Json::object();
                for (const std::string& key : keys) {
                    arguments[key] = value;
                }
                arguments["generation"] = host.generation();
                host.context = "link " + std::to_string(start) + ", " + action + " with " + dumpJson(value).substr(0, 40);
                host.dispatch(action, arguments, bytesOf(routine));
                host.settleWrites();
            }
        }
        EXPECT_TRUE(host.dispatch("state").ok);
    }
}

// A device that answers a running upload with bent status messages: the upload goes on, fails or
// completes, but every response keeps the promises.
TEST(SessionHostileInputTest, UploadSurvivesBentFirmwareStatusMessages)
{
    HostileInput input(7);
    const FirmwareRelease release = sampleFirmwareRelease(input);
    std::vector<Json> statuses;
    for (const Json& message : deviceMessageTemplates()) {
        if (message.value("type", "") == "firmware_status" && message.value("state", "") != "error") {
            statuses.push_back(message);
        }
    }
    HostileHost host;
    host.context = "upload";
    ASSERT_TRUE(startUpload(host, release));
    for (const Json& status : statuses) {
        forEachSinglePointChange(status, 4, [&](const Json& changed) {
            if (!host.firmwareActive()) {
                ASSERT_TRUE(startUpload(host, release)) << host.context;
            }
            host.dispatch("clearLogs");
            host.context = "firmware status " + dumpJson(changed).substr(0, 300);
            host.deviceSends(bytesOf(changed));
            host.callback("writeComplete");
            host.settleWrites();
        });
    }
    EXPECT_TRUE(host.dispatch("state").ok);
}

} // namespace
} // namespace tavrik::test
