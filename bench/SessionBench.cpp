#include "TavrikCore/Link/BleDataChannel.hpp"
#include "TavrikCore/Link/BleDataFrame.hpp"
#include "TavrikCore/Session/CompanionSession.hpp"
#include "TavrikCore/Support/Json.hpp"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>

namespace {

using tavrik::Data;
using tavrik::Json;

// Current-schema device data: 200 routines of 50 steps in two groups, 24 tags, one schedule per routine.
// Instructions are few and short so that the whole document fits the data channel's 1 MiB message limit.
std::string largeSyncData()
{
    constexpr int routineCount = 200;
    constexpr int stepsPerRoutine = 50;
    constexpr int groupsPerRoutine = 2;
    constexpr int tagCount = 24;
    Json document = {
        { "type", "sync_data" },
        { "dataVersion", 9 },
        { "firmwareVersion", "2.4.1" },
        { "hardwareTarget", "m5stick-s3" },
        { "settings", { { "muteNonAlarmSounds", 0 }, { "killSwitchUid", "04 99 99 99 99 99 99" } } },
        { "wifi", { { "supported", 1 }, { "capacity", 4 }, { "credentials", Json::array() } } },
    };
    Json tags = Json::array();
    for (int id = 1; id <= tagCount; ++id) {
        tags.push_back({ { "id", id }, { "uid", "04 10 20 30 40 50 " + std::to_string(10 + id) },
            { "name", "Tag " + std::to_string(id) } });
    }
    Json routines = Json::array();
    Json schedules = Json::array();
    for (int routineId = 1; routineId <= routineCount; ++routineId) {
        Json groups = Json::array();
        for (int group = 0; group < groupsPerRoutine; ++group) {
            groups.push_back({ { "id", 1000 + group }, { "position", group + 1 },
                { "label", "Block " + std::to_string(group) }, { "mode", "timebox" }, { "timeLimitSeconds", 600 } });
        }
        Json steps = Json::array();
        for (int step = 0; step < stepsPerRoutine; ++step) {
            const int parent = step % (groupsPerRoutine + 1);
            steps.push_back({
                { "id", step + 1 },
                { "position", step / (groupsPerRoutine + 1) },
                { "parentId", parent == 0 ? 0 : 1000 + parent - 1 },
                { "tagId", std::to_string(1 + (routineId + step) % tagCount) },
                { "seconds", 30 + step },
                { "instruction", step % 10 == 0 ? "Tidy" : "" },
                { "unstoppable", step % 7 == 0 ? 1 : 0 },
            });
        }
        Json startTagIds = Json::array();
        if (routineId <= tagCount) {
            startTagIds.push_back(routineId);
        }
        routines.push_back({ { "id", routineId }, { "label", "Routine " + std::to_string(routineId) },
            { "startTagIds", startTagIds }, { "groups", groups }, { "steps", steps } });
        schedules.push_back({ { "id", routineId }, { "routineId", routineId }, { "hour", routineId % 24 },
            { "minute", 15 }, { "days", 62 }, { "enabled", 1 } });
    }
    document["schedules"] = schedules;
    document["tags"] = tags;
    document["routines"] = routines;
    return tavrik::dumpJson(document);
}

Data actionBytes(const Json& action)
{
    return tavrik::dumpJsonData(action);
}

nlohmann::json dispatch(tavrik::CompanionSession& session, const Json& action, const Data& payload = {})
{
    const Data response = session.dispatch(actionBytes(action), payload);
    nlohmann::json document = nlohmann::json::parse(response.begin(), response.end());
    if (!document.at("ok").get<bool>()) {
        throw std::runtime_error("session refused " + action.dump() + ": " + document.at("error").get<std::string>());
    }
    return document;
}

// One plain frame per message part, as large as a frame may be.
std::vector<Data> framesOf(const std::string& message, std::uint16_t messageId)
{
    constexpr std::size_t chunkSize = 65535;
    const std::size_t count = (message.size() + chunkSize - 1) / chunkSize;
    std::vector<Data> frames;
    for (std::size_t index = 0; index < count; ++index) {
        const std::string_view chunk = std::string_view(message).substr(index * chunkSize, chunkSize);
        frames.push_back(
            tavrik::makeFrame(0, messageId, static_cast<std::uint16_t>(index), static_cast<std::uint16_t>(count),
                std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(chunk.data()), chunk.size())));
    }
    return frames;
}

// A session on a physical link that has loaded the large device data and then received 32 more messages,
// so that the state holds the device but no longer the sync data text itself.
struct LoadedSession {
    std::unique_ptr<tavrik::CompanionSession> session = std::make_unique<tavrik::CompanionSession>(false);
    std::uint64_t generation = 0;
    Data logFrame;
    nlohmann::json lastState;

    LoadedSession()
    {
        generation = dispatch(*session, { { "version", 1 }, { "action", "connect" }, { "maximumWriteLength", 244 } })
                         .at("state")
                         .at("generation")
                         .get<std::uint64_t>();
        dispatch(*session, { { "version", 1 }, { "action", "load" } });
        const Json frameAction = { { "version", 1 }, { "action", "receiveFrame" }, { "generation", generation } };
        const std::string data = largeSyncData();
        if (data.size() > tavrik::BleDataChannel::maximumMessageLength) {
            throw std::runtime_error("the device data exceeds the message limit: " + std::to_string(data.size()));
        }
        for (const Data& frame : framesOf(data, 1)) {
            dispatch(*session, frameAction, frame);
        }
        logFrame = framesOf(R"({"type":"log_line","message":"battery 80%"})", 2).front();
        for (int index = 0; index < 32; ++index) {
            lastState = dispatch(*session, frameAction, logFrame).at("state");
        }
        if (!lastState.contains("device") || lastState.at("device").at("routines").size() != 200) {
            throw std::runtime_error("the device data was not loaded");
        }
    }
};

LoadedSession& loadedSession()
{
    static LoadedSession loaded;
    return loaded;
}

// The floor: writing the same state object with nlohmann_json alone.
void BM_SessionStateSerialisationFloor(benchmark::State& state)
{
    const nlohmann::json& document = loadedSession().lastState;
    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::string text = document.dump();
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["stateBytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_SessionStateSerialisationFloor)->Unit(benchmark::kMillisecond);

void BM_SessionStateAction(benchmark::State& state)
{
    LoadedSession& loaded = loadedSession();
    const Data action = actionBytes({ { "version", 1 }, { "action", "state" } });
    for (auto _ : state) {
        const Data response = loaded.session->dispatch(action, {});
        benchmark::DoNotOptimize(response.data());
    }
}
BENCHMARK(BM_SessionStateAction)->Unit(benchmark::kMillisecond);

void BM_SessionReceiveFrameAction(benchmark::State& state)
{
    LoadedSession& loaded = loadedSession();
    const Data action
        = actionBytes({ { "version", 1 }, { "action", "receiveFrame" }, { "generation", loaded.generation } });
    for (auto _ : state) {
        const Data response = loaded.session->dispatch(action, loaded.logFrame);
        benchmark::DoNotOptimize(response.data());
    }
}
BENCHMARK(BM_SessionReceiveFrameAction)->Unit(benchmark::kMillisecond);

} // namespace
