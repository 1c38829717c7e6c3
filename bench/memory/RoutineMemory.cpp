// Heap per loaded routine: a device of 800 routines of 20 steps each, attached over the local link,
// sends its "sync_data" message into the whole window; the user opens the first routine and types ten
// keys in its title, each delivered to the device. The most heap this took (and what it leaves in
// use) is divided by the routines and set against each routine's JSON. The verdict is on the most it
// took.
//
//   routine_memory
//
// Every allocation of the program is counted through a replaced operator new and delete.
#include "TavrikCore/Model/SyncPayloads.hpp"
#include "TavrikCore/Support/Json.hpp"
#include "TavrikLink/Controller/TavrikBleCentral.hpp"
#include "TavrikLink/Support/KeyValueStore.hpp"
#include "TavrikLink/Ui/ContentView.hpp"
#include "TavrikLink/Ui/TavrikLinkApplication.hpp"
#include "TavrikLink/Ui/TavrikLinkMainWindow.hpp"
#include "TavrikLink/Views/ContentViewPresenter.hpp"
#include "bench/AttachedWorld.hpp"

#include <QApplication>
#include <QLineEdit>
#include <QTest>

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
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
constexpr int keyPresses = 10;
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

    SyncDataEnvelope data = bench::largeDeviceData(routineCount);
    Json message = toJson(data);
    message["type"] = "sync_data";
    double jsonPerRoutine = 0;
    for (const RoutinePayload& routine : data.routines) {
        jsonPerRoutine += static_cast<double>(dumpJson(toJson(routine)).size());
    }
    jsonPerRoutine /= routineCount;

    bench::AttachedController attached;
    const auto window = attached.showWindow();
    try {
        attached.connect();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 2;
    }
    const std::string line = attached.linkLine(dumpJsonData(message));
    data = {};
    message = Json();

    // The line waits in the link's file: everything from reading it on is the load's own.
    const long long before = inUse.load();
    peak = before;
    try {
        attached.load(line, routineCount);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 2;
    }
    window->contentView()->presenter().selectRoutine(1);
    QCoreApplication::processEvents();
    auto* title = window->mainWindow().findChild<QLineEdit*>(QStringLiteral("routineTitleField"));
    if (!title) {
        std::fprintf(stderr, "the routine did not open\n");
        return 2;
    }
    title->setFocus();
    title->end(false);
    const auto delivered = std::filesystem::file_size(attached.directory / "to-device.jsonl");
    for (int key = 0; key < keyPresses; ++key) {
        QTest::keyClick(title, Qt::Key_X);
        QCoreApplication::processEvents();
    }
    if (std::filesystem::file_size(attached.directory / "to-device.jsonl") == delivered) {
        std::fprintf(stderr, "the key presses did not reach the device\n");
        return 2;
    }
    const double heldPerRoutine = static_cast<double>(inUse.load() - before) / routineCount;
    const double peakPerRoutine = static_cast<double>(peak.load() - before) / routineCount;
    const double ratio = peakPerRoutine / jsonPerRoutine;
    std::printf("memory per routine of %d steps at %d routines after a load over the local link and %d key presses "
                "in a title: %.0f bytes at the peak, %.0f held after, its JSON %.0f bytes; peak ratio %.2f (budget "
                "%.1f), held ratio %.2f\n",
        stepCount, routineCount, keyPresses, peakPerRoutine, heldPerRoutine, jsonPerRoutine, ratio, budget,
        heldPerRoutine / jsonPerRoutine);
    return ratio <= budget ? 0 : 1;
}
