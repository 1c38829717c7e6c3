// Heap per loaded routine: a device of 800 routines of 20 steps each arrives as one "sync_data"
// message into the whole window; the most heap the load took (and what it leaves in use) is divided
// by the routines and set against each routine's JSON. The verdict is on the most it took.
//
//   routine_memory
//
// Every allocation of the program is counted through a replaced operator new and delete.
#include "TavrikCore/Model/SyncPayloads.hpp"
#include "TavrikCore/Support/Json.hpp"
#include "TavrikLink/Controller/TavrikBleCentral.hpp"
#include "TavrikLink/Support/KeyValueStore.hpp"
#include "TavrikLink/Ui/TavrikLinkApplication.hpp"
#include "bench/OfflineWorld.hpp"
#include "tests/controller/ControllerProbe.hpp"
#include "tests/support/ManualClock.hpp"
#include "tests/support/ManualScheduler.hpp"
#include "tests/support/SequenceRandomSource.hpp"
#include "tests/support/qt/FakeBleCentral.hpp"

#include <QApplication>

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <utility>

namespace {

std::atomic<long long> inUse { 0 };
std::atomic<long long> peak { 0 };

void* allocate(std::size_t size)
{
    void* block = std::malloc(size == 0 ? 1 : size);
    if (!block) {
        throw std::bad_alloc();
    }
    const long long now = inUse += static_cast<long long>(malloc_usable_size(block));
    long long seen = peak.load();
    while (now > seen && !peak.compare_exchange_weak(seen, now)) { }
    return block;
}

void release(void* block) noexcept
{
    if (block) {
        inUse -= static_cast<long long>(malloc_usable_size(block));
        std::free(block);
    }
}

constexpr int routineCount = 800;
constexpr int stepCount = 20;
constexpr double budget = 4.0;

} // namespace

void* operator new(std::size_t size)
{
    return allocate(size);
}
void* operator new[](std::size_t size)
{
    return allocate(size);
}
void operator delete(void* block) noexcept
{
    release(block);
}
void operator delete[](void* block) noexcept
{
    release(block);
}
void operator delete(void* block, std::size_t) noexcept
{
    release(block);
}
void operator delete[](void* block, std::size_t) noexcept
{
    release(block);
}

int main(int argc, char** argv)
{
    using namespace tavrik;
    using namespace tavrik::test;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);

    SyncDataEnvelope data;
    data.dataVersion = 9;
    for (std::uint32_t id = 1; id <= 8; ++id) {
        data.tags.push_back({ id, "04 A" + std::to_string(id), "Tag " + std::to_string(id) });
    }
    for (int index = 1; index <= routineCount; ++index) {
        RoutinePayload routine { static_cast<std::uint32_t>(index), "Routine " + std::to_string(index), {}, {}, {} };
        for (int step = 0; step < stepCount; ++step) {
            routine.steps.push_back({ static_cast<std::uint32_t>(step + 1), step, 0, std::to_string(step % 8 + 1), 60,
                "Step " + std::to_string(step), 0 });
        }
        data.routines.push_back(std::move(routine));
    }
    Json message = toJson(data);
    message["type"] = "sync_data";
    const Data payload = dumpJsonData(message);
    double jsonPerRoutine = 0;
    for (const RoutinePayload& routine : data.routines) {
        jsonPerRoutine += static_cast<double>(dumpJson(toJson(routine)).size());
    }
    jsonPerRoutine /= routineCount;
    data = {};
    message = Json();

    ManualScheduler scheduler;
    bench::OfflineController offline { scheduler };
    TavrikBleCentral& controller = offline.controller;
    const auto window = bench::showWindow(scheduler, offline);

    // The link hands its message over and the load frees it once read: the figures count it as the
    // load's own, from before it was handed over.
    Data handedOver = payload;
    const auto messageBytes = static_cast<long long>(malloc_usable_size(handedOver.data()));
    const long long before = inUse.load();
    peak = before;
    ControllerProbe(controller).handleDataEnvelope(0, std::move(handedOver));
    for (int turn = 0; turn < 50; ++turn) {
        scheduler.advance(std::chrono::milliseconds(1));
        QCoreApplication::processEvents();
    }
    if (controller.routineSummaries().size() != static_cast<std::size_t>(routineCount)) {
        std::fprintf(stderr, "the routines did not load\n");
        return 2;
    }
    const double heldPerRoutine = static_cast<double>(inUse.load() - (before - messageBytes)) / routineCount;
    const double peakPerRoutine = static_cast<double>(peak.load() - (before - messageBytes)) / routineCount;
    const double ratio = peakPerRoutine / jsonPerRoutine;
    std::printf("memory per loaded routine of %d steps at %d routines: %.0f bytes at the peak, %.0f held after, its "
                "JSON %.0f bytes; peak ratio %.1f (budget %.1f), held ratio %.1f\n",
        stepCount, routineCount, peakPerRoutine, heldPerRoutine, jsonPerRoutine, ratio, budget,
        heldPerRoutine / jsonPerRoutine);
    return ratio <= budget ? 0 : 1;
}
