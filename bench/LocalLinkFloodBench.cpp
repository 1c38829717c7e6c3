#include "TavrikCore/Support/Base64.hpp"
#include "TavrikCore/Support/Clock.hpp"
#include "TavrikCore/Support/Json.hpp"
#include "TavrikCore/Support/RandomSource.hpp"
#include "TavrikLink/Controller/TavrikBleCentral.hpp"
#include "TavrikLink/Support/KeyValueStore.hpp"
#include "bench/BenchApplication.hpp"
#include "bench/TurnScheduler.hpp"

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

// A simulator that queued 10,000 sync messages on the local link before the application read them.
// The window stays responsive only if no turn of its event loop is held long: this reports the
// longest turn the link's handling takes (the benchmark's time) against the goal of 20 ms, with the
// mean turn, the number of turns and the whole drain.
namespace {

using namespace tavrik;
using Milliseconds = std::chrono::duration<double, std::milli>;
using bench::TurnScheduler;

constexpr int floodMessages = 10000;
constexpr double turnGoalMs = 20.0;

// No adapter: the local link is the only way to the device.
class NoBluetooth final : public BleCentral {
public:
    void setDelegate(BleCentralDelegate*) override { }
    BleManagerState state() const override { return BleManagerState::poweredOff; }
    void scanForPeripherals(const std::vector<Uuid>&) override { }
    void stopScan() override { }
    bool isScanning() const override { return false; }
    void connect(const std::shared_ptr<BlePeripheral>&) override { }
    void cancelPeripheralConnection(const std::shared_ptr<BlePeripheral>&) override { }
};

// A small device's whole data, as the simulator sends it in answer to a load.
Json syncData(int serial)
{
    Json tags = Json::array();
    for (int id = 1; id <= 6; ++id) {
        tags.push_back({ { "id", id }, { "uid", "04 10 20 30 40 5" + std::to_string(id) },
            { "name", "Tag " + std::to_string(id) } });
    }
    Json routines = Json::array();
    for (int id = 1; id <= 3; ++id) {
        routines.push_back({ { "id", id }, { "label", "Routine " + std::to_string(id) },
            { "steps",
                Json::array({ { { "id", 1 }, { "position", 0 }, { "tagId", "1" }, { "seconds", 30 + serial % 60 } },
                    { { "id", 2 }, { "position", 1 }, { "tagId", "2" }, { "seconds", 45 } } }) } });
    }
    return { { "type", "sync_data" }, { "dataVersion", 9 }, { "firmwareVersion", "2.4.1" },
        { "hardwareTarget", "m5stick-c" }, { "settings", { { "muteNonAlarmSounds", 0 } } },
        { "schedules",
            Json::array({ { { "id", 1 }, { "routineId", 1 }, { "hour", 7 }, { "minute", 30 }, { "days", 62 },
                { "enabled", 1 } } }) },
        { "tags", tags }, { "routines", routines } };
}

// A controller linked to a simulator folder whose incoming file holds the flood.
struct FloodedLink {
    QTemporaryDir folder;
    TurnScheduler scheduler;
    NoBluetooth central;
    SystemRandomSource random;
    InMemoryKeyValueStore defaults;
    std::filesystem::path directory = folder.path().toStdString();
    std::unique_ptr<TavrikBleCentral> controller;

