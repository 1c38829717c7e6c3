#include "TavrikCore/Backup/BackupMigrationPipeline.hpp"
#include "TavrikCore/Support/Json.hpp"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <string>

namespace {

// A v8 backup of 200 routines with 50 steps each in five timeboxes (about 2 MB).
const std::string& largeV8Backup()
{
    static const std::string text = [] {
        constexpr int routineCount = 200;
        constexpr int stepsPerRoutine = 50;
        constexpr int groupsPerRoutine = 5;
        constexpr int tagCount = 24;
        tavrik::Json document = {
            { "type", "sync_data" },
            { "dataVersion", 8 },
            { "firmwareVersion", "2.4.1" },
            { "hardwareTarget", "m5stick-s3" },
            { "settings", { { "muteNonAlarmSounds", 0 }, { "killSwitchUid", "04 99 99 99 99 99 99" } } },
        };
        tavrik::Json tags = tavrik::Json::array();
        for (int id = 1; id <= tagCount; ++id) {
            tags.push_back({ { "id", id }, { "uid", "04 10 20 30 40 50 " + std::to_string(10 + id) },
                { "name", "Tag " + std::to_string(id) } });
        }
        tavrik::Json routines = tavrik::Json::array();
        tavrik::Json schedules = tavrik::Json::array();
        for (int routineId = 1; routineId <= routineCount; ++routineId) {
            tavrik::Json timeboxes = tavrik::Json::array();
            for (int group = 0; group < groupsPerRoutine; ++group) {
                timeboxes.push_back({ { "id", 1000 + group }, { "position", group + 1 },
                    { "label", "Block " + std::to_string(group) }, { "timeLimitSeconds", 600 } });
            }
            tavrik::Json steps = tavrik::Json::array();
            for (int step = 0; step < stepsPerRoutine; ++step) {
                const int parent = step % (groupsPerRoutine + 1);
                steps.push_back({
                    { "id", step + 1 },
                    { "position", step / (groupsPerRoutine + 1) },
                    { "parentId", parent == 0 ? 0 : 1000 + parent - 1 },
                    { "tagId", std::to_string(1 + (routineId + step) % tagCount) },
                    { "seconds", 30 + step },
                    { "instruction",
                        "Step " + std::to_string(step) + " of routine " + std::to_string(routineId)
                            + ": put the things back where they belong, then scan the tag to go on" },
                    { "unstoppable", step % 7 == 0 ? 1 : 0 },
                });
            }
            tavrik::Json startTagIds = tavrik::Json::array();
            if (routineId <= tagCount) {
                startTagIds.push_back(routineId);
            }
            routines.push_back({ { "id", routineId }, { "label", "Routine " + std::to_string(routineId) },
                { "startTagIds", startTagIds }, { "timeboxes", timeboxes }, { "steps", steps } });
            schedules.push_back({ { "id", routineId }, { "routineId", routineId }, { "hour", routineId % 24 },
                { "minute", 15 }, { "days", 62 }, { "enabled", 1 } });
        }
        document["schedules"] = schedules;
        document["tags"] = tags;
        document["routines"] = routines;
        return tavrik::dumpJson(document);
    }();
    return text;
}

// The floor: what nlohmann_json alone takes to read and write the same bytes.
void BM_BackupJsonFloor(benchmark::State& state)
{
    const std::string& text = largeV8Backup();
    for (auto _ : state) {
        const nlohmann::json document = nlohmann::json::parse(text);
        benchmark::DoNotOptimize(document.dump());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_BackupJsonFloor)->Unit(benchmark::kMillisecond);

// Migration from v8, document check, typed decoding and envelope validation. The budget is four
// times the floor; "floorRatio" reports the measured multiple within the same run.
void BM_BackupMigrateV8(benchmark::State& state)
{
    const std::string& text = largeV8Backup();
    for (auto _ : state) {
        benchmark::DoNotOptimize(tavrik::BackupMigrationPipeline::migrate(text));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));

    using Clock = std::chrono::steady_clock;
    constexpr int rounds = 5;
    Clock::duration floor {};
    Clock::duration migration {};
    for (int round = 0; round < rounds; ++round) {
        const auto start = Clock::now();
        benchmark::DoNotOptimize(nlohmann::json::parse(text).dump());
        const auto middle = Clock::now();
        benchmark::DoNotOptimize(tavrik::BackupMigrationPipeline::migrate(text));
        const auto end = Clock::now();
        floor += middle - start;
        migration += end - middle;
    }
    state.counters["floorRatio"] = std::chrono::duration<double>(migration) / std::chrono::duration<double>(floor);
    state.counters["documentBytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_BackupMigrateV8)->Unit(benchmark::kMillisecond);

// Current sync data whose root also holds `keyCount` keys the schema does not know, in an order that
// is neither sorted nor reversed (about 1 MiB for 100,000 keys).
std::string manyKeysBackup(int keyCount)
{
    std::string text = R"({"type":"sync_data","dataVersion":9,"tags":[],"routines":[],"schedules":[])";
    text.reserve(static_cast<std::size_t>(keyCount) * 12 + text.size() + 1);
    const int width = static_cast<int>(std::to_string(keyCount - 1).size());
    for (int index = 0; index < keyCount; ++index) {
        // 40503 shares no factor with 10^k * 8^m, so the keys are a permutation of 0..keyCount-1.
        const auto number = std::to_string(static_cast<std::int64_t>(index) * 40503 % keyCount);
        text += ",\"k" + std::string(static_cast<std::size_t>(width) - number.size(), '0') + number + "\":0";
    }
    text += "}";
    return text;
}

// One object of many keys: the parse must grow like n log n at worst. Budget: four times the floor
// (nlohmann_json's sorted map reading and writing the same bytes), and eight times the keys at most
// fourteen times the time.
void BM_BackupMigrateManyKeys(benchmark::State& state)
{
    const std::string text = manyKeysBackup(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(tavrik::BackupMigrationPipeline::migrate(text));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));

    using Clock = std::chrono::steady_clock;
    constexpr int rounds = 3;
    Clock::duration floor {};
    Clock::duration migration {};
    for (int round = 0; round < rounds; ++round) {
        const auto start = Clock::now();
        benchmark::DoNotOptimize(nlohmann::json::parse(text).dump());
        const auto middle = Clock::now();
        benchmark::DoNotOptimize(tavrik::BackupMigrationPipeline::migrate(text));
        const auto end = Clock::now();
        floor += middle - start;
        migration += end - middle;
    }
    state.counters["floorRatio"] = std::chrono::duration<double>(migration) / std::chrono::duration<double>(floor);
    state.counters["floorMs"] = std::chrono::duration<double, std::milli>(floor).count() / rounds;
    state.counters["documentBytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_BackupMigrateManyKeys)->Arg(100'000)->Arg(800'000)->Unit(benchmark::kMillisecond);

} // namespace