    // `messages` lines, the nth carrying `message(n)`.
    explicit FloodedLink(int messages = floodMessages, const std::function<Json(int)>& message = syncData)
    {
        const double now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
        std::ofstream(directory / "advertising.json")
            << dumpJson(Json { { "enabled", true }, { "session", "bench" }, { "updatedAt", now } });
        std::ofstream(directory / "to-link.jsonl");
        std::ofstream(directory / "to-device.jsonl");
        controller = std::make_unique<TavrikBleCentral>(
            TavrikBleCentral::Environment { central, scheduler, systemClock(), random, defaults, directory, false, {} });
        controller->beginSession(SyncMode::load);
        if (!controller->virtualTavrikConnected()) {
            throw std::runtime_error("the simulator link did not come up");
        }
        std::ofstream flood(directory / "to-link.jsonl", std::ios::binary);
        for (int serial = 0; serial < messages; ++serial) {
            flood << dumpJson(Json { { "session", "bench" }, { "client", controller->localLink().client() },
                { "payload", base64Encoded(dumpJsonData(message(serial))) } })
                  << '\n';
        }
    }
};

void BM_LocalLinkFloodTurns(benchmark::State& state)
{
    // The controller's services are Qt objects; they want an application object to exist.
    bench::ensureBenchApplication();
    double longest = 0;
    double total = 0;
    std::size_t turns = 0;
    std::size_t delivered = 0;
    for (auto _ : state) {
        FloodedLink link;
        const int firstId = link.controller->localLink().nextMessageId();
        double longestHere = 0;
        // The poll's own turn reads the file; the turns after it deliver the rest.
        bool ran = true;
        for (bool first = true; ran; first = false) {
            const auto began = std::chrono::steady_clock::now();
            if (first) {
                link.controller->localLink().pollInbound();
            } else {
                ran = link.scheduler.runTurn();
            }
            const double turnMs = Milliseconds(std::chrono::steady_clock::now() - began).count();
            if (ran) {
                longestHere = std::max(longestHere, turnMs);
                total += turnMs;
                ++turns;
            }
        }
        // Message ids run from 50000 to 65535 and round again.
        delivered = static_cast<std::size_t>((link.controller->localLink().nextMessageId() - firstId + 15536) % 15536);
        longest = std::max(longest, longestHere);
        state.SetIterationTime(longestHere / 1000.0);
    }
    if (delivered != floodMessages) {
        state.SkipWithError("not every message was delivered");
    }
    state.counters["messages"] = static_cast<double>(delivered);
    state.counters["turns"] = static_cast<double>(turns) / static_cast<double>(state.iterations());
    state.counters["longest_turn_ms"] = longest;
    state.counters["mean_turn_ms"] = total / static_cast<double>(turns);
    state.counters["drain_ms"] = total / static_cast<double>(state.iterations());
    state.counters["goal_ms"] = turnGoalMs;
    state.counters["within_goal"] = longest <= turnGoalMs ? 1 : 0;
}

// A device of 800 routines of 20 steps answers a load over the local link: the longest turn from
// the poll that reads its line to the install, against one frame of 16 ms.
void BM_LocalLinkLoadOf800RoutinesTurns(benchmark::State& state)
{
    // The controller's services are Qt objects; they want an application object to exist.
    bench::ensureBenchApplication();
    constexpr double frameMs = 16.0;
    const auto largeData = [](int) {
        Json routines = Json::array();
        for (int id = 1; id <= 800; ++id) {
            Json steps = Json::array();
            for (int step = 0; step < 20; ++step) {
                steps.push_back({ { "id", step + 1 }, { "position", step }, { "tagId", std::to_string(step % 6 + 1) },
                    { "seconds", 60 }, { "instruction", "Step " + std::to_string(step) } });
            }
            routines.push_back({ { "id", id }, { "label", "Routine " + std::to_string(id) }, { "steps", steps },
                { "groups", Json::array() }, { "startTagIds", Json::array() } });
        }
        Json data = syncData(0);
        data["routines"] = std::move(routines);
        return data;
    };
    double longest = 0;
    for (auto _ : state) {
        FloodedLink link(1, largeData);
        double longestHere = 0;
        bool ran = true;
        for (bool first = true; ran; first = false) {
            const auto began = std::chrono::steady_clock::now();
            if (first) {
                link.controller->localLink().pollInbound();
            } else {
                ran = link.scheduler.runTurn();
            }
            longestHere = std::max(longestHere, Milliseconds(std::chrono::steady_clock::now() - began).count());
            if (link.controller->routineSummaries().size() == 800) {
                break;
            }
        }
        if (link.controller->routineSummaries().size() != 800) {
            state.SkipWithError("the routines did not load");
            return;
        }
        longest = std::max(longest, longestHere);
        state.SetIterationTime(longestHere / 1000.0);
    }
    state.counters["longest_turn_ms"] = longest;
    state.counters["ratio_to_frame"] = longest / frameMs;
    std::printf("load of 800 routines over the local link: longest turn %.1f ms, %.2f times a 16 ms frame\n", longest,
        longest / frameMs);
}

} // namespace

BENCHMARK(BM_LocalLinkLoadOf800RoutinesTurns)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LocalLinkFloodTurns)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
